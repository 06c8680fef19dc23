// The demo content's share links, served by the real quokka-server: every link a descriptor names
// is a share of shares.json whose file the server has, and each kind of share answers as its entry
// says when the mobile page's steps are taken by hand.
#include "tests/server/ServerProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

Json::Value ReadJson(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return ParseJson(text.str());
}

class DemoSharesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = new ServerProcess(QUOKKA_TEST_DEMO_DIR);
        ASSERT_GT(s_server->Port(), 0) << s_server->FirstLine();
        s_shares = ReadJson(std::string(QUOKKA_TEST_DEMO_DIR) + "/shares.json");
    }
    static void TearDownTestSuite() { delete s_server; }

    // Takes the page's steps for `key` up to the download endpoint's answer.
    static Json::Value EndpointAnswer(const std::string& key)
    {
        auto client = s_server->Client();
        auto page = client->Get("/share/link/" + key);
        if (!page || page->status != 200)
            return Json::Value();
        const std::string query = ShareEndpointQuery(page->body, "0.1234567812345678");
        auto answer = client->Get(query, {{"Referer", s_server->Origin() + "/share/link/" + key},
                                          {"Cookie", CookieOf(page->get_header_value("Set-Cookie")) + ";"}});
        return answer && answer->status == 200 ? ParseJson(answer->body) : Json::Value();
    }

    static inline ServerProcess* s_server = nullptr;
    static inline Json::Value s_shares;
};

TEST_F(DemoSharesTest, EveryLinkOfEveryDescriptorIsAShareOfAServedFile)
{
    ASSERT_TRUE(s_shares.isObject());
    std::set<std::string> kinds;
    int links = 0;
    const std::string prefix = "/share/link/";
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(QUOKKA_TEST_DEMO_DIR) + "/descriptors")) {
        const Json::Value descriptor = ReadJson(entry.path().string());
        for (const Json::Value& set : descriptor["cloudurl"]["baidu"]) {
            // A set is "link" or "link|1,link|2,...".
            std::stringstream parts(set.asString());
            std::string part;
            while (std::getline(parts, part, ',')) {
                const std::string link = part.substr(0, part.find('|'));
                const size_t at = link.find(prefix);
                ASSERT_NE(at, std::string::npos) << link;
                const std::string key = link.substr(at + prefix.size());
                ASSERT_TRUE(s_shares.isMember(key)) << key;
                const Json::Value& share = s_shares[key];
                EXPECT_TRUE(std::filesystem::is_regular_file(std::string(QUOKKA_TEST_DEMO_DIR) + "/" +
                                                             share["file"].asString()))
                    << key;
                kinds.insert(share["state"].asString() + "/" + share["captcha"].asString());
                ++links;
            }
        }
    }
    EXPECT_GT(links, 0);
    for (const char* kind : {"ok/none", "ok/once", "ok/untilright", "expired/none"})
        EXPECT_TRUE(kinds.count(kind)) << kind;
}

TEST_F(DemoSharesTest, EachKindOfShareAnswersAsItsEntrySays)
{
    std::set<std::string> seen;
    for (const std::string& key : s_shares.getMemberNames()) {
        const Json::Value& share = s_shares[key];
        const std::string kind = share["state"].asString() + "/" + share["captcha"].asString();
        if (!seen.insert(kind).second)
            continue;
        auto page = s_server->Client()->Get("/share/link/" + key);
        ASSERT_TRUE(page) << key;
        if (share["state"].asString() == "removed") {
            EXPECT_EQ(page->status, 404) << key;
            continue;
        }
        ASSERT_EQ(page->status, 200) << key;
        const Json::Value answer = EndpointAnswer(key);
        if (share["state"].asString() == "expired")
            EXPECT_EQ(answer["errno"].asInt(), 2) << key;
        else if (share["captcha"].asString() == "none")
            EXPECT_EQ(answer["errno"].asInt(), 0) << key;
        else
            EXPECT_EQ(answer["errno"].asInt(), -19) << key;
    }
    EXPECT_TRUE(seen.count("removed/none"));
}

} // namespace
