#pragma once

// What the launcher's tests share: a program folder with a settings file, quokka-server serving a
// list of test emulators and their package, a real game store, the emulator manager installing
// through the installer's real download-and-unpack work, and stand-ins for the dialogs.

#include "demo/DemoZip.h"
#include "download/Zip.h"
#include "emulator/EmulatorManager.h"
#include "emulator/GameLauncher.h"
#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/HttpClient.h"
#include "foundation/ServerEndpoints.h"
#include "foundation/StringConv.h"
#include "server/StandInServer.h"
#include "store/GameStore.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace launchtest {

namespace fs = std::filesystem;

// The test emulator's launcher. It reads what to do from "behaviour" in the program folder, writes
// what it was given (program, folder, arguments, the configuration it finds) to the file OUT, changes
// its configuration file, says its id on STARTED, waits for a line on RELEASE and exits with CODE
// (FALLBACK_CODE for the second program).
inline constexpr char kLauncherScript[] = R"SH(#!/bin/sh
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../../behaviour"
me=$(basename "$0")
{
  echo "run $me"
  echo "cwd $(pwd)"
  for a in "$@"; do echo "arg $a"; done
  echo "target $(cat "$here/config/pad.cfg" 2>/dev/null)"
} >> "$OUT"
echo "changed by $$" > "$here/config/pad.cfg"
[ -n "$STARTED" ] && echo "$$" > "$STARTED"
[ -n "$RELEASE" ] && read x < "$RELEASE"
if [ "$me" = fallback.sh ]; then exit ${FALLBACK_CODE:-0}; fi
exit ${CODE:-0}
)SH";

struct TestEmulator {
    const char* id;
    const char* name;
    int typeId;
    const char* listKey;
    const char* executeParam;
};

// One per command-line template, and the ids the launcher treats specially.
inline const std::vector<TestEmulator>& TestEmulators()
{
    static const std::vector<TestEmulator> emulators = {
        {"1250002", "nes", 125, "fc", ""},
        {"1210002", "snes", 121, "sfc", "-name ~ -x"},
        {"1200002", "gba", 120, "gba", "--load @ --fast"},
        {"1220002", "gen", 122, "md", "-game "},
        {"1230001", "mame", 123, "mame", "-rompath roms ~"},
        {"1260001", "fba", 126, "arcade", "-rompath roms ~"},
        {"1190001", "psx", 119, "ps", ""},
        {"1290002", "psp", 129, "psp", ""},
    };
    return emulators;
}

// Writes the list and the package into a quokka-server data folder.
inline void WriteTestEmulators(const std::string& dataDir)
{
    fs::create_directories(dataDir + "update");
    fs::create_directories(dataDir + "download/emulators");
    {
        CDemoZip zip(dataDir + "download/emulators/testemu.zip");
        zip.Add("launch.sh", kLauncherScript, 0755);
        zip.Add("fallback.sh", kLauncherScript, 0755);
        zip.Add("config/pad.cfg", "emulator's own\n");
        zip.Add("GamePadCfg/pad.cfg", "gamepad defaults\n");
        zip.Add("KeyBoardCfg/pad.cfg", "keyboard defaults\n");
        zip.Close();
    }
    std::map<std::string, std::vector<std::string>> byKey;
    for (const TestEmulator& e : TestEmulators()) {
        std::ostringstream json;
        json << R"({"emulatorid": ")" << e.id << R"(", "name": ")" << e.name
             << R"(", "version": "1.0", "emulatortype": ")" << e.typeId
             << R"(", "downloadurl": "{{origin}}/download/emulators/testemu.zip", )"
             << R"("execute": ["launch.sh", "fallback.sh"], "executeparam": ")" << e.executeParam
             << R"(", "configtype": "0", "keyconfig": [{"source": "pad.cfg", "target": "config/pad.cfg", )"
             << R"("defaultsource": ""}]})";
        byKey[e.listKey].push_back(json.str());
    }
    std::string list = "{";
    for (const auto& [key, entries] : byKey) {
        if (list.size() > 1)
            list += ", ";
        list += "\"" + key + "\": [";
        for (size_t i = 0; i < entries.size(); ++i)
            list += (i ? ", " : "") + entries[i];
        list += "]";
    }
    list += "}";
    ASSERT_TRUE(testsupport::WriteFile(dataDir + "update/emulators.json", list));
}

// Installs as the installer window does in emulator mode, without its window: the package from the
// record's address into the work folder, unpacked into the emulator's folder.
class ServerInstaller : public IEmulatorInstaller {
public:
    bool InstallEmulator(const EmulatorRecord& record, platform::HWND, bool) override
    {
        const std::string folder = EmulatorManager::EmulatorDirectory(record);
        if (folder.empty())
            return false;
        ++installs;
        const std::string zip = WorkDir() + "Emulator.zip";
        if (!NetDownloadFile(zip, record.Downloadurl))
            return false;
        fs::create_directories(folder);
        CZip unpacker;
        return unpacker.ZipExtract(Utf8ToUtf16(zip), Utf8ToUtf16(folder + "/")) == 1;
    }
    int installs = 0;
};

class FakeLaunchPrompts : public ILaunchPrompts {
public:
    int AskControlMethod(platform::HWND) override
    {
        std::lock_guard lock(mutex);
        ++methodAsked;
        return methodAnswer;
    }
    int ChooseDisc(platform::HWND, int discCount) override
    {
        std::lock_guard lock(mutex);
        discCounts.push_back(discCount);
        return discAnswer;
    }
    void Tell(platform::HWND, const std::string& text, const std::string& caption) override
    {
        std::lock_guard lock(mutex);
        told.push_back(caption + "|" + text);
    }
    void PostNotice(platform::HWND owner, const std::string& text, const std::string& caption) override
    {
        std::lock_guard lock(mutex);
        noticeOwners.push_back(owner);
        notices.push_back(caption + "|" + text);
    }
    std::vector<std::string> Notices()
    {
        std::lock_guard lock(mutex);
        return notices;
    }

    std::mutex mutex;
    int methodAnswer = -1;
    int methodAsked = 0;
    int discAnswer = -1;
    std::vector<int> discCounts;
    std::vector<std::string> told;
    std::vector<std::string> notices; // posted from a worker, never waited for
    std::vector<platform::HWND> noticeOwners;
};

// A program folder with the server, the store and the manager; the launcher is made by the test.
class LaunchEnvironment {
public:
    LaunchEnvironment()
    {
        m_savedPaths = GetAppPaths();
        AppPaths paths = m_savedPaths;
        paths.InstancePath = m_dir.Path() + "app/";
        paths.ConfigFilePath = paths.InstancePath + "quokka.cfg";
        paths.WorkDir = m_dir.Path() + "work/";
        SetAppPaths(paths);
        fs::create_directories(paths.InstancePath + "database");
        fs::create_directories(paths.WorkDir);
        m_savedEndpoints = GetServerEndpoints();
        WriteTestEmulators(m_dir.Path() + "data/");
        StandInServerOptions options;
        options.dataDir = m_dir.Path() + "data/";
        m_server = std::make_unique<CStandInServer>(options);
        std::string error;
        EXPECT_TRUE(m_server->Start(error)) << error;
        ServerEndpoints endpoints = m_savedEndpoints;
        endpoints.DownloadBase = m_server->Origin();
        SetServerEndpoints(endpoints);
        m_store = std::make_unique<CGameStore>(paths.InstancePath + "database/quokka.db");
        m_manager = std::make_unique<EmulatorManager>(*m_store);
        m_manager->SetInstaller(&installer);
        EXPECT_TRUE(m_manager->WaitForRefresh(10000));
        Behaviour("");
    }

    ~LaunchEnvironment()
    {
        m_manager.reset();
        m_store.reset();
        m_server.reset();
        SetServerEndpoints(m_savedEndpoints);
        SetAppPaths(m_savedPaths);
    }

    EmulatorManager& Manager() { return *m_manager; }
    const std::string& Dir() const { return m_dir.Path(); }
    std::string App() const { return m_dir.Path() + "app/"; }
    std::string Out() const { return m_dir.Path() + "out.txt"; }
    std::string RecordPath() const { return App() + "database/running-game.rec"; }

    // The launcher script's instructions, besides OUT (shell assignments, one a line).
    void Behaviour(const std::string& lines)
    {
        ASSERT_TRUE(testsupport::WriteFile(App() + "behaviour", "OUT='" + Out() + "'\n" + lines));
    }

    void Settings(const std::string& handleType, const std::string& showTips = "1")
    {
        CAppSettings settings;
        settings.SetHandleType(handleType);
        settings.SetShowKeyMapTips(showTips);
        settings.Save();
    }

    // The emulator's folder, installed now when it is not yet.
    std::string Install(int typeId)
    {
        EmulatorRecordPtr record = m_manager->EnsureEmulator(typeId, nullptr);
        EXPECT_TRUE(record) << typeId;
        return record ? EmulatorManager::EmulatorDirectory(*record) + "/" : std::string();
    }

    // The launcher script's report, one entry per line.
    std::vector<std::string> Report() const
    {
        std::vector<std::string> lines;
        std::istringstream in(testsupport::ReadFile(Out()));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // How many times the launcher script ran, by its report.
    static int RunCount(const std::vector<std::string>& report)
    {
        int runs = 0;
        for (const std::string& line : report)
            runs += line.rfind("run ", 0) == 0 ? 1 : 0;
        return runs;
    }

    ServerInstaller installer;

private:
    testsupport::TempDir m_dir;
    AppPaths m_savedPaths;
    ServerEndpoints m_savedEndpoints;
    std::unique_ptr<CStandInServer> m_server;
    std::unique_ptr<CGameStore> m_store;
    std::unique_ptr<EmulatorManager> m_manager;
};

} // namespace launchtest
