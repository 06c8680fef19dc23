// Files dropped on the real program from outside, over X: the program runs on an X server of the
// test's own, the local games' view is opened with clicks (xdotool), and xdnd-drop drops files on
// it through the XDND protocol, as a file manager does. The game files among them become tiles and
// rows; a folder is searched; other files and a second drop of the same file add nothing.
#include "tests/e2e/EndToEnd.h"
#include "tests/e2e/XServer.h"

#include <sqlite3.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;

// Where the main window's controls are, from its top-left corner (the window is 1240 x 680).
struct Spot {
    int x;
    int y;
};
constexpr Spot kMyGamesTab{360, 35};
constexpr Spot kLocalGamesTab{221, 106};
constexpr Spot kFcFilter{231, 152};
constexpr Spot kTileArea{600, 450};

bool OnPath(const char* program)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

class XdndDropTest : public e2e::EndToEndTest {
protected:
    void SetUp() override
    {
        if (!e2e::XServer::Available() || !OnPath("xdotool"))
            GTEST_SKIP() << "Xvfb or xdotool is not installed (scripts/install-deps.sh installs them)";
        EndToEndTest::SetUp();
        ASSERT_TRUE(m_x.Start()) << "Xvfb did not start";
    }

    std::map<std::string, std::string> XEnv() const { return {{"DISPLAY", m_x.Display()}}; }

    // Runs a helper program on the test's display to its end; its exit code and output.
    std::pair<int, std::string> RunOnX(const std::vector<std::string>& argv) const
    {
        ChildProcess child(argv, XEnv(), true);
        std::string output;
        while (auto line = child.ReadLine(20000))
            output += *line + "\n";
        return {child.Wait(20000).value_or(-1), output};
    }

    // The main window's top-left corner on the screen.
    Spot WindowOrigin() const
    {
        auto [code, output] = RunOnX({"/usr/bin/env", "xdotool", "search", "--onlyvisible", "--name",
                                      "^Quokka模拟器$", "getwindowgeometry", "--shell"});
        Spot origin{-1, -1};
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("X=", 0) == 0)
                origin.x = std::atoi(line.c_str() + 2);
            else if (line.rfind("Y=", 0) == 0)
                origin.y = std::atoi(line.c_str() + 2);
        }
        return origin;
    }

    void ClickAt(Spot origin, Spot spot) const
    {
        auto [code, output] =
            RunOnX({"/usr/bin/env", "xdotool", "mousemove", std::to_string(origin.x + spot.x),
                    std::to_string(origin.y + spot.y), "click", "1"});
        ASSERT_EQ(code, 0) << output;
    }

    std::pair<int, std::string> Drop(Spot origin, const std::vector<std::string>& paths) const
    {
        std::vector<std::string> argv = {QUOKKA_XDND_DROP, std::to_string(origin.x + kTileArea.x),
                                         std::to_string(origin.y + kTileArea.y)};
        argv.insert(argv.end(), paths.begin(), paths.end());
        return RunOnX(argv);
    }

    // The FilePath column of every LocalGame row, in order.
    std::vector<std::string> LocalRows() const
    {
        std::vector<std::string> rows;
        sqlite3* raw = nullptr;
        if (sqlite3_open_v2(StorePath().c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(raw);
            return rows;
        }
        std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close);
        auto collect = [](void* out, int, char** values, char**) {
            static_cast<std::vector<std::string>*>(out)->push_back(values[0] != nullptr ? values[0] : "");
            return 0;
        };
        sqlite3_exec(db.get(), "SELECT FilePath FROM LocalGame ORDER BY FilePath", collect, &rows, nullptr);
        return rows;
    }

    static void WriteFile(const std::string& path, const std::string& content)
    {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    e2e::XServer m_x;
};

TEST_F(XdndDropTest, GameFilesDroppedOnTheLocalViewBecomeTilesOnceEach)
{
    const std::string drops = m_temp.Path() + "drops/";
    const std::string single = drops + "Dropped Game.nes";
    const std::string nested = drops + "more/Nested 游戏.NES";
    WriteFile(single, "NES\x1a single");
    WriteFile(nested, "NES\x1a nested");
    WriteFile(drops + "readme.txt", "not a game");
    WriteFile(drops + "more/notes.gba", "another platform's file");

    ChildProcess quokka(Command(), Env({{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", m_x.Display()}}), true);
    ASSERT_FALSE(WaitForLine(quokka, "screenshot", "written").empty()) << "the first page never showed";
    const Spot origin = WindowOrigin();
    ASSERT_GE(origin.x, 0) << "the main window is not on the screen";
    ClickAt(origin, kMyGamesTab);
    ClickAt(origin, kLocalGamesTab);
    ClickAt(origin, kFcFilter);

    auto [code, output] = Drop(origin, {single, drops + "more", drops + "readme.txt"});
    EXPECT_EQ(code, 0) << "the view did not take the drop:\n" << output;
    EXPECT_FALSE(WaitForLine(quokka, "library: local tile", "Dropped Game.nes").empty());
    EXPECT_FALSE(WaitForLine(quokka, "library: local tile", "Nested 游戏.NES").empty());

    // The same file again: the view takes the drop, the library already has it.
    auto [again, againOutput] = Drop(origin, {single});
    EXPECT_EQ(again, 0) << againOutput;

    quokka.Signal(SIGTERM);
    e2e::RunEnd end = WaitForEnd(quokka, 20000);
    ASSERT_TRUE(end.exitCode.has_value()) << end.Joined();
    EXPECT_EQ(*end.exitCode, 0) << end.Joined();
    EXPECT_FALSE(end.Printed("library: local tile")) << "a tile came twice or for a file of no game:\n"
                                                     << end.Joined();
    EXPECT_EQ(LocalRows(), (std::vector<std::string>{single, nested}));
    ExpectNoSanitizerReport(end);
    ExpectStoreIntact();
}

} // namespace
