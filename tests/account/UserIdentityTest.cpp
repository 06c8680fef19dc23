// The installation's identity against the stand-in server on a loopback port: registration, reuse
// of the stored pair, the failures that must save nothing, and settings files that are cut short or
// hold garbage.

#include "account/UserIdentity.h"
#include "foundation/AppSettings.h"
#include "foundation/NetGlobal.h"
#include "tests/account/IdentityServer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class UserIdentityTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }

    UserIdentity StoredUser() const
    {
        UserIdentity user;
        CAppSettings(m_server.ConfigPath()).LoadUser(user);
        return user;
    }

    testsupport::IdentityServer m_server;
};

TEST(UrlEncodeTicketTest, EncodesSpaceAsPlusAndOtherBytesAsUpperCaseHex)
{
    EXPECT_EQ(UrlEncodeTicket("qk 100001/ab"), "qk+100001%2Fab");
    EXPECT_EQ(UrlEncodeTicket("aZ09-_.~"), "aZ09-_.~");
    EXPECT_EQ(UrlEncodeTicket(std::string("=&+%\xFF\x01", 6)), "%3D%26%2B%25%FF%01");
    EXPECT_EQ(UrlEncodeTicket(""), "");
}

TEST_F(UserIdentityTest, RegistersOnceAndLaterCallsReuseThePair)
{
    ASSERT_TRUE(EnsureUser(m_server.ConfigPath()));
    const UserIdentity user = StoredUser();
    EXPECT_EQ(user.Uid, "100001");
    EXPECT_EQ(user.Ticket.rfind("qk+100001%2F", 0), 0u) << user.Ticket;
    EXPECT_NE(ReadFile(m_server.ConfigPath()).find("[User]\nUid=100001\nTicket=" + user.Ticket + "\n"),
              std::string::npos);

    auto registrations = m_server.Logged("register");
    ASSERT_EQ(registrations.size(), 1u);
    const std::string body = registrations[0]["body"].asString();
    const std::string prefix = "model=user&action=register&password=";
    ASSERT_EQ(body.rfind(prefix, 0), 0u) << body;
    const long password = std::strtol(body.c_str() + prefix.size(), nullptr, 10);
    EXPECT_GE(password, 10000000);
    EXPECT_LE(password, 10032767);

    // A later run of the program reads the same file and registers no more.
    EXPECT_TRUE(EnsureUser(m_server.ConfigPath()));
    EXPECT_TRUE(EnsureUser(m_server.ConfigPath()));
    EXPECT_EQ(m_server.Logged("register").size(), 1u);
    EXPECT_EQ(StoredUser().Ticket, user.Ticket);
}

TEST_F(UserIdentityTest, UidWithoutTicketRegistersAgainAndReplacesBoth)
{
    WriteFile(m_server.ConfigPath(), "[Set]\nRomPath=/games/\n[User]\nUid=77\n");
    ASSERT_TRUE(EnsureUser(m_server.ConfigPath()));
    EXPECT_EQ(m_server.Logged("register").size(), 1u);
    EXPECT_EQ(StoredUser().Uid, "100001");
    EXPECT_EQ(ReadFile(m_server.ConfigPath()),
              "[Set]\nRomPath=/games/\n[User]\nUid=100001\nTicket=" + StoredUser().Ticket + "\n");
}

TEST_F(UserIdentityTest, ThreadsStartingTogetherShareOneRegistration)
{
    std::vector<std::thread> threads;
    std::atomic<int> succeeded{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] { succeeded += EnsureUser(m_server.ConfigPath()) ? 1 : 0; });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(succeeded.load(), 4);
    EXPECT_EQ(m_server.Logged("register").size(), 1u);
}

TEST_F(UserIdentityTest, FailedRegistrationsSaveNothing)
{
    const std::string original = "[Set]\nRomPath=/games/\n";
    auto expectNothingSaved = [&](const char* what) {
        WriteFile(m_server.ConfigPath(), original);
        EXPECT_FALSE(EnsureUser(m_server.ConfigPath())) << what;
        EXPECT_EQ(ReadFile(m_server.ConfigPath()), original) << what;
    };

    ASSERT_TRUE(m_server.Faults(R"({"path": "/clientapi/", "status": 500})"));
    expectNothingSaved("status 500");
    ASSERT_TRUE(m_server.Faults(R"({"path": "/clientapi/", "cutAfter": 10})"));
    expectNothingSaved("cut answer");
    ASSERT_TRUE(m_server.Faults("[]"));

    const std::pair<const char*, std::string> answers[] = {
        {"empty 200", ""},
        {"not JSON", "<html>busy</html>"},
        {"JSON without ticket", R"({"status": 1, "uid": "5"})"},
        {"JSON without uid", R"({"status": 1, "ticket": "t"})"},
        {"uid that would split the form", R"({"uid": "5&gameid=1", "ticket": "t"})"},
        {"JSON array", R"([{"uid": "5", "ticket": "t"}])"},
        {"answer past the limit",
         R"({"uid": "5", "ticket": "t", "pad": ")" + std::string(kMaxUserAnswerBytes, 'x') + "\"}"},
    };
    for (const auto& [what, body] : answers) {
        testsupport::CannedServer canned(200, body);
        testsupport::PointApiAt(canned.ApiUrl());
        expectNothingSaved(what);
    }

    // A server that is gone: the port of a canned server after it stopped.
    std::string goneUrl;
    {
        testsupport::CannedServer canned(200, "{}");
        goneUrl = canned.ApiUrl();
    }
    testsupport::PointApiAt(goneUrl);
    expectNothingSaved("stopped server");
}

TEST_F(UserIdentityTest, CancelledRegistrationFailsAtOnce)
{
    // The answer is held back far longer than any machine takes to notice the flag: ending before
    // it proves the cancel ended the wait, however loaded the machine is.
    ASSERT_TRUE(m_server.Faults(R"({"path": "/clientapi/", "delayMs": 100000})"));
    TransferCancel cancel{true};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(EnsureUser(m_server.ConfigPath(), &cancel));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(50)) << "the delay ran out";
    EXPECT_TRUE(StoredUser().Uid.empty());
}

// Every prefix of a valid file: reading never crashes, and a value comes back whole or empty,
// never cut; a cut pair leads to a new registration that replaces it.
TEST_F(UserIdentityTest, SettingsFileCutAtEveryByteReadsWholeValuesOrNone)
{
    ASSERT_TRUE(EnsureUser(m_server.ConfigPath()));
    const UserIdentity whole = StoredUser();
    const std::string valid =
        "[Set]\nRomPath=/games/\nIsTray=0\n" + ReadFile(m_server.ConfigPath()).substr(0);
    for (size_t length = 0; length <= valid.size(); ++length) {
        WriteFile(m_server.ConfigPath(), valid.substr(0, length));
        CAppSettings settings(m_server.ConfigPath());
        UserIdentity user;
        settings.LoadUser(user);
        EXPECT_TRUE(user.Uid.empty() || user.Uid == whole.Uid) << length << ": " << user.Uid;
        EXPECT_TRUE(user.Ticket.empty() || user.Ticket == whole.Ticket) << length << ": " << user.Ticket;
    }
    // The cut that keeps the Uid and loses the end of the Ticket registers again.
    WriteFile(m_server.ConfigPath(), valid.substr(0, valid.size() - 3));
    ASSERT_TRUE(EnsureUser(m_server.ConfigPath()));
    EXPECT_EQ(m_server.Logged("register").size(), 2u);
    EXPECT_EQ(StoredUser().Uid, "100002");
}

TEST_F(UserIdentityTest, GarbageSettingsFilesNeverCrashAndLeadToARegistration)
{
    unsigned seed = static_cast<unsigned>(std::random_device{}());
    if (const char* replay = std::getenv("QUOKKA_CRASH_SEED"))
        seed = static_cast<unsigned>(std::strtoul(replay, nullptr, 10));
    std::printf("garbage settings seed %u (replay with QUOKKA_CRASH_SEED)\n", seed);
    std::mt19937 random(seed);
    for (int round = 0; round < 40; ++round) {
        std::string bytes(random() % 600, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 4 == 0 ? "[]=\nUidTcket "[random() % 13] : random());
        if (round % 2 == 0)
            bytes = "[User]\nUid=" + bytes + "\nTicket=\x01\x02\n";
        WriteFile(m_server.ConfigPath(), bytes);
        CAppSettings settings(m_server.ConfigPath());
        UserIdentity user;
        settings.LoadUser(user);
        for (const std::string* value : {&user.Uid, &user.Ticket})
            for (unsigned char c : *value)
                ASSERT_TRUE(c > 0x20 && c < 0x7F) << "round " << round;
        EXPECT_TRUE(EnsureUser(m_server.ConfigPath())) << "round " << round;
    }

    // A file past the size limit reads as no identity at all.
    std::string huge = "[User]\nUid=1\nTicket=t\n" + std::string(CAppSettings::kMaxSettingsFileBytes, ';');
    WriteFile(m_server.ConfigPath(), huge);
    UserIdentity user{"x", "y"};
    CAppSettings(m_server.ConfigPath()).LoadUser(user);
    EXPECT_EQ(user.Uid, "");
    EXPECT_EQ(user.Ticket, "");
}

} // namespace
