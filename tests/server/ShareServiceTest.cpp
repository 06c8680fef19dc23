#include "server/CaptchaPicture.h"
#include "server/StandInServer.h"
#include "tests/server/ServerProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

const char kShares[] = R"({
  "plain": {"file": "download/games/1.zip", "captcha": "none", "state": "ok", "hops": 2},
  "once": {"file": "download/games/1.zip", "captcha": "once", "state": "ok", "hops": 1},
  "strict": {"file": "download/games/1.zip", "captcha": "untilright", "state": "ok", "hops": 1},
  "gone": {"file": "download/games/1.zip", "state": "expired"},
  "removed": {"file": "download/games/1.zip", "state": "removed"}
})";

// One share served in-process with a request log, driven step by step as the mobile page would.
class ShareServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_data.Path() + "download/games");
        ASSERT_TRUE(WriteFile(m_data.Path() + "download/games/1.zip", "zip bytes"));
        ASSERT_TRUE(WriteFile(m_data.Path() + "shares.json", kShares));
        StandInServerOptions options;
        options.dataDir = m_data.Path();
        options.logPath = m_data.Path() + "log.jsonl";
        m_server = std::make_unique<CStandInServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
        m_client = std::make_unique<httplib::Client>("127.0.0.1", m_server->Port());
    }

    // Loads the page of `key` and builds its endpoint query; the page cookie goes to m_cookie.
    std::string EndpointQuery(const std::string& key, const std::string& r = "0.1234567801234567")
    {
        auto page = m_client->Get("/share/link/" + key);
        if (!page || page->status != 200)
            return {};
        m_cookie = CookieOf(page->get_header_value("Set-Cookie"));
        return ShareEndpointQuery(page->body, r);
    }

    Json::Value Ask(const std::string& query, const std::string& key, const std::string& cookie)
    {
        auto result = m_client->Get(
            query, {{"Referer", m_server->Origin() + "/share/link/" + key}, {"Cookie", cookie}});
        return result && result->status == 200 ? ParseJson(result->body) : Json::Value();
    }

    testsupport::TempDir m_data;
    std::unique_ptr<CStandInServer> m_server;
    std::unique_ptr<httplib::Client> m_client;
    std::string m_cookie;
};

TEST_F(ShareServiceTest, APlainShareResolvesThroughTheStorageCookieAndTwoHops)
{
    const std::string query = EndpointQuery("plain");
    ASSERT_FALSE(query.empty());
    EXPECT_NE(query.find("&fid_list=%5B"), std::string::npos);
    Json::Value answer = Ask(query, "plain", m_cookie + ";");
    ASSERT_EQ(answer["errno"].asInt(), 0) << answer.toStyledString();
    const std::string dlink = answer["dlink"].asString();
    ASSERT_EQ(dlink.compare(0, m_server->Origin().size(), m_server->Origin()), 0) << dlink;
    const std::string dlinkPath = dlink.substr(m_server->Origin().size());

    auto refused = m_client->Head(dlinkPath);
    ASSERT_TRUE(refused) << httplib::to_string(refused.error());
    EXPECT_EQ(refused->status, 403) << "no storage cookie yet";

    auto planted = m_client->Get("/rest/2.0/pcs/file?method=plantcookie&type=ett");
    ASSERT_TRUE(planted);
    const std::string storage = CookieOf(planted->get_header_value("Set-Cookie"));
    ASSERT_EQ(storage.compare(0, std::string(kShareStorageCookie).size(), kShareStorageCookie), 0);

    httplib::Headers withCookie = {{"Cookie", storage + ";"}};
    auto first = m_client->Head(dlinkPath, withCookie);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 302);
    auto second =
        m_client->Head(first->get_header_value("Location").substr(m_server->Origin().size()), withCookie);
    ASSERT_TRUE(second);
    ASSERT_EQ(second->status, 302);
    EXPECT_EQ(second->get_header_value("Location"), m_server->Origin() + "/download/games/1.zip");
    auto file = m_client->Get("/download/games/1.zip");
    ASSERT_TRUE(file);
    EXPECT_EQ(file->body, "zip bytes");
}

TEST_F(ShareServiceTest, TheEndpointRefusesWhatThePageWouldNotSend)
{
    const std::string query = EndpointQuery("plain");
    ASSERT_FALSE(query.empty());
    const std::string cookie = m_cookie + ";";
    // A random part with a 9, or too short; no referer; no page cookie; a changed signature.
    EXPECT_EQ(Ask(EndpointQuery("plain", "0.1234567891234567"), "plain", m_cookie)["errno"].asInt(), 2);
    EXPECT_EQ(Ask(EndpointQuery("plain", "0.123"), "plain", m_cookie)["errno"].asInt(), 2);
    EXPECT_EQ(Ask(query, "other", cookie)["errno"].asInt(), 2);
    EXPECT_EQ(Ask(query, "plain", "")["errno"].asInt(), 2);
    std::string badSign = query;
    badSign.replace(badSign.find("&sign=") + 6, 1, "z");
    EXPECT_EQ(Ask(badSign, "plain", cookie)["errno"].asInt(), 2);
    EXPECT_EQ(Ask(query, "plain", cookie)["errno"].asInt(), 0);
}

TEST_F(ShareServiceTest, PictureCodesAreDemandedDrawnLoggedAndCheckedByKind)
{
    const std::string query = EndpointQuery("strict");
    const std::string cookie = m_cookie + ";";
    Json::Value demand = Ask(query, "strict", cookie);
    ASSERT_EQ(demand["errno"].asInt(), -19) << demand.toStyledString();
    const std::string vcode = demand["vcode"].asString();
    const std::string code = m_server->CaptchaCode(vcode);
    ASSERT_EQ(code.size(), 4u);
    auto hook = m_client->Get("/__share/captcha?vcode=" + vcode);
    ASSERT_TRUE(hook);
    EXPECT_EQ(hook->body, code);

    ASSERT_EQ(demand["img"].asString().compare(0, m_server->Origin().size(), m_server->Origin()), 0);
    auto picture = m_client->Get(demand["img"].asString().substr(m_server->Origin().size()));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->get_header_value("Content-Type"), "image/jpeg");
    ASSERT_GT(picture->body.size(), 100u);
    EXPECT_EQ(picture->body.substr(0, 2), "\xFF\xD8");

    // A wrong answer gets a new picture; the drawn code passes.
    Json::Value again =
        Ask(query + "&input=" + (code == "AAAA" ? "CCCC" : "AAAA") + "&vcode=" + vcode, "strict", cookie);
    ASSERT_EQ(again["errno"].asInt(), -19);
    const std::string vcode2 = again["vcode"].asString();
    EXPECT_NE(vcode2, vcode);
    Json::Value right =
        Ask(query + "&input=" + m_server->CaptchaCode(vcode2) + "&vcode=" + vcode2, "strict", cookie);
    EXPECT_EQ(right["errno"].asInt(), 0);

    // "once" takes any four characters for an issued code, but not a made-up code.
    const std::string onceQuery = EndpointQuery("once");
    const std::string onceCookie = m_cookie + ";";
    Json::Value onceDemand = Ask(onceQuery, "once", onceCookie);
    ASSERT_EQ(onceDemand["errno"].asInt(), -19);
    EXPECT_EQ(Ask(onceQuery + "&input=WXYZ&vcode=madeup", "once", onceCookie)["errno"].asInt(), -19);
    EXPECT_EQ(
        Ask(onceQuery + "&input=WXYZ&vcode=" + onceDemand["vcode"].asString(), "once", onceCookie)["errno"]
            .asInt(),
        0);

    const std::string log = ReadFile(m_data.Path() + "log.jsonl");
    EXPECT_NE(log.find("\"code\":\"" + code + "\""), std::string::npos) << "codes go to the log";
    EXPECT_EQ(log.find("/__share/"), std::string::npos) << "the hook is not logged";
}

TEST_F(ShareServiceTest, ExpiredAndRemovedSharesAndTheBodyFault)
{
    auto expired = m_client->Get("/share/link/gone");
    ASSERT_TRUE(expired);
    EXPECT_EQ(expired->status, 200);
    EXPECT_EQ(expired->body.find("FileUtils."), std::string::npos);
    EXPECT_EQ(expired->body.find("fs_id"), std::string::npos);
    auto removed = m_client->Get("/share/link/removed");
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->status, 404);

    std::string error;
    ASSERT_TRUE(m_server->SetFaults(R"([{"path": "/share/download", "body": "", "times": 1},
                                       {"path": "/share/link/plain", "body": "<html>broken", "status": 500}])",
                                    error))
        << error;
    auto empty = m_client->Get("/share/download");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 200);
    EXPECT_EQ(empty->body, "");
    auto broken = m_client->Get("/share/link/plain");
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->status, 500);
    EXPECT_EQ(broken->body, "<html>broken");
    EXPECT_FALSE(m_server->SetFaults(R"({"path": "/x", "body": 5})", error));
}

TEST(CaptchaPictureTest, DrawsAJpegForEveryCode)
{
    for (const char* code : {"2345", "ACEF", "HKMN", "PRTX", "Y78Y", ""}) {
        std::string jpeg = DrawCaptchaJpeg(code);
        ASSERT_GT(jpeg.size(), 100u) << code;
        EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8") << code;
    }
}

TEST(ShareDataTest, AServerWithBadSharesDoesNotStart)
{
    testsupport::TempDir data;
    ASSERT_TRUE(WriteFile(data.Path() + "shares.json", "{\"k\": {\"captcha\": \"none\"}}"));
    StandInServerOptions options;
    options.dataDir = data.Path();
    CStandInServer server(options);
    std::string error;
    EXPECT_FALSE(server.Start(error));
    EXPECT_NE(error.find("shares.json"), std::string::npos) << error;
}

} // namespace
