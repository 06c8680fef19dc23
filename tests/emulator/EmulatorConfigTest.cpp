#include "emulator/EmulatorConfig.h"

#include "emulator/EmulatorManager.h"
#include "foundation/AppPaths.h"
#include "platform/Registry.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

using testsupport::ScopedEnv;

// An emulator folder inside a test program folder, a test Documents folder and a test registry.
class EmulatorConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* dataHome = ::getenv("XDG_DATA_HOME"))
            m_savedDataHome = dataHome;
        ::setenv("XDG_DATA_HOME", (m_dir.Path() + "data").c_str(), 1);
        m_savedPaths = GetAppPaths();
        AppPaths paths = m_savedPaths;
        paths.InstancePath = m_dir.Path() + "app/";
        SetAppPaths(paths);
        m_docs = m_dir.Path() + "docs/";
        emulator_config::SetDocumentsFolder(m_docs);
        m_record.EmulatorId = "1250009";
        m_record.Name = "Emu";
        m_record.Emulatortype = 125;
        m_record.Configtype = "0";
        m_emu = EmulatorManager::EmulatorDirectory(m_record) + "/";
        fs::create_directories(m_emu);
    }

    void TearDown() override
    {
        emulator_config::SetDocumentsFolder({});
        SetAppPaths(m_savedPaths);
        if (m_savedDataHome)
            ::setenv("XDG_DATA_HOME", m_savedDataHome->c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
    }

    // Writes a file, making its folders.
    static void Put(const std::string& path, const std::string& content)
    {
        fs::create_directories(fs::path(path).parent_path());
        ASSERT_TRUE(WriteFile(path, content)) << path;
    }

    // Names of everything below a folder, relative to it, for seeing what a step left behind.
    static std::vector<std::string> Listing(const std::string& folder)
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            names.push_back(it->path().lexically_relative(folder).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::TempDir m_dir;
    std::optional<std::string> m_savedDataHome;
    AppPaths m_savedPaths;
    std::string m_docs;
    std::string m_emu;
    EmulatorRecord m_record;
};

TEST_F(EmulatorConfigTest, UserCopyIsMadeFromTheDefaultsOnlyWhileItHoldsNoByte)
{
    Put(m_emu + "GamePadCfg/pad.cfg", "pad defaults");
    Put(m_emu + "GamePadCfg/sub/deep.cfg", "deep defaults");
    Put(m_emu + "GamePadCfg/empty.cfg", "");
    Put(m_emu + "KeyBoardCfg/keys.cfg", "key defaults");
    ASSERT_EQ(::symlink("/etc/passwd", (m_emu + "GamePadCfg/link.cfg").c_str()), 0);

    // First gamepad run of a fresh emulator; links in the package are not followed.
    emulator_config::EnsureUserDirectory(m_record, 1);
    EXPECT_EQ(Listing(m_emu + "UserGamePadCfg"),
              (std::vector<std::string>{"empty.cfg", "pad.cfg", "sub", "sub/deep.cfg"}));
    EXPECT_EQ(ReadFile(m_emu + "UserGamePadCfg/sub/deep.cfg"), "deep defaults");
    EXPECT_FALSE(fs::exists(m_emu + "UserKeyBoardCfg"));

    // A user copy with bytes is kept as it is.
    Put(m_emu + "UserGamePadCfg/pad.cfg", "mine");
    emulator_config::EnsureUserDirectory(m_record, 1);
    EXPECT_EQ(ReadFile(m_emu + "UserGamePadCfg/pad.cfg"), "mine");

    // Only empty files (or a copy cut short before it was renamed into place) count as empty.
    Put(m_emu + "UserKeyBoardCfg/keys.cfg", "");
    Put(m_emu + "UserKeyBoardCfg.quokka-new/keys.cfg", "half");
    emulator_config::EnsureUserDirectory(m_record, 2);
    EXPECT_EQ(ReadFile(m_emu + "UserKeyBoardCfg/keys.cfg"), "key defaults");
    EXPECT_FALSE(fs::exists(m_emu + "UserKeyBoardCfg.quokka-new"));

    // Other control methods and a package without defaults make nothing.
    emulator_config::EnsureUserDirectory(m_record, 0);
    emulator_config::EnsureUserDirectory(m_record, 3);
    fs::remove_all(m_emu + "KeyBoardCfg");
    fs::remove_all(m_emu + "UserKeyBoardCfg");
    emulator_config::EnsureUserDirectory(m_record, 2);
    EXPECT_FALSE(fs::exists(m_emu + "UserKeyBoardCfg"));
    EXPECT_FALSE(fs::exists(m_emu + "UserGamePadCfg/link.cfg"));
}

TEST_F(EmulatorConfigTest, FilesGoInBeforeTheRunAndComeBackAfterIt)
{
    // Both separators in names; "~" is the game's name, with a default for a game without a file.
    m_record.KeyConfig = {{"~.cfg", "cfg\\game.cfg", "default.cfg"}, {"maps/pad.map", "cfg/pad.map", ""}};
    m_record.SetConfig = {{"set\\emu.ini", "emu.ini"}};
    Put(m_emu + "UserKeyBoardCfg/sonic.cfg", "sonic keys");
    Put(m_emu + "UserKeyBoardCfg/default.cfg", "default keys");
    Put(m_emu + "UserKeyBoardCfg/maps/pad.map", "pad map");
    Put(m_emu + "UserKeyBoardCfg/set/emu.ini", "settings");

    emulator_config::TransferBeforeLaunch(m_record, 2, "/games/md/sonic.md");
    EXPECT_EQ(ReadFile(m_emu + "cfg/game.cfg"), "sonic keys");
    EXPECT_EQ(ReadFile(m_emu + "cfg/pad.map"), "pad map");
    EXPECT_EQ(ReadFile(m_emu + "emu.ini"), "settings");

    // The emulator changes its files; they are taken back under the game's own name, never into
    // the default source.
    Put(m_emu + "cfg/game.cfg", "changed keys");
    Put(m_emu + "emu.ini", "changed settings");
    emulator_config::TransferAfterExit(m_record, 2, "/games/md/sonic.md");
    EXPECT_EQ(ReadFile(m_emu + "UserKeyBoardCfg/sonic.cfg"), "changed keys");
    EXPECT_EQ(ReadFile(m_emu + "UserKeyBoardCfg/set/emu.ini"), "changed settings");
    EXPECT_EQ(ReadFile(m_emu + "UserKeyBoardCfg/default.cfg"), "default keys");

    // A game without its own file gets the default source; a game path with '\' separators and
    // several dots names the game up to its last dot.
    emulator_config::TransferBeforeLaunch(m_record, 2, "C:\\games\\md\\golden.axe.md");
    EXPECT_EQ(ReadFile(m_emu + "cfg/game.cfg"), "default keys");
    emulator_config::TransferAfterExit(m_record, 2, "C:\\games\\md\\golden.axe.md");
    EXPECT_EQ(ReadFile(m_emu + "UserKeyBoardCfg/golden.axe.cfg"), "default keys");

    // A run for settings has no game: "~" is nothing.
    Put(m_emu + "UserKeyBoardCfg/.cfg", "no game");
    emulator_config::TransferBeforeLaunch(m_record, 2, "");
    EXPECT_EQ(ReadFile(m_emu + "cfg/game.cfg"), "no game");

    // A missing source leaves the emulator's file alone; other config types and control methods
    // move nothing.
    fs::remove(m_emu + "UserKeyBoardCfg/maps/pad.map");
    Put(m_emu + "cfg/pad.map", "emulator's own");
    emulator_config::TransferBeforeLaunch(m_record, 2, "");
    EXPECT_EQ(ReadFile(m_emu + "cfg/pad.map"), "emulator's own");
    m_record.Configtype = "2";
    Put(m_emu + "emu.ini", "untouched");
    emulator_config::TransferBeforeLaunch(m_record, 2, "");
    m_record.Configtype = "0";
    emulator_config::TransferBeforeLaunch(m_record, 1, "");
    emulator_config::TransferBeforeLaunch(m_record, 7, "");
    EXPECT_EQ(ReadFile(m_emu + "emu.ini"), "untouched");
}

TEST_F(EmulatorConfigTest, DollarNamesPointIntoTheDocumentsFolder)
{
    m_record.KeyConfig = {{"$\\Emu\\user.cfg", "$/Emu Data/emu.cfg", ""}};
    m_record.SetConfig = {{"set.ini", "prefix$\\Emu Data\\set.ini"}};
    Put(m_docs + "Emu/user.cfg", "from documents");
    Put(m_emu + "UserGamePadCfg/set.ini", "set");

    emulator_config::TransferBeforeLaunch(m_record, 1, "/games/a.nes");
    EXPECT_EQ(ReadFile(m_docs + "Emu Data/emu.cfg"), "from documents");
    EXPECT_EQ(ReadFile(m_docs + "Emu Data/set.ini"), "set");

    Put(m_docs + "Emu Data/emu.cfg", "played");
    emulator_config::TransferAfterExit(m_record, 1, "/games/a.nes");
    EXPECT_EQ(ReadFile(m_docs + "Emu/user.cfg"), "played");
    EXPECT_FALSE(fs::exists(m_emu + "$"));
}

// The Documents folder as the desktop names it (HOME and its configuration in the test folder): the
// home folder itself, as a minimal desktop's "$HOME/" says, or a folder of its own. Either way "$"
// names stay inside a folder of their own in a Documents folder that is not the home folder, both
// ways and for registry exports, and names that are not plain are skipped.
TEST_F(EmulatorConfigTest, DollarNamesStayInAFolderOfTheirOwnInsideTheDocumentsFolder)
{
    const std::string home = m_dir.Path() + "home/";
    ScopedEnv homeVariable("HOME", home);
    ScopedEnv configHome("XDG_CONFIG_HOME", home + ".config");
    emulator_config::SetDocumentsFolder({});
    platform::Registry registry;
    ASSERT_TRUE(registry.SetString(u"HKEY_CURRENT_USER\\Software\\TestEmu", u"Scale", u"2x"));
    EmulatorRecord registryRecord = m_record;
    registryRecord.Configtype = "1";
    registryRecord.SetConfig = {{"$\\Emu\\emu.reg", "HKEY_CURRENT_USER\\Software\\TestEmu"},
                                {"$\\.config\\autostart\\emu.reg", "HKEY_CURRENT_USER\\Software\\TestEmu"}};
    m_record.KeyConfig = {
        {"keys.cfg", "$\\Emu\\keys.cfg", ""},
        {"run.desktop", "$\\.config\\autostart\\qk_autostart.desktop", ""},
        {"$/.local/share/back.cfg", "cfg/back.cfg", ""},
        {"keys.cfg", "$\\notes.txt", ""}, // a document of the user's, not a folder of its own
        {"keys.cfg", "$\\\\Emu\\abs.cfg", ""},
        {"keys.cfg", "$/Emu//empty.cfg", ""},
        {"keys.cfg", "$/Emu/./dot.cfg", ""},
        {"keys.cfg", "$/Emu/../../notes.txt", ""},
        {"keys.cfg", "$/Emu/", ""},
        {"keys.cfg", "$", ""},
    };
    for (const std::string& setting : {std::string("\"$HOME/\""), std::string("\"$HOME/Papers\"")}) {
        SCOPED_TRACE(setting);
        fs::remove_all(home);
        Put(home + ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=" + setting + "\n");
        Put(home + "notes.txt", "the user's notes");
        Put(m_emu + "UserGamePadCfg/keys.cfg", "keys");
        Put(m_emu + "UserGamePadCfg/run.desktop", "[Desktop Entry]\nExec=sh\n");
        Put(m_emu + "cfg/back.cfg", "emulator's");
        const std::string docs = setting == "\"$HOME/\"" ? "Documents" : "Papers";

        emulator_config::TransferBeforeLaunch(m_record, 1, "/games/a.nes");
        emulator_config::TransferAfterExit(m_record, 1, "/games/a.nes");
        emulator_config::TransferAfterExit(registryRecord, 1, "");
        EXPECT_EQ(ReadFile(home + docs + "/Emu/keys.cfg"), "keys");
        EXPECT_EQ(ReadFile(home + "notes.txt"), "the user's notes");
        EXPECT_EQ(Listing(home),
                  (std::vector<std::string>{".config", ".config/user-dirs.dirs", docs, docs + "/Emu",
                                            docs + "/Emu/emu.reg", docs + "/Emu/keys.cfg", "notes.txt"}));
    }
}

TEST_F(EmulatorConfigTest, NamesLeavingTheirFolderAreSkippedAndTheRestGoesOn)
{
    Put(m_dir.Path() + "outside.cfg", "outside");
    Put(m_emu + "UserGamePadCfg/ok.cfg", "ok");
    Put(m_emu + "UserGamePadCfg/bad.cfg", "bad");
    m_record.KeyConfig = {
        {"bad.cfg", "..\\..\\..\\..\\outside.cfg", ""},
        {"bad.cfg", "/tmp/quokka-config-absolute.cfg", ""},
        {"bad.cfg", "C:\\quokka-config-drive.cfg", ""},
        {"bad.cfg", "$\\..\\outside.cfg", ""},
        {"../../../../outside.cfg", "stolen.cfg", ""},
        {"ok.cfg", "~/outside.cfg", ""}, // the game's name is ".." here
        {"ok.cfg", "cfg/../ok.cfg", ""},
    };
    m_record.SetConfig = {{"ok.cfg", "sub/ok.cfg"}};

    emulator_config::TransferBeforeLaunch(m_record, 1, "/games/...");
    EXPECT_EQ(ReadFile(m_dir.Path() + "outside.cfg"), "outside");
    EXPECT_FALSE(fs::exists("/tmp/quokka-config-absolute.cfg"));
    EXPECT_FALSE(fs::exists(m_emu + "stolen.cfg"));
    EXPECT_FALSE(fs::exists(m_emu + "../outside.cfg"));
    EXPECT_EQ(ReadFile(m_emu + "sub/ok.cfg"), "ok");

    // The way back is refused the same way: nothing outside the user folder is written.
    Put(m_emu + "stolen.cfg", "emulator");
    emulator_config::TransferAfterExit(m_record, 1, "/games/...");
    EXPECT_EQ(ReadFile(m_dir.Path() + "outside.cfg"), "outside");
    EXPECT_EQ(ReadFile(m_emu + "UserGamePadCfg/bad.cfg"), "bad");
}

TEST_F(EmulatorConfigTest, CopiesReplaceTheirTargetWholeOrNotAtAll)
{
    const std::string target = m_emu + "cfg/emu.cfg";
    Put(m_emu + "UserGamePadCfg/emu.cfg", "new settings");
    Put(target, "old settings");
    m_record.KeyConfig = {{"emu.cfg", "cfg/emu.cfg", ""}};

    // A reader holding the old file still reads it whole: the new file took its name, the old one
    // was never cut and rewritten in place.
    int reader = ::open(target.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    emulator_config::TransferBeforeLaunch(m_record, 1, "");
    char buffer[64] = {};
    EXPECT_EQ(::pread(reader, buffer, sizeof buffer, 0), 12);
    EXPECT_EQ(std::string(buffer), "old settings");
    ::close(reader);
    EXPECT_EQ(ReadFile(target), "new settings");
    EXPECT_EQ(Listing(m_emu + "cfg"), std::vector<std::string>{"emu.cfg"});

    // A copy that fails halfway (here: the file size limit cuts the write) keeps the old file whole
    // and leaves no temporary file.
    Put(m_emu + "UserGamePadCfg/emu.cfg", std::string(256 * 1024, 'x'));
    {
        struct rlimit saved {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        emulator_config::TransferBeforeLaunch(m_record, 1, "");
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
    }
    EXPECT_EQ(ReadFile(target), "new settings");
    EXPECT_EQ(Listing(m_emu + "cfg"), std::vector<std::string>{"emu.cfg"});

    // Sources that are not regular files copy nothing (a fifo does not block the run).
    ASSERT_EQ(::mkfifo((m_emu + "UserGamePadCfg/fifo.cfg").c_str(), 0600), 0);
    m_record.KeyConfig = {{"fifo.cfg", "cfg/emu.cfg", ""}, {"", "cfg/emu.cfg", ""}};
    emulator_config::TransferBeforeLaunch(m_record, 1, "");
    EXPECT_EQ(ReadFile(target), "new settings");
}

TEST_F(EmulatorConfigTest, RegistrySettingsRoundTripThroughTheEmulatedRegistry)
{
    platform::Registry registry;
    m_record.Configtype = "1";
    m_record.KeyConfig = {{"keys.reg", "HKEY_CURRENT_USER\\Software\\TestEmu\\Keys", ""}};
    m_record.SetConfig = {{"$\\TestEmu\\settings.reg", "HKEY_CURRENT_USER\\Software\\TestEmu\\Settings"}};
    Put(m_emu + "UserGamePadCfg/keys.reg", "Windows Registry Editor Version 5.00\r\n\r\n"
                                           "[HKEY_CURRENT_USER\\Software\\TestEmu\\Keys]\r\n\"Up\"=\"W\"\r\n"
                                           "\"Pad\"=dword:00000002\r\n");
    Put(m_docs + "TestEmu/settings.reg",
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\TestEmu\\Settings]\r\n"
        "\"Scale\"=\"2x\"\r\n");

    // Imported before the call returns, so the emulator started next sees them.
    emulator_config::TransferBeforeLaunch(m_record, 1, "");
    EXPECT_EQ(registry.QueryString(u"HKEY_CURRENT_USER\\Software\\TestEmu\\Keys", u"Up"), u"W");
    EXPECT_EQ(registry.QueryString(u"HKEY_CURRENT_USER\\Software\\TestEmu\\Settings", u"Scale"), u"2x");

    // The emulator changes its settings; after the run they are exported into the user copy, and
    // a fresh registry gets them back from there.
    ASSERT_TRUE(registry.SetString(u"HKEY_CURRENT_USER\\Software\\TestEmu\\Keys", u"Up", u"I"));
    ASSERT_TRUE(registry.SetString(u"HKEY_CURRENT_USER\\Software\\TestEmu\\Settings", u"Scale", u"3x"));
    emulator_config::TransferAfterExit(m_record, 1, "");
    ASSERT_TRUE(registry.DeleteKey(u"HKEY_CURRENT_USER\\Software\\TestEmu"));
    emulator_config::TransferBeforeLaunch(m_record, 1, "");
    EXPECT_EQ(registry.QueryString(u"HKEY_CURRENT_USER\\Software\\TestEmu\\Keys", u"Up"), u"I");
    EXPECT_EQ(registry.QueryString(u"HKEY_CURRENT_USER\\Software\\TestEmu\\Settings", u"Scale"), u"3x");
    auto pad = registry.QueryValue(u"HKEY_CURRENT_USER\\Software\\TestEmu\\Keys", u"Pad");
    ASSERT_TRUE(pad.has_value());
    EXPECT_EQ(pad->Data, (std::vector<uint8_t>{2, 0, 0, 0}));

    // A key that is missing after the run leaves the user's file as it was.
    const std::string before = ReadFile(m_emu + "UserGamePadCfg/keys.reg");
    ASSERT_TRUE(registry.DeleteKey(u"HKEY_CURRENT_USER\\Software\\TestEmu"));
    emulator_config::TransferAfterExit(m_record, 1, "");
    EXPECT_EQ(ReadFile(m_emu + "UserGamePadCfg/keys.reg"), before);
}

TEST_F(EmulatorConfigTest, CopiesPutInPlaceAreFlushedAsOneBatchByTheirCaller)
{
    m_record.KeyConfig = {{"a.cfg", "cfg/a.cfg", ""}, {"b.cfg", "cfg/b.cfg", ""}, {"a.cfg", "cfg/a.cfg", ""}};
    m_record.SetConfig = {{"missing.ini", "emu.ini"}};
    Put(m_emu + "UserGamePadCfg/a.cfg", "a");
    Put(m_emu + "UserGamePadCfg/b.cfg", "b");

    // In place at once, each named once, nothing left under a temporary name; a copy that did not
    // happen is not waited for.
    emulator_config::PendingWrites placed;
    emulator_config::TransferBeforeLaunch(m_record, 1, "", placed);
    EXPECT_EQ(ReadFile(m_emu + "cfg/a.cfg"), "a");
    EXPECT_EQ(ReadFile(m_emu + "cfg/b.cfg"), "b");
    EXPECT_EQ(placed.Paths(), (std::vector<std::string>{m_emu + "cfg/a.cfg", m_emu + "cfg/b.cfg"}));
    EXPECT_EQ(Listing(m_emu + "cfg"), (std::vector<std::string>{"a.cfg", "b.cfg"}));

    // A file that went away before the flush is reported; the batch is empty afterwards.
    fs::remove(m_emu + "cfg/b.cfg");
    EXPECT_FALSE(placed.Flush());
    EXPECT_TRUE(placed.Paths().empty());
    EXPECT_TRUE(placed.Flush());

    // The way back names nothing for a later flush: it writes the user's files flushed, one by one.
    Put(m_emu + "cfg/a.cfg", "played");
    emulator_config::TransferAfterExit(m_record, 1, "");
    EXPECT_EQ(ReadFile(m_emu + "UserGamePadCfg/a.cfg"), "played");
    EXPECT_EQ(Listing(m_emu + "UserGamePadCfg"), (std::vector<std::string>{"a.cfg", "b.cfg"}));
}

} // namespace
