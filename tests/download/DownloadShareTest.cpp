// Games whose source is a share link: the engine resolves the links through the share service of a
// second stand-in server (picture code typed by a prompt that reads the drawn code), downloads the
// direct links and falls back to the own server when no share link resolves.

#include "account/SecurityCodePrompt.h"
#include "foundation/ServerEndpoints.h"
#include "tests/download/EngineFixture.h"
#include "tests/download/ShareResolverServer.h"

#include <filesystem>
#include <iostream>
#include <sstream>

using namespace enginetest;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

class DownloadShareTest : public EngineTest {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_shareDir.Path() + "data/download");
        ASSERT_TRUE(WriteFile(m_shareDir.Path() + "data/shares.json", R"({
            "single": {"file": "download/share/60001.zip", "captcha": "once", "state": "ok", "hops": 2},
            "vol1": {"file": "download/share/60002.z01", "captcha": "none", "state": "ok", "hops": 1},
            "vol2": {"file": "download/share/60002.z02", "captcha": "untilright", "state": "ok", "hops": 1},
            "gone": {"file": "download/share/none.zip", "captcha": "none", "state": "removed", "hops": 0}
        })"));
        StandInServerOptions options;
        options.dataDir = m_shareDir.Path() + "data/";
        options.logPath = m_shareDir.Path() + "share.log";
        m_shares = std::make_unique<CStandInServer>(options);
        std::string error;
        ASSERT_TRUE(m_shares->Start(error)) << error;
        ServerEndpoints endpoints = GetServerEndpoints();
        endpoints.ShareBase = m_shares->Origin();
        endpoints.PcsBase = m_shares->Origin();
        SetServerEndpoints(endpoints);
        m_prompt =
            std::make_shared<testsupport::FunctionPrompt>([this](const std::string&, std::string& code) {
                code = LastCode();
                return kSecurityCodeEntered;
            });
        InstallSecurityCodePrompt(m_prompt);
        m_chooser->answer = kSourceBaiduPan;
    }

    void TearDown() override
    {
        if (HasFailure())
            std::cerr << ReadFile(m_shareDir.Path() + "share.log").substr(0, 4000);
        EngineTest::TearDown();
        InstallSecurityCodePrompt(nullptr);
        m_shares->Stop();
    }

    std::string Link(const std::string& key) const { return m_shares->Origin() + "/share/link/" + key; }
    std::string Folder(const std::string& gameId) const { return RomRoot() + "PS/" + gameId + "/"; }

    void ShareFile(const std::string& name, const std::string& bytes)
    {
        std::filesystem::create_directories(m_shareDir.Path() + "data/download/share");
        ASSERT_TRUE(WriteFile(m_shareDir.Path() + "data/download/share/" + name, bytes));
    }

    // The code of the newest picture the share service drew.
    std::string LastCode() const
    {
        std::string code;
        std::istringstream in(ReadFile(m_shareDir.Path() + "share.log"));
        std::string text;
        while (std::getline(in, text)) {
            Json::Value line;
            std::istringstream(text) >> line;
            if (line.isMember("code"))
                code = line["code"].asString();
        }
        return code;
    }

    void ExpectExact(const std::string& gameId, const Entries& entries)
    {
        for (const auto& [name, data] : entries)
            EXPECT_EQ(ReadFile(Folder(gameId) + name), data) << name;
        EXPECT_EQ(StoredGames().count(gameId), 1u);
        EXPECT_EQ(StoredDownloads().count(gameId), 0u);
    }

    testsupport::TempDir m_shareDir;
    std::unique_ptr<CStandInServer> m_shares;
    std::shared_ptr<testsupport::FunctionPrompt> m_prompt;
};

TEST_F(DownloadShareTest, ShareLinkWithCodeIsResolvedPastARemovedShare)
{
    Entries entries = {{"game.bin", RandomBytes(250 * 1024, 61)}, {"saves/a.sav", "save"}};
    ShareFile("60001.zip", MakeArchive(entries));
    Json::Value descriptor;
    descriptor["cloudurl"]["baidu"][0] = Link("gone");
    descriptor["cloudurl"]["baidu"][1] = Link("single");
    ServeDescriptor("60001", descriptor);
    MakeEngine();
    m_engine->AddTask(Game("60001"), kOwnerWindow);

    ASSERT_TRUE(WaitStatus("60001", kDisplayInstalled));
    ExpectExact("60001", entries);
    EXPECT_EQ(m_chooser->lastMask, kSourceBaiduPan);
    EXPECT_EQ(m_prompt->asked, 1);
}

TEST_F(DownloadShareTest, ShareVolumesAreResolvedOneByOne)
{
    Entries entries = {{"game.bin", RandomBytes(300 * 1024, 62)}};
    std::string archive = MakeArchive(entries);
    ShareFile("60002.z01", archive.substr(0, 100000));
    ShareFile("60002.z02", archive.substr(100000));
    Json::Value descriptor;
    descriptor["volume"] = "1";
    descriptor["cloudurl"]["baidu"][0] = Link("vol1") + "|1," + Link("vol2") + "|2";
    ServeDescriptor("60002", descriptor);
    MakeEngine();
    m_engine->AddTask(Game("60002"), kOwnerWindow);

    ASSERT_TRUE(WaitStatus("60002", kDisplayInstalled));
    ExpectExact("60002", entries);
    EXPECT_EQ(m_prompt->asked, 1) << "only the second volume's share asks for a code";
}

TEST_F(DownloadShareTest, OwnServerIsTheFallbackWhenNoShareResolves)
{
    Entries entries = {{"game.bin", RandomBytes(200 * 1024, 63)}};
    ServeFile("games/60003.zip", MakeArchive(entries));
    Json::Value descriptor;
    descriptor["cloudurl"]["baidu"][0] = Link("gone");
    descriptor["fileurl"] = "{{origin}}/download/games/60003.zip";
    ServeDescriptor("60003", descriptor);
    MakeEngine();
    m_engine->AddTask(Game("60003"), kOwnerWindow);

    ASSERT_TRUE(WaitStatus("60003", kDisplayInstalled));
    ExpectExact("60003", entries);
    EXPECT_EQ(m_prompt->asked, 0);
}

} // namespace
