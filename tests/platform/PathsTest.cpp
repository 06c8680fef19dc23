#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

TEST(PathsTest, FoldersEndWithASeparator)
{
    EXPECT_EQ(platform::ProgramFolder().back(), '/');
    EXPECT_EQ(platform::DocumentsFolder().back(), '/');
    EXPECT_EQ(platform::HomeFolder().back(), '/');
}

TEST(PathsTest, TempFolderFollowsTmpdir)
{
    const char* saved = std::getenv("TMPDIR");
    std::string savedValue = saved ? saved : "";
    ::setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(platform::TempFolder(), "/var/tmp/");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(platform::TempFolder(), "/tmp/");
    if (saved)
        ::setenv("TMPDIR", savedValue.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

TEST(PathsTest, DocumentsFolderComesFromTheUserDirsFile)
{
    testsupport::TempDir config;
    testsupport::WriteFile(config.Path() + "user-dirs.dirs",
                           "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    std::string savedValue = savedConfig ? savedConfig : "";
    ::setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    EXPECT_EQ(platform::DocumentsFolder(), platform::HomeFolder() + "Dokumente/");
    if (savedConfig)
        ::setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(PathsTest, LookupIgnoresLetterCaseOfBuiltNames)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.Path() + "Skyrunner.NES", "x");
    EXPECT_EQ(platform::FindNoCase(dir.Path(), "skyrunner.nes"), dir.Path() + "Skyrunner.NES");
    EXPECT_EQ(platform::FindNoCase(dir.Path(), "Skyrunner.NES"), dir.Path() + "Skyrunner.NES");
    EXPECT_FALSE(platform::FindNoCase(dir.Path(), "skyrunner.sfc"));
    EXPECT_TRUE(platform::ExistsNoCase(dir.Path() + "SKYRUNNER.nes"));
    EXPECT_FALSE(platform::ExistsNoCase(dir.Path() + "missing/skyrunner.nes"));
}

namespace {

mode_t ModeOf(const std::string& path)
{
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

} // namespace

TEST(PathsTest, PrivateFolderMakesOrReusesAFolderOnlyThisUserCanEnter)
{
    testsupport::TempDir parent;
    const std::string folder = platform::PrivateFolder(parent.Path(), "Store", "Store-x-");
    ASSERT_EQ(folder, parent.Path() + "Store/");
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_TRUE(platform::IsPrivateFolder(folder));
    EXPECT_EQ(platform::PrivateFolder(parent.Path(), "Store", "Store-x-"), folder) << "found again";
}

TEST(PathsTest, PrivateFolderRefusesFoldersOthersCouldReachAndMakesItsOwn)
{
    testsupport::TempDir parent;
    testsupport::TempDir elsewhere;
    struct Planted {
        const char* what;
        std::function<void(const std::string&)> plant;
    };
    const std::vector<Planted> cases = {
        {"open to others",
         [](const std::string& at) {
             ::mkdir(at.c_str(), 0755);
             ::chmod(at.c_str(), 0755);
         }},
        {"a link", [&](const std::string& at) { ::symlink(elsewhere.Path().c_str(), at.c_str()); }},
        {"a file", [](const std::string& at) { testsupport::WriteFile(at, "x"); }},
        {"another user's", [](const std::string& at) {
             ::mkdir(at.c_str(), 0700);
             if (::geteuid() == 0) [[maybe_unused]]
                 int ignored = ::chown(at.c_str(), 65534, 65534);
         }}};
    for (const Planted& planted : cases) {
        if (std::string(planted.what) == "another user's" && ::geteuid() != 0)
            continue; // only root can give a folder away
        const std::string name = std::string("Store") + std::to_string(&planted - cases.data());
        planted.plant(parent.Path() + name);
        const mode_t before = ModeOf(parent.Path() + name);

        const std::string folder = platform::PrivateFolder(parent.Path(), name, name + "-x-");
        ASSERT_FALSE(folder.empty()) << planted.what;
        EXPECT_NE(folder, parent.Path() + name + "/") << planted.what;
        EXPECT_EQ(folder.rfind(parent.Path() + name + "-x-", 0), 0u) << planted.what << ": " << folder;
        EXPECT_TRUE(platform::IsPrivateFolder(folder)) << planted.what;
        EXPECT_EQ(ModeOf(parent.Path() + name), before) << planted.what << ": left as it was";
        EXPECT_EQ(platform::PrivateFolder(parent.Path(), name, name + "-x-"), folder)
            << planted.what << ": the same fallback is found again";
    }
    EXPECT_EQ(ModeOf(elsewhere.Path()), 0700u) << "a link's target is not touched";
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.Path()));
}

TEST(PathsTest, RuntimeFolderIsPrivate)
{
    testsupport::TempDir runtime;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    EXPECT_EQ(platform::RuntimeFolder(), runtime.Path()) << "the test's folder is made 0700 by mkdtemp";
    ::chmod(runtime.Path().c_str(), 0755);
    const std::string fallback = platform::RuntimeFolder();
    EXPECT_NE(fallback, runtime.Path()) << "a runtime folder open to others is not used";
    EXPECT_TRUE(platform::IsPrivateFolder(fallback)) << fallback;
    if (saved)
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

namespace {

// An environment inside `root`: the XDG folders and the system's configuration folder all in it.
platform::FolderEnvironment EnvironmentIn(const std::string& root, bool writable)
{
    platform::FolderEnvironment environment;
    environment.configHome = root + "config/";
    environment.dataHome = root + "data/";
    environment.cacheHome = root + "cache/";
    environment.tempFolder = root + "tmp/";
    environment.systemConfigFolder = root + "etc/";
    environment.programFolderWritable = writable;
    return environment;
}

} // namespace

// Writability comes from the environment's flag here, not from the folder's mode: as root every
// folder can be written, so a test cannot make one that counts as read-only by its permissions.
TEST(ProgramFoldersTest, AWritableFolderIsPortableAndAReadOnlyOneUsesTheXdgFoldersUnlessItIsMarked)
{
    testsupport::TempDir root;
    const std::string program = root.Path() + "opt/quokka/";
    std::filesystem::create_directories(program);

    for (bool marked : {false, true}) {
        if (marked)
            testsupport::WriteFile(program + platform::kPortableMarker, "");
        const platform::ProgramFolders portable =
            platform::DecideProgramFolders(program, EnvironmentIn(root.Path(), true));
        EXPECT_EQ(portable.mode, platform::FolderMode::Portable) << "marked: " << marked;
        EXPECT_EQ(portable.configFolder, program);
        EXPECT_EQ(portable.dataFolder, program);
        EXPECT_EQ(portable.workFolder, root.Path() + "tmp/QuokkaAppStore/");
        EXPECT_EQ(portable.serversFile, program + "servers.cfg");
    }

    const platform::ProgramFolders refused =
        platform::DecideProgramFolders(program, EnvironmentIn(root.Path(), false));
    EXPECT_EQ(refused.mode, platform::FolderMode::Refused);
    EXPECT_EQ(refused.programFolder, program);
    EXPECT_TRUE(refused.configFolder.empty() && refused.dataFolder.empty() && refused.workFolder.empty());

    std::filesystem::remove(program + platform::kPortableMarker);
    const platform::ProgramFolders installed =
        platform::DecideProgramFolders(root.Path() + "opt/quokka", EnvironmentIn(root.Path(), false));
    EXPECT_EQ(installed.mode, platform::FolderMode::Installed);
    EXPECT_EQ(installed.programFolder, program);
    EXPECT_EQ(installed.configFolder, root.Path() + "config/quokka/");
    EXPECT_EQ(installed.dataFolder, root.Path() + "data/quokka/");
    EXPECT_EQ(installed.workFolder, root.Path() + "cache/quokka/");
    EXPECT_EQ(installed.serversFile, root.Path() + "etc/servers.cfg") << "none beside the program";
    testsupport::WriteFile(program + "servers.cfg", "[Servers]\n");
    EXPECT_EQ(platform::DecideProgramFolders(program, EnvironmentIn(root.Path(), false)).serversFile,
              program + "servers.cfg")
        << "one placed beside the program wins";

    EXPECT_EQ(std::filesystem::directory_iterator(root.Path() + "opt/quokka")->path().filename(),
              "servers.cfg")
        << "deciding made nothing";
    EXPECT_FALSE(std::filesystem::exists(root.Path() + "config"));
    EXPECT_FALSE(std::filesystem::exists(root.Path() + "data"));
}

TEST(ProgramFoldersTest, XdgFoldersAreTheAbsoluteValuesElseTheDefaultsUnderHome)
{
    testsupport::TempDir home;
    testsupport::ScopedEnv homeVariable("HOME", home.Path());
    testsupport::ScopedEnv config("XDG_CONFIG_HOME", home.Path() + "cfg");
    testsupport::ScopedEnv data("XDG_DATA_HOME", std::string("relative/data"));
    testsupport::ScopedEnv cache("XDG_CACHE_HOME", std::string());
    testsupport::ScopedEnv readOnly("QUOKKA_TEST_READONLY_PROGRAM_FOLDER", std::string("1"));

    const platform::FolderEnvironment environment = platform::CurrentFolderEnvironment(home.Path());
    EXPECT_EQ(environment.configHome, home.Path() + "cfg/");
    EXPECT_EQ(environment.dataHome, home.Path() + ".local/share/") << "a relative value is ignored";
    EXPECT_EQ(environment.cacheHome, home.Path() + ".cache/") << "an empty value is ignored";
    EXPECT_FALSE(environment.programFolderWritable) << "the test seam makes any folder read-only";
    EXPECT_EQ(platform::WindowsFolder(), home.Path() + ".local/share/quokka/windows/")
        << "the registry lies in the installed mode's data folder";
}
