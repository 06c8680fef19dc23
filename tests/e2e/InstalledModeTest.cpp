// The real program in a folder it counts as not its own to write (QUOKKA_TEST_READONLY_PROGRAM_FOLDER:
// as root every folder can be written, so the tests cannot rely on a folder's mode) with a home of
// the test's own: installed, it keeps its settings, data and working files in the XDG folders.
#include "tests/e2e/EndToEnd.h"

#include "platform/Paths.h"

#include <csignal>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::ReadFile;

namespace {

// Every path under `folder`, relative to it.
std::set<std::string> Listing(const std::string& folder)
{
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ec))
        names.insert(fs::relative(entry.path(), folder).string());
    return names;
}

class InstalledModeTest : public e2e::EndToEndTest {
protected:
    void SetUp() override
    {
        e2e::EndToEndTest::SetUp();
        fs::create_directories(Home());
    }
    std::string Home() const { return m_temp.Path() + "home/"; }
    std::string DataFolder() const { return Home() + ".local/share/quokka/"; }
    // The XDG variables empty, so their defaults under HOME are what the program takes.
    std::map<std::string, std::string> InstalledEnv() const
    {
        return Env({{"QUOKKA_TEST_READONLY_PROGRAM_FOLDER", "1"},
                    {"QUOKKA_TEST_BOX_ANSWER", "1"},
                    {"HOME", Home()},
                    {"XDG_CONFIG_HOME", ""},
                    {"XDG_DATA_HOME", ""},
                    {"XDG_CACHE_HOME", ""}});
    }
};

TEST_F(InstalledModeTest, KeepsSettingsDataAndCachesInTheXdgFoldersAcrossARestartAndNothingBesideItself)
{
    // The quokka.cfg beside the program (the fixture's) is not the installed program's: a first run.
    const std::set<std::string> programBefore = Listing(m_program.Path());

    ChildProcess first(Command(), InstalledEnv(), true);
    const std::string proposed = WaitForLine(first, "settings: a first run proposes the library folder");
    ASSERT_FALSE(proposed.empty()) << "no first run";
    EXPECT_NE(proposed.find(DataFolder() + "Games/"), std::string::npos) << proposed;
    EndRunning(first);

    const std::string settings = ReadFile(Home() + ".config/quokka/quokka.cfg");
    EXPECT_NE(settings.find("RomPath=" + DataFolder() + "Games/"), std::string::npos) << settings;
    EXPECT_TRUE(fs::exists(DataFolder() + "database/quokka.db"));
    EXPECT_TRUE(fs::exists(DataFolder() + "quokkaapp.lock")) << "the copies on this data exclude each other";
    EXPECT_TRUE(fs::is_directory(DataFolder() + "Games/LocalGame/FC"));
    EXPECT_TRUE(platform::IsPrivateFolder(Home() + ".cache/quokka/"));
    EXPECT_FALSE(fs::exists(m_temp.Path() + "QuokkaAppStore")) << "working files go to the cache folder";

    // The second start keeps the settings: no first run, the catalogue from the server named in the
    // servers.cfg beside the program, its icons cached in the cache folder.
    ChildProcess second(Command(), InstalledEnv(), true);
    ASSERT_FALSE(WaitForLine(second, "screenshot", "written").empty()) << "the window was never captured";
    int icons = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Home() + ".cache/quokka/cache/image"))
        icons += entry.is_regular_file() && entry.file_size() > 0;
    EXPECT_GT(icons, 0);
    const e2e::RunEnd end = EndRunning(second);
    EXPECT_FALSE(end.Printed("start-up: no library folder")) << end.Joined();

    EXPECT_EQ(Listing(m_program.Path()), programBefore) << "nothing was written beside the program";
    EXPECT_FALSE(WaitForRequest("/download/pc/update/index.php", 0))
        << "an installed program asks for no update";
}

TEST_F(InstalledModeTest, APortableMarkerInAFolderThatCannotBeWrittenEndsWithOneAndWritesNothing)
{
    testsupport::WriteFile(m_program.Path() + platform::kPortableMarker, "");
    const std::set<std::string> programBefore = Listing(m_program.Path());
    const std::set<std::string> tempBefore = Listing(m_temp.Path());

    ChildProcess quokka(Command(), InstalledEnv(), true);
    const e2e::RunEnd end = WaitForEnd(quokka, 30000);
    EXPECT_EQ(end.exitCode, std::optional<int>(1)) << end.Joined();
    EXPECT_TRUE(end.Printed("holds a \"portable\" marker but cannot be written")) << end.Joined();
    EXPECT_TRUE(end.Printed("message box: 提示 | 程序文件夹里有 portable 标记")) << end.Joined();
    ExpectNoSanitizerReport(end);

    EXPECT_EQ(Listing(m_program.Path()), programBefore);
    std::set<std::string> tempAfter = Listing(m_temp.Path());
    tempAfter.erase("requests.log"); // the server's, should it have written meanwhile
    std::set<std::string> expected = tempBefore;
    expected.erase("requests.log");
    EXPECT_EQ(tempAfter, expected) << "no lock, no settings, no work folder, nothing in the home";
}

} // namespace
