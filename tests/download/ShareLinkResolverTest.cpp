#include "download/ShareLinkResolver.h"
#include "foundation/FileSystem.h"
#include "foundation/NetGlobal.h"
#include "foundation/StringConv.h"
#include "tests/download/GbkLocale.h"
#include "tests/download/ShareResolverServer.h"

#include <cstdio>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using testsupport::FunctionPrompt;
using testsupport::ReadFile;
using testsupport::ShareResolverServer;

namespace {

const char kShares[] = R"({
  "plain": {"file": "download/games/1.zip", "captcha": "none", "state": "ok", "hops": 2},
  "once": {"file": "download/games/1.zip", "captcha": "once", "state": "ok", "hops": 1},
  "strict": {"file": "download/games/1.zip", "captcha": "untilright", "state": "ok", "hops": 1},
  "gone": {"file": "download/games/1.zip", "state": "expired"},
  "removed": {"file": "download/games/1.zip", "state": "removed"}
})";

class ShareLinkResolverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }
    void TearDown() override { InstallSecurityCodePrompt(nullptr); }

    // Resolves `key` with a fresh resolver for game "20001".
    bool Resolve(const std::string& key, std::string& link, const TransferCancel* cancel = nullptr)
    {
        CShareLinkResolver resolver(nullptr, m_server.PictureDir(), "20001", cancel);
        return resolver.Resolve(m_server.Link(key), link);
    }
    std::string Picture() const { return m_server.PictureDir() + "20001.jpg"; }

    // A prompt that types the drawn code, or `wrongFirst` times a wrong one first; it records the
    // pictures it was shown.
    std::shared_ptr<FunctionPrompt> CodePrompt(int wrongFirst = 0)
    {
        auto prompt =
            std::make_shared<FunctionPrompt>([this, wrongFirst](const std::string& path, std::string& code) {
                m_pictures.push_back(ReadFile(path));
                const std::string right = m_server.LastCode();
                code = static_cast<int>(m_pictures.size()) <= wrongFirst ? (right == "AAAA" ? "CCCC" : "AAAA")
                                                                         : right;
                return kSecurityCodeEntered;
            });
        InstallSecurityCodePrompt(prompt);
        return prompt;
    }

    static size_t Count(const std::string& text, const std::string& part)
    {
        size_t count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++count;
        return count;
    }

    std::vector<Json::Value> Logged(const std::string& pathPrefix) const
    {
        std::vector<Json::Value> lines;
        for (const Json::Value& line : m_server.Log())
            if (line["path"].asString().rfind(pathPrefix, 0) == 0)
                lines.push_back(line);
        return lines;
    }

    ShareResolverServer m_server{kShares};
    std::vector<std::string> m_pictures;
};

TEST_F(ShareLinkResolverTest, APlainShareEndsAtTheFileWithCookiesRefererAndTheMobileBrowser)
{
    auto prompt = CodePrompt();
    std::string link;
    ASSERT_TRUE(Resolve("plain", link));
    EXPECT_EQ(link, m_server.Server().Origin() + "/download/games/1.zip");
    EXPECT_EQ(prompt->asked, 0);

    const auto page = Logged("/share/link/"), endpoint = Logged("/share/download"),
               plant = Logged("/rest/2.0/pcs/file"), hops = Logged("/share/dlink/"),
               file = Logged("/download/");
    ASSERT_EQ(page.size(), 1u);
    ASSERT_EQ(endpoint.size(), 1u);
    ASSERT_EQ(plant.size(), 1u);
    ASSERT_EQ(hops.size(), 2u);
    ASSERT_EQ(file.size(), 1u);
    EXPECT_EQ(page[0]["referer"].asString(), "");
    EXPECT_EQ(page[0]["userAgent"].asString(), kShareUserAgent);
    EXPECT_EQ(endpoint[0]["referer"].asString(), m_server.Link("plain"));
    EXPECT_NE(endpoint[0]["cookie"].asString().find(std::string(kSharePageCookie) + "="), std::string::npos);
    const std::string query = endpoint[0]["query"].asString();
    const size_t r = query.find("&r=0.");
    ASSERT_NE(r, std::string::npos) << query;
    EXPECT_EQ(query.size(), r + 5 + 16) << query;
    // The referer may arrive with the brackets of fid_list unescaped.
    auto plain = [](std::string url) {
        for (const auto& [from, to] : {std::pair{"%5B", "["}, std::pair{"%5D", "]"}})
            for (size_t at = url.find(from); at != std::string::npos; at = url.find(from))
                url.replace(at, 3, to);
        return url;
    };
    const std::string endpointUrl = plain(m_server.Server().Origin() + "/share/download?" + query);
    EXPECT_EQ(plain(plant[0]["referer"].asString()), endpointUrl);
    EXPECT_EQ(plant[0]["query"].asString(), "method=plantcookie&type=ett");
    for (const Json::Value& hop : {hops[0], hops[1], file[0]}) {
        EXPECT_EQ(hop["method"].asString(), "HEAD");
        EXPECT_EQ(plain(hop["referer"].asString()), endpointUrl);
        EXPECT_NE(hop["cookie"].asString().find(std::string(kShareStorageCookie) + "="), std::string::npos);
        EXPECT_EQ(hop["userAgent"].asString(), kShareUserAgent);
    }
}

TEST_F(ShareLinkResolverTest, PictureCodesAreAskedForEachDemandAndThePictureIsDeleted)
{
    // The right code at once.
    auto prompt = CodePrompt();
    std::string link;
    ASSERT_TRUE(Resolve("strict", link));
    EXPECT_EQ(prompt->asked, 1);
    ASSERT_EQ(m_pictures.size(), 1u);
    EXPECT_EQ(m_pictures[0].substr(0, 2), "\xFF\xD8") << "the picture was on disk while asked";
    EXPECT_FALSE(std::filesystem::exists(Picture()));

    // Wrong codes first: a dialog with a new picture each, saying that the code was wrong. Each
    // request carries the one code typed for the newest picture.
    m_pictures.clear();
    prompt = CodePrompt(2);
    const size_t before = Logged("/share/download").size();
    ASSERT_TRUE(Resolve("strict", link));
    EXPECT_EQ(prompt->asked, 3);
    ASSERT_EQ(m_pictures.size(), 3u);
    EXPECT_NE(m_pictures[0], m_pictures[1]);
    EXPECT_FALSE(std::filesystem::exists(Picture()));
    const std::string wrong = Utf8ToOem("验证码错误");
    EXPECT_EQ(prompt->notices, (std::vector<std::string>{"", wrong, wrong}));
    const auto requests = Logged("/share/download");
    ASSERT_EQ(requests.size(), before + 4);
    for (size_t i = before; i < requests.size(); ++i) {
        const std::string query = requests[i]["query"].asString();
        const size_t codes = i == before ? 0u : 1u;
        EXPECT_EQ(Count(query, "input="), codes) << query;
        EXPECT_EQ(Count(query, "vcode="), codes) << query;
    }

    // The dialog closed: failure, nothing planted, no picture left.
    auto closed = std::make_shared<FunctionPrompt>([](const std::string&, std::string&) { return 8; });
    InstallSecurityCodePrompt(closed);
    const size_t planted = Logged("/rest/2.0/pcs/").size();
    EXPECT_FALSE(Resolve("once", link));
    EXPECT_EQ(closed->asked, 1);
    EXPECT_EQ(Logged("/rest/2.0/pcs/").size(), planted);
    EXPECT_FALSE(std::filesystem::exists(Picture()));

    // Without a prompt installed the answer is "closed".
    InstallSecurityCodePrompt(nullptr);
    EXPECT_FALSE(Resolve("once", link));
}

TEST_F(ShareLinkResolverTest, ServiceValuesAreEscapedAndEndlessDemandsEnd)
{
    // A picture name that would add keys of its own to the query goes back as one value.
    auto prompt = CodePrompt();
    const std::string origin = m_server.Server().Origin();
    ASSERT_TRUE(m_server.Faults(R"([{"path": "/share/download", "times": 1,
        "body": "{\"errno\": -19, \"img\": \")" +
                                origin + R"(/stat/p.gif\", \"vcode\": \"a&uk=1 #\"}"}])"));
    std::string link;
    ASSERT_TRUE(Resolve("once", link));
    const auto requests = Logged("/share/download");
    ASSERT_GE(requests.size(), 2u);
    const std::string query = requests[1]["query"].asString();
    EXPECT_NE(query.find("&vcode=a%26uk%3D1%20%23"), std::string::npos) << query;
    EXPECT_EQ(Count(query, "uk="), 1u) << query;

    // A service that never takes a code ends after kMaxCodeRounds pictures.
    auto never = std::make_shared<FunctionPrompt>([](const std::string&, std::string& code) {
        code = "ZZZZ";
        return kSecurityCodeEntered;
    });
    InstallSecurityCodePrompt(never);
    EXPECT_FALSE(Resolve("strict", link));
    EXPECT_EQ(never->asked, CShareLinkResolver::kMaxCodeRounds);
    EXPECT_FALSE(std::filesystem::exists(Picture()));
}

TEST_F(ShareLinkResolverTest, PictureInAChineseFolderUnderAGbkLocaleIsShownAndRemoved)
{
    testsupport::ScopedGbkLocale locale;
    if (!locale.Active())
        GTEST_SKIP() << "no GBK locale can be made here";
    const std::string folder = m_server.PictureDir() + "图片/"; // as the file system names it
    std::filesystem::create_directories(folder);
    std::string shown;
    auto prompt = std::make_shared<FunctionPrompt>([&](const std::string& path, std::string& code) {
        shown = ReadFile(NativePath(path));
        code = m_server.LastCode();
        return kSecurityCodeEntered;
    });
    InstallSecurityCodePrompt(prompt);
    CShareLinkResolver resolver(nullptr, m_server.PictureDir() + Utf8ToOem("图片") + "/", "20001");
    std::string link;
    ASSERT_TRUE(resolver.Resolve(m_server.Link("strict"), link));
    EXPECT_EQ(shown.substr(0, 2), "\xFF\xD8") << "the dialog's path names the picture written";
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_server.PictureDir()),
                            std::filesystem::directory_iterator()),
              1)
        << "nothing beside the folder";
}

TEST_F(ShareLinkResolverTest, ExpiredRemovedAndUnsafeResolutionsFailWithoutADialog)
{
    auto prompt = CodePrompt();
    std::string link = "untouched";
    EXPECT_FALSE(Resolve("gone", link));
    EXPECT_FALSE(Resolve("removed", link));
    EXPECT_FALSE(Resolve("unknown", link));
    CShareLinkResolver unsafe(nullptr, m_server.PictureDir(), "../20001");
    EXPECT_FALSE(unsafe.Resolve(m_server.Link("plain"), link));
    EXPECT_EQ(prompt->asked, 0);
    EXPECT_EQ(link, "untouched");
}

TEST_F(ShareLinkResolverTest, BrokenAnswersOnEveryStepFailWithoutHangOrCrash)
{
    CodePrompt();
    const std::string tenMiB(10u * 1024u * 1024u, 'x');
    struct Case {
        std::string name;
        std::string rules;
        std::string key;
    };
    const std::vector<Case> cases = {
        {"page 500", R"({"path": "/share/link/plain", "status": 500})", "plain"},
        {"page not UTF-8", "{\"path\": \"/share/link/plain\", \"body\": \"FileUtils.uk=\\\"\xff\xfe\\\"\"}",
         "plain"},
        {"page cut", R"({"path": "/share/link/plain", "cutAfter": 40})", "plain"},
        {"endpoint 500", R"({"path": "/share/download", "status": 500})", "plain"},
        {"endpoint empty", R"({"path": "/share/download", "body": ""})", "plain"},
        {"endpoint garbage", R"({"path": "/share/download", "body": "<html>{errno"})", "plain"},
        {"unknown errno",
         R"({"path": "/share/download", "body": "{\"errno\": 5, \"dlink\": \"http://x/\"}"})", "plain"},
        {"success without link", R"({"path": "/share/download", "body": "{\"errno\": 0, \"dlink\": \"\"}"})",
         "plain"},
        {"refused", R"({"path": "/share/download", "body": "{\"errno\": 2}"})", "plain"},
        {"plant 500", R"({"path": "/rest/2.0/pcs/file", "status": 500})", "plain"},
        {"plant cut", R"({"path": "/rest/2.0/pcs/file", "cutAfter": 3})", "plain"},
        {"link 404", R"({"path": "/share/dlink/", "prefix": true, "status": 404})", "plain"},
        {"link loop", R"({"path": "/share/dlink/", "prefix": true, "redirectLoop": true})", "plain"},
        {"picture 500", R"({"path": "/share/captcha", "status": 500})", "strict"},
        {"picture cut", R"({"path": "/share/captcha", "cutAfter": 10})", "strict"},
        {"page 10 MiB", R"({"path": "/share/link/plain", "body": ")" + tenMiB + R"("})", "plain"},
        {"answer 10 MiB", R"({"path": "/share/download", "body": ")" + tenMiB + R"("})", "plain"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(m_server.Faults(c.rules)) << c.name;
        std::string link;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(Resolve(c.key, link)) << c.name;
        std::printf("%s: refused after %.3f s\n", c.name.c_str(),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        EXPECT_FALSE(std::filesystem::exists(Picture())) << c.name;
    }
    ASSERT_TRUE(m_server.Faults(""));
    std::string link;
    EXPECT_TRUE(Resolve("plain", link)) << "the same server resolves once the faults are gone";
}

TEST_F(ShareLinkResolverTest, ASilentServerEndsAtTheTimeOutAndACancelEndsAtOnce)
{
    // The answer is held back for 60 s: the resolver's own time-out (10 s) or the cancel must end
    // the wait well before that, however loaded the machine.
    ASSERT_TRUE(m_server.Faults(R"({"path": "/share/download", "delayMs": 60000})"));
    std::string link;
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(Resolve("plain", link));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(40)) << "the delay ran out";

    TransferCancel cancel{true};
    started = std::chrono::steady_clock::now();
    EXPECT_FALSE(Resolve("plain", link, &cancel));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(40)) << "the delay ran out";
}

TEST(ShareRandomSuffixTest, HasSixteenDigitsWithoutANine)
{
    for (int i = 0; i < 200; ++i) {
        const std::string r = CShareLinkResolver::RandomSuffix();
        ASSERT_EQ(r.size(), 18u) << r;
        EXPECT_EQ(r.substr(0, 2), "0.");
        EXPECT_EQ(r.find_first_not_of("012345678", 2), std::string::npos) << r;
    }
}

} // namespace
