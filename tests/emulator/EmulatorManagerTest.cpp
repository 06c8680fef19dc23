#include "emulator/EmulatorManager.h"

#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/ServerEndpoints.h"
#include "platform/Process.h"
#include "server/StandInServer.h"
#include "store/GameStore.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

const platform::HWND kWindow = reinterpret_cast<platform::HWND>(0x10);
const platform::HWND kOtherWindow = reinterpret_cast<platform::HWND>(0x20);

std::string Emulator(const std::string& id, const std::string& name, const std::string& version,
                     const std::string& type)
{
    return R"({"emulatorid": ")" + id + R"(", "name": ")" + name + R"(", "version": ")" + version +
           R"(", "description": "notes of )" + version + R"(", "emulatortype": ")" + type +
           R"(", "downloadurl": "{{origin}}/download/emulators/)" + name + R"(.zip", "execute": ["run.sh"]})";
}

// The installer window's stand-in: says what it was asked and answers as told, unpacking a launcher
// into the emulator's folder when it "succeeds".
class FakeInstaller : public IEmulatorInstaller {
public:
    bool InstallEmulator(const EmulatorRecord& record, platform::HWND owner, bool centred) override
    {
        calls.push_back({record, owner, centred});
        if (!succeed)
            return false;
        std::string folder = EmulatorManager::EmulatorDirectory(record);
        fs::create_directories(folder);
        WriteFile(folder + "/run.sh", "#!/bin/sh\necho " + record.Version + "\n");
        return true;
    }

    struct Call {
        EmulatorRecord record;
        platform::HWND owner;
        bool centred;
    };
    std::vector<Call> calls;
    bool succeed = true;
};

class FakePrompts : public IEmulatorPrompts {
public:
    bool AskYesNo(platform::HWND, const std::string& text, const std::string& caption) override
    {
        asked.push_back(caption + "|" + text);
        return answerYes;
    }
    void Tell(platform::HWND, const std::string& text, const std::string& caption) override
    {
        told.push_back(caption + "|" + text);
    }

    bool answerYes = false;
    std::vector<std::string> asked;
    std::vector<std::string> told;
};

class EmulatorManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedPaths = GetAppPaths();
        AppPaths paths = m_savedPaths;
        paths.InstancePath = m_dir.Path() + "app/";
        paths.ConfigFilePath = paths.InstancePath + "quokka.cfg";
        SetAppPaths(paths);
        m_savedEndpoints = GetServerEndpoints();

        m_data = m_dir.Path() + "data/";
        fs::create_directories(m_data + "update");
        StandInServerOptions options;
        options.dataDir = m_data;
        m_server = std::make_unique<CStandInServer>(options);
        m_server->SetRequestObserver([this](const std::string&, const std::string& path) {
            if (path == "/download/pc/update/emulators.php")
                ++m_listRequests;
        });
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
        ServerEndpoints endpoints = m_savedEndpoints;
        endpoints.DownloadBase = m_server->Origin();
        SetServerEndpoints(endpoints);
        m_store = std::make_unique<CGameStore>(DbPath());
    }

    void TearDown() override
    {
        m_manager.reset();
        m_store.reset();
        m_server.reset();
        SetServerEndpoints(m_savedEndpoints);
        SetAppPaths(m_savedPaths);
    }

    std::string DbPath() const { return m_dir.Path() + "app/database/quokka.db"; }

    void WriteList(const std::string& json)
    {
        ASSERT_TRUE(WriteFile(m_data + "update/emulators.json", json));
    }

    void Faults(const std::string& json)
    {
        std::string error;
        ASSERT_TRUE(m_server->SetFaults(json, error)) << error;
    }

    // A manager whose first list request has ended.
    EmulatorManager& Start()
    {
        m_manager = std::make_unique<EmulatorManager>(*m_store);
        m_manager->SetInstaller(&m_installer);
        m_manager->SetPrompts(&m_prompts);
        EXPECT_TRUE(m_manager->WaitForRefresh(10000));
        return *m_manager;
    }

    // Refreshes for kWindow and waits until the request has ended.
    void Refresh()
    {
        m_manager->RefreshEmulatorList(kWindow);
        ASSERT_TRUE(m_manager->WaitForRefresh(10000));
    }

    // The EmulatorInfo rows. The store carries out requests in order, so every change the manager
    // queued before is in the file.
    EmulatorMap Rows()
    {
        EmulatorMap rows;
        EXPECT_TRUE(m_store->Submit(kStoreReadEmulators, &rows, false, false));
        return rows;
    }

    void AddInstalledRow(const EmulatorRecord& record)
    {
        EmulatorRecord row = record;
        ASSERT_TRUE(m_store->Submit(kStoreAddEmulator, &row, false, false));
    }

    testsupport::TempDir m_dir;
    std::string m_data;
    AppPaths m_savedPaths;
    ServerEndpoints m_savedEndpoints;
    std::unique_ptr<CStandInServer> m_server;
    std::atomic<int> m_listRequests{0};
    std::unique_ptr<CGameStore> m_store;
    testsupport::MessageRecorder m_messages;
    FakeInstaller m_installer;
    FakePrompts m_prompts;
    std::unique_ptr<EmulatorManager> m_manager;
};

TEST_F(EmulatorManagerTest, ListFromTheServerIsMergedFirstWinsAndFoundByPlatform)
{
    WriteList(R"({"sfc": [)" + Emulator("1250002", "SfcClaims", "1.0", "121") + "," +
              Emulator("1210002", "Snes", "1.0", "121") + R"(], "fc": [)" +
              Emulator("1250003", "Later", "1.0", "125") + "," + Emulator("1250002", "Nes", "1.0", "125") +
              R"(], "xbox": [)" + Emulator("9990001", "Box", "1.0", "999") + "]}");
    EmulatorManager& manager = Start();
    EXPECT_EQ(m_listRequests, 1);
    EXPECT_EQ(m_messages.Pending(), 0u); // the first request tells no window

    ASSERT_TRUE(manager.Listed("1250002"));
    EXPECT_EQ(manager.Listed("1250002")->Name, "Nes"); // "fc" is read before "sfc"
    EXPECT_FALSE(manager.Listed("9990001"));
    // Finding walks the ids in order: the smallest id of the platform.
    ASSERT_TRUE(manager.FindListed(125));
    EXPECT_EQ(manager.FindListed(125)->EmulatorId, "1250002");
    EXPECT_EQ(manager.FindListed(121)->EmulatorId, "1210002");
    EXPECT_FALSE(manager.FindListed(130));
    EXPECT_FALSE(manager.FindInstalled(125));
    EXPECT_EQ(manager.ListedEmulators().size(), 3u);
}

TEST_F(EmulatorManagerTest, FailedRefreshesKeepThePreviousListAndTellNoWindow)
{
    WriteList(R"({"fc": [)" + Emulator("1250002", "Nes", "1.0", "125") + "]}");
    EmulatorManager& manager = Start();
    ASSERT_TRUE(manager.FindListed(125));

    WriteList("{\"fc\": [ this is not json");
    Refresh();
    WriteList("[]");
    Refresh();
    Faults(R"({"path": "/download/pc/update/emulators.php", "status": 404})");
    Refresh();
    Faults(R"({"path": "/download/pc/update/emulators.php", "status": 500})");
    Refresh();
    EXPECT_EQ(m_listRequests, 5);
    EXPECT_EQ(m_messages.Pending(), 0u);
    ASSERT_TRUE(manager.FindListed(125));
    EXPECT_EQ(manager.FindListed(125)->Name, "Nes");

    // A good list replaces the map and tells the window.
    Faults("[]");
    WriteList(R"({"fc": [)" + Emulator("1250004", "Nes2", "2.0", "125") + "]}");
    Refresh();
    auto message = m_messages.Next(5000);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->hwnd, kWindow);
    EXPECT_EQ(message->message, WM_EMULIST_READY);
    EXPECT_EQ(message->wParam, 0u);
    EXPECT_EQ(message->lParam, 0);
    EXPECT_EQ(manager.FindListed(125)->Name, "Nes2");
    EXPECT_FALSE(manager.Listed("1250002"));
}

TEST_F(EmulatorManagerTest, OneRefreshAtATimeAndRecordsInUseOutliveIt)
{
    WriteList(R"({"fc": [)" + Emulator("1250002", "Nes", "1.0", "125") + "]}");
    EmulatorManager& manager = Start();
    EmulatorRecordPtr held = manager.FindListed(125);
    ASSERT_TRUE(held);

    WriteList(R"({"fc": [)" + Emulator("1250002", "Renamed", "1.1", "125") + "]}");
    Faults(R"({"path": "/download/pc/update/emulators.php", "delayMs": 300})");
    manager.RefreshEmulatorList(kWindow);
    manager.RefreshEmulatorList(kOtherWindow);
    manager.RefreshEmulatorList(kWindow);
    ASSERT_TRUE(manager.WaitForRefresh(10000));
    EXPECT_EQ(m_listRequests, 2); // the start-up request and one refresh

    std::vector<platform::HWND> told;
    while (auto message = m_messages.Next(200))
        told.push_back(message->hwnd);
    EXPECT_EQ(told, (std::vector<platform::HWND>{kWindow, kOtherWindow, kWindow}));

    // The record handed out before the refresh is still whole; the map holds the new one.
    EXPECT_EQ(held->Name, "Nes");
    EXPECT_EQ(held->Version, "1.0");
    EXPECT_EQ(manager.FindListed(125)->Name, "Renamed");
}

TEST_F(EmulatorManagerTest, ShutdownEndsAStalledRefreshAtOnceWithoutAMessage)
{
    WriteList(R"({"fc": [)" + Emulator("1250002", "Nes", "1.0", "125") + "]}");
    EmulatorManager& manager = Start();
    Faults(R"({"path": "/download/pc/update/emulators.php", "stallAfter": 0, "stallMs": 60000})");
    manager.RefreshEmulatorList(kWindow);
    EXPECT_TRUE(manager.RefreshRunning());
    EXPECT_FALSE(manager.WaitForRefresh(150)); // stalled

    auto started = std::chrono::steady_clock::now();
    manager.Shutdown();
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_LT(elapsed, std::chrono::seconds(30))
        << "the stall (60 s) ran out instead of the shutdown ending it";
    EXPECT_EQ(m_messages.Pending(), 0u);
    EXPECT_EQ(manager.FindListed(125)->Name, "Nes");
    // Nothing starts after shutdown.
    manager.RefreshEmulatorList(kWindow);
    EXPECT_FALSE(manager.RefreshRunning());
}

TEST_F(EmulatorManagerTest, WithoutNetworkInstalledEmulatorsAreFoundWithoutARequest)
{
    EmulatorRecord installed;
    installed.EmulatorId = "1250002";
    installed.Name = "Nes";
    installed.Version = "1.0";
    installed.Emulatortype = 125;
    installed.Execute = {"run.sh"};
    installed.IsDefault = "0";
    AddInstalledRow(installed);
    m_server->Stop(); // nothing answers on the port now

    EmulatorManager& manager = Start();
    EXPECT_TRUE(manager.ListedEmulators().empty());
    EXPECT_TRUE(manager.HasInstalledPlatform(125));
    EmulatorRecordPtr found = manager.EnsureEmulator(125, kWindow);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, installed);
    // A platform with nothing installed or listed: none, silently.
    EXPECT_FALSE(manager.EnsureEmulator(121, kWindow));
    EXPECT_TRUE(m_installer.calls.empty());
    EXPECT_TRUE(m_prompts.asked.empty());
}

TEST_F(EmulatorManagerTest, EnsureEmulatorInstallsTheListedOneAndStoresItsRow)
{
    WriteList(R"({"fc": [)" + Emulator("1250002", "Nes", "1.0", "125") + "]}");
    EmulatorManager& manager = Start();

    m_installer.succeed = false;
    EXPECT_FALSE(manager.EnsureEmulator(125, kWindow));
    EXPECT_FALSE(manager.HasInstalledPlatform(125));

    m_installer.succeed = true;
    EmulatorRecordPtr installed = manager.EnsureEmulator(125, kWindow);
    ASSERT_TRUE(installed);
    ASSERT_EQ(m_installer.calls.size(), 2u);
    EXPECT_TRUE(m_installer.calls[1].centred);
    EXPECT_EQ(m_installer.calls[1].owner, kWindow);
    EXPECT_EQ(m_installer.calls[1].record.Downloadurl, m_server->Origin() + "/download/emulators/Nes.zip");
    EXPECT_EQ(*installed, *manager.Listed("1250002"));
    EXPECT_EQ(manager.FindInstalled(125), installed);
    EXPECT_TRUE(fs::exists(m_dir.Path() + "app/Emulator/FC/Nes/run.sh"));

    // Installed now: no second window.
    EXPECT_EQ(manager.EnsureEmulator(125, kWindow), installed);
    EXPECT_EQ(m_installer.calls.size(), 2u);
    EmulatorMap rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.at("1250002"), *installed);

    // Install of an installed emulator does nothing.
    EXPECT_FALSE(manager.Install(*manager.Listed("1250002"), kWindow));
    EXPECT_EQ(m_installer.calls.size(), 2u);
}

TEST_F(EmulatorManagerTest, InstallUninstallAndUpdateFromTheEmulatorMenu)
{
    WriteList(R"({"fc": [)" + Emulator("1250002", "Nes", "1.0.0", "125") + "]}");
    EmulatorManager& manager = Start();
    EmulatorRecordPtr listed = manager.Listed("1250002");
    ASSERT_TRUE(listed);
    ASSERT_TRUE(manager.Install(*listed, kWindow));
    EXPECT_FALSE(m_installer.calls.back().centred);
    const std::string folder = m_dir.Path() + "app/Emulator/FC/Nes";
    ASSERT_TRUE(fs::exists(folder + "/run.sh"));

    // Equal versions: the latest already.
    manager.Update(*listed, kWindow);
    ASSERT_EQ(m_prompts.told.size(), 1u);
    EXPECT_EQ(m_prompts.told[0], "提示|Nes已是最新版本");

    // A newer version: asked; No changes nothing, Yes installs over the old one and rewrites the row.
    WriteList(R"({"fc": [)" + Emulator("1250002", "Nes", "1.0.10", "125") + "]}");
    Refresh();
    EmulatorRecordPtr newer = manager.Listed("1250002");
    manager.Update(*newer, kWindow);
    ASSERT_EQ(m_prompts.asked.size(), 1u);
    EXPECT_EQ(m_prompts.asked[0], "提示:检测到新版本1.0.10是否更新|更新说明:\n\nnotes of 1.0.10");
    EXPECT_EQ(manager.Installed("1250002")->Version, "1.0.0");
    m_prompts.answerYes = true;
    manager.Update(*newer, kWindow);
    EXPECT_EQ(manager.Installed("1250002")->Version, "1.0.10");
    EXPECT_EQ(ReadFile(folder + "/run.sh"), "#!/bin/sh\necho 1.0.10\n");
    EXPECT_EQ(Rows().at("1250002").Version, "1.0.10");

    // Uninstall: No keeps everything, Yes removes record, row and folder.
    m_prompts.answerYes = false;
    EXPECT_FALSE(manager.Uninstall(*newer, kWindow));
    EXPECT_EQ(m_prompts.asked.back(), "提示|是否删除模拟器");
    EXPECT_TRUE(manager.Installed("1250002"));
    EXPECT_TRUE(fs::exists(folder));
    m_prompts.answerYes = true;
    EXPECT_TRUE(manager.Uninstall(*newer, kWindow));
    EXPECT_FALSE(manager.Installed("1250002"));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::exists(m_dir.Path() + "app/Emulator/FC"));
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(manager.Uninstall(*newer, kWindow)); // not installed any more
}

TEST_F(EmulatorManagerTest, OlderVersionNumbersCompareByComponent)
{
    EmulatorRecord installed;
    installed.EmulatorId = "1250002";
    installed.Name = "Nes";
    installed.Version = "2.0";
    installed.Emulatortype = 125;
    AddInstalledRow(installed);
    WriteList(R"({"fc": [)" + Emulator("1250002", "Nes", "1.9.9", "125") + "]}");
    EmulatorManager& manager = Start();
    manager.Update(*manager.Listed("1250002"), kWindow);
    EXPECT_TRUE(m_prompts.asked.empty());
    ASSERT_EQ(m_prompts.told.size(), 1u);
    EXPECT_EQ(m_prompts.told[0], "提示|Nes已是最新版本");
    EXPECT_TRUE(m_installer.calls.empty());
}

TEST_F(EmulatorManagerTest, UninstallNeverLeavesThePlatformFolder)
{
    // A row written by anyone with a name that points outside: the row goes, no folder does.
    EmulatorRecord hostile;
    hostile.EmulatorId = "1250009";
    hostile.Name = "..";
    hostile.Emulatortype = 125;
    AddInstalledRow(hostile);
    const std::string sentinel = m_dir.Path() + "app/Emulator/FC/Other/keep.txt";
    fs::create_directories(fs::path(sentinel).parent_path());
    ASSERT_TRUE(WriteFile(sentinel, "keep"));

    EmulatorManager& manager = Start();
    m_prompts.answerYes = true;
    EXPECT_TRUE(manager.Uninstall(hostile, kWindow));
    EXPECT_TRUE(fs::exists(sentinel));
    EXPECT_TRUE(Rows().empty());
}

TEST_F(EmulatorManagerTest, EmulatorDirectoryAndOpeningIt)
{
    EmulatorRecord record;
    record.Name = "Nes";
    record.Emulatortype = 125;
    EXPECT_EQ(EmulatorManager::EmulatorDirectory(record), m_dir.Path() + "app/Emulator/FC/Nes");
    // All platforms' emulators have a folder of their own: one named like a platform is not that
    // platform's folder (uninstalling it would take every emulator of the platform along).
    record.Emulatortype = 0;
    EXPECT_EQ(EmulatorManager::EmulatorDirectory(record), m_dir.Path() + "app/Emulator/全部机种/Nes");
    record.Name = "FC";
    EXPECT_EQ(EmulatorManager::EmulatorDirectory(record), m_dir.Path() + "app/Emulator/全部机种/FC");
    // A type outside the table sits beside the platforms' folders and cannot take one of their names.
    record.Emulatortype = 999;
    EXPECT_EQ(EmulatorManager::EmulatorDirectory(record), "");
    record.Name = "全部机种";
    EXPECT_EQ(EmulatorManager::EmulatorDirectory(record), "");
    record.Name = "Nes";
    EXPECT_EQ(EmulatorManager::EmulatorDirectory(record), m_dir.Path() + "app/Emulator/Nes");
    for (const char* bad : {"", ".", "..", "a/b", "a\\b"}) {
        record.Name = bad;
        EXPECT_EQ(EmulatorManager::EmulatorDirectory(record), "") << bad;
    }

    EmulatorManager manager(*m_store, false);
    std::vector<std::string> opened;
    manager.SetFolderOpener([&](const std::string& folder) { opened.push_back(folder); });
    record.Name = "Nes";
    record.Emulatortype = 130;
    manager.OpenDirectory(record);
    record.Name = "..";
    manager.OpenDirectory(record);
    EXPECT_EQ(opened, (std::vector<std::string>{m_dir.Path() + "app/Emulator/N64/Nes"}));
    EXPECT_EQ(m_listRequests, 0);
}

TEST_F(EmulatorManagerTest, RunForSettingsStartsTheLauncherInItsFolderAndExcludesRefreshes)
{
    EmulatorManager& manager = Start();
    EmulatorRecord record;
    record.EmulatorId = "1250002";
    record.Name = "Nes";
    record.Emulatortype = 125;
    record.Execute = {"run.sh"};
    const std::string folder = EmulatorManager::EmulatorDirectory(record);
    fs::create_directories(folder);
    // The launcher records where and with what it ran, then waits for its fifo to be opened.
    ASSERT_TRUE(WriteFile(folder + "/run.sh", "#!/bin/sh\npwd > ran.txt\necho \"$#\" >> ran.txt\n"
                                              "read line < gate\n"));
    ASSERT_EQ(::mkfifo((folder + "/gate").c_str(), 0600), 0);
    fs::permissions(folder + "/run.sh", fs::perms::owner_all);

    manager.RunForSettings(record, kWindow);
    EXPECT_TRUE(manager.SettingsRunRunning());
    manager.RefreshEmulatorList(kWindow); // excluded while the emulator runs
    EXPECT_FALSE(manager.RefreshRunning());

    // Opened for reading and writing, the fifo never blocks; the line waits there for the launcher.
    int gate = ::open((folder + "/gate").c_str(), O_RDWR);
    ASSERT_GE(gate, 0);
    ASSERT_EQ(::write(gate, "go\n", 3), 3);
    EXPECT_TRUE(manager.WaitForSettingsRun(10000));
    ::close(gate);
    EXPECT_FALSE(manager.SettingsRunRunning());
    EXPECT_EQ(ReadFile(folder + "/ran.txt"), fs::canonical(folder).string() + "\n0\n");
    EXPECT_EQ(m_listRequests, 1);
}

TEST_F(EmulatorManagerTest, SettingsRunPutsTheUserCopyInPlaceAndTakesTheChangesBack)
{
    EmulatorManager& manager = Start();
    CAppSettings settings;
    settings.SetHandleType("2");
    settings.Save();
    EmulatorRecord record;
    record.EmulatorId = "1250002";
    record.Name = "Nes";
    record.Emulatortype = 125;
    record.Execute = {"run.sh"};
    record.Configtype = "0";
    record.KeyConfig = {{"~keys.cfg", "cfg\\keys.cfg", ""}}; // no game: "~" is nothing
    const std::string folder = EmulatorManager::EmulatorDirectory(record);
    fs::create_directories(folder + "/KeyBoardCfg");
    fs::create_directories(folder + "/cfg");
    ASSERT_TRUE(WriteFile(folder + "/KeyBoardCfg/keys.cfg", "default keys\n"));
    // The stand-in emulator shows what it found, waits for its fifo, then changes its key file.
    ASSERT_TRUE(WriteFile(folder + "/run.sh", "#!/bin/sh\ncp cfg/keys.cfg seen.txt\nread line < gate\n"
                                              "echo changed keys > cfg/keys.cfg\n"));
    ASSERT_EQ(::mkfifo((folder + "/gate").c_str(), 0600), 0);
    fs::permissions(folder + "/run.sh", fs::perms::owner_all);

    manager.RunForSettings(record, kWindow);
    int gate = ::open((folder + "/gate").c_str(), O_RDWR);
    ASSERT_GE(gate, 0);
    ASSERT_EQ(::write(gate, "go\n", 3), 3);
    EXPECT_TRUE(manager.WaitForSettingsRun(10000));
    ::close(gate);
    EXPECT_EQ(manager.SettingsProcessId(), -1);
    EXPECT_EQ(ReadFile(folder + "/seen.txt"), "default keys\n");
    EXPECT_EQ(ReadFile(folder + "/UserKeyBoardCfg/keys.cfg"), "changed keys\n");
    EXPECT_FALSE(fs::exists(folder + "/UserGamePadCfg"));
}

TEST_F(EmulatorManagerTest, RestoreDefaultKeysFollowsTheStoredControlMethod)
{
    EmulatorManager& manager = Start();
    EmulatorRecord record;
    record.Name = "Nes";
    record.Emulatortype = 125;
    const std::string folder = EmulatorManager::EmulatorDirectory(record);
    fs::create_directories(folder + "/UserGamePadCfg");
    fs::create_directories(folder + "/UserKeyBoardCfg");
    ASSERT_TRUE(WriteFile(folder + "/UserGamePadCfg/a.cfg", "pad"));
    ASSERT_TRUE(WriteFile(folder + "/UserKeyBoardCfg/a.cfg", "keys"));

    for (const char* handleType : {"0", "", "3"}) {
        CAppSettings settings;
        settings.SetHandleType(handleType);
        settings.Save();
        manager.RestoreDefaultKeys(record);
    }
    EXPECT_TRUE(fs::exists(folder + "/UserGamePadCfg/a.cfg"));
    EXPECT_TRUE(fs::exists(folder + "/UserKeyBoardCfg/a.cfg"));

    CAppSettings settings;
    settings.SetHandleType("1");
    settings.Save();
    manager.RestoreDefaultKeys(record);
    EXPECT_FALSE(fs::exists(folder + "/UserGamePadCfg"));
    EXPECT_TRUE(fs::exists(folder + "/UserKeyBoardCfg/a.cfg"));
}

TEST_F(EmulatorManagerTest, SettingsRunCutShortByShutdownTakesNothingBack)
{
    EmulatorManager& manager = Start();
    EmulatorRecord record;
    record.EmulatorId = "1250002";
    record.Name = "Nes";
    record.Emulatortype = 125;
    record.Execute = {"run.sh"};
    record.Configtype = "0";
    record.KeyConfig = {{"keys.cfg", "keys.cfg", ""}};
    const std::string folder = EmulatorManager::EmulatorDirectory(record);
    fs::create_directories(folder + "/UserGamePadCfg");
    ASSERT_TRUE(WriteFile(folder + "/UserGamePadCfg/keys.cfg", "user keys\n"));
    // The emulator is halfway through writing its file when the program shuts down.
    ASSERT_TRUE(WriteFile(folder + "/run.sh",
                          "#!/bin/sh\necho half > keys.cfg\necho ready > ready\nread line < gate\n"));
    ASSERT_EQ(::mkfifo((folder + "/gate").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((folder + "/ready").c_str(), 0600), 0);
    fs::permissions(folder + "/run.sh", fs::perms::owner_all);
    int gate = ::open((folder + "/gate").c_str(), O_RDWR);
    ASSERT_GE(gate, 0);

    manager.RunForSettings(record, kWindow);
    int ready = ::open((folder + "/ready").c_str(), O_RDONLY); // until the emulator opens it
    ASSERT_GE(ready, 0);
    char line[8];
    EXPECT_GT(::read(ready, line, sizeof line), 0);
    ::close(ready);
    manager.BeginShutdown();
    EXPECT_TRUE(manager.WaitForSettingsRun(10000));
    EXPECT_EQ(ReadFile(folder + "/UserGamePadCfg/keys.cfg"), "user keys\n");
    ASSERT_EQ(::write(gate, "go\n", 3), 3); // lets the stand-in emulator end
    ::close(gate);
}

// The program dies (here: shuts down, which leaves the run as a death would) while an emulator runs
// for its settings. The next start takes what the user changed there back into the user copy: at
// once when the emulator has ended meanwhile, after waiting for it when it still runs.
TEST_F(EmulatorManagerTest, ASettingsRunLeftByAnEarlierStartIsTakenBackByTheNext)
{
    EmulatorRecord record;
    record.EmulatorId = "1250002";
    record.Name = "Nes";
    record.Version = "1.0";
    record.Emulatortype = 125;
    record.Execute = {"run.sh"};
    record.Configtype = "0";
    record.KeyConfig = {{"keys.cfg", "keys.cfg", ""}};
    EmulatorRecord row = record;
    ASSERT_TRUE(m_store->Submit(kStoreAddEmulator, &row, false, false));
    const std::string folder = EmulatorManager::EmulatorDirectory(record);
    fs::create_directories(folder + "/UserGamePadCfg");
    ASSERT_TRUE(WriteFile(folder + "/run.sh", "#!/bin/sh\necho $$ > ready\nread line < gate\n"
                                              "echo \"changed $$\" > keys.cfg\n"));
    fs::permissions(folder + "/run.sh", fs::perms::owner_all);
    ASSERT_EQ(::mkfifo((folder + "/gate").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((folder + "/ready").c_str(), 0600), 0);
    const int gate = ::open((folder + "/gate").c_str(), O_RDWR);
    ASSERT_GE(gate, 0);
    // However the test ends, an emulator still waiting at the gate goes on and ends.
    std::unique_ptr<const int, void (*)(const int*)> release(&gate, [](const int* fd) {
        [[maybe_unused]] ssize_t wrote = ::write(*fd, "go\ngo\n", 6);
        ::close(*fd);
    });
    const std::string recordPath = EmulatorManager::SettingsRunRecordPath();

    // Starts a settings run and ends the program while the emulator waits at its gate; the
    // emulator's process, still running.
    auto runAndDie = [&]() -> pid_t {
        EmulatorManager& manager = Start();
        manager.RunForSettings(record, kWindow);
        // The emulator says its process id once it runs.
        const int ready = ::open((folder + "/ready").c_str(), O_RDONLY);
        char line[16] = {};
        EXPECT_GT(::read(ready, line, sizeof line - 1), 0);
        ::close(ready);
        const pid_t pid = static_cast<pid_t>(std::atoi(line));
        m_manager.reset();
        EXPECT_TRUE(fs::exists(recordPath)) << "the record outlives the program";
        return pid;
    };

    for (bool endsBeforeTheNextStart : {true, false}) {
        SCOPED_TRACE(endsBeforeTheNextStart ? "ended before the next start" : "still running");
        ASSERT_TRUE(WriteFile(folder + "/UserGamePadCfg/keys.cfg", "user keys\n"));
        const pid_t pid = runAndDie();
        ASSERT_GT(pid, 0);
        platform::ProcessHandle emulator =
            platform::ProcessHandle::Adopt(pid, platform::ProcessStartTime(pid));
        ASSERT_TRUE(emulator);
        if (endsBeforeTheNextStart) {
            ASSERT_EQ(::write(gate, "go\n", 3), 3);
            ASSERT_EQ(emulator.Wait(10000), platform::WaitResult::Exited);
        }
        EmulatorManager& next = Start();
        if (!endsBeforeTheNextStart) {
            EXPECT_TRUE(next.SettingsRunRunning()) << "the running emulator is waited for";
            next.RunForSettings(record, kWindow); // refused meanwhile: no second emulator starts
            EXPECT_EQ(ReadFile(folder + "/UserGamePadCfg/keys.cfg"), "user keys\n");
            ASSERT_EQ(::write(gate, "go\n", 3), 3);
        }
        ASSERT_TRUE(next.WaitForSettingsRun(10000));
        EXPECT_EQ(ReadFile(folder + "/UserGamePadCfg/keys.cfg"), "changed " + std::to_string(pid) + "\n");
        EXPECT_FALSE(fs::exists(recordPath));
        m_manager.reset();
    }
}

} // namespace
