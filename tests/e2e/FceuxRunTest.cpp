// The real quokka on an X server of the test's own, with the demo's content: a click on a local FC
// game's 启动 installs the FC emulator package from the stand-in server, starts the game in Debian's
// fceux and shows the key map tips beside it; when the game ends the tips window hides. The test
// drives the program with real X input (xdotool) and keeps a screenshot of the running game
// (ImageMagick's import) in the build folder.
#include "tests/e2e/EndToEnd.h"
#include "tests/e2e/XServer.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;
using testsupport::ChildProcess;

namespace {

constexpr int kScreenWidth = 1280; // XServer's screen

// Points inside the main window (1240 by 680) that the test clicks: the "我的游戏" tab, its
// "本地游戏" tab, the first tile's "启动" button; and the installer window's button (its last state
// is "确定").
constexpr int kMyGameX = 360, kMyGameY = 35;
constexpr int kLocalGameX = 222, kLocalGameY = 106;
constexpr int kStartX = 286, kStartY = 298;
constexpr int kInstallerButtonX = 352, kInstallerButtonY = 167;

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The first folder of $PATH (and /usr/games, where Debian puts its games) that holds `program`.
std::string FindProgram(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(std::string(path != nullptr ? path : "/usr/bin:/bin") + ":/usr/games");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0)
            return folder;
    return {};
}

struct WindowBox {
    long long id = 0;
    int x = 0, y = 0, width = 0, height = 0;
};

class FceuxRunTest : public e2e::EndToEndTest {
protected:
    void SetUp() override
    {
        for (const char* program : {"Xvfb", "fceux", "xdotool", "import", "convert"})
            if (FindProgram(program).empty())
                GTEST_SKIP() << program << " is not installed (scripts/install-deps.sh installs it)";
        EndToEndTest::SetUp();
        ASSERT_TRUE(m_x.Start()) << "Xvfb did not start";

        // The keyboard is stored as the control method, so no dialog asks; the tips are wanted.
        std::ofstream(m_program.Path() + "quokka.cfg")
            << "[Set]\nRomPath=" << m_temp.Path() << "games/\nHandleType=2\nShowKeyMapTips=1\n";
        fs::copy(QUOKKA_LOCALGAMERES_DIR, m_program.Path() + "LocalGameRes", fs::copy_options::recursive);
        fs::create_directories(m_temp.Path() + "games/LocalGame/FC");
        for (const auto& entry :
             fs::recursive_directory_iterator(std::string(QUOKKA_E2E_DEMO_DIR) + "/download")) {
            if (entry.path().extension() == ".nes") {
                fs::copy_file(entry.path(), m_temp.Path() + "games/LocalGame/FC/demo.nes");
                break;
            }
        }
        ASSERT_TRUE(fs::exists(m_temp.Path() + "games/LocalGame/FC/demo.nes")) << "the demo has no FC game";
    }

    void TearDown() override
    {
        // fceux runs in a process group of its own: a failed test ends it here.
        if (const pid_t pid = GamePid(); pid > 0)
            ::kill(pid, SIGKILL);
        m_quokka.reset();
        EndToEndTest::TearDown();
    }

    // Runs a tool on the test's display; its output lines, empty when it failed.
    std::vector<std::string> Tool(const std::vector<std::string>& argv)
    {
        ChildProcess tool(argv, {{"DISPLAY", m_x.Display()}});
        std::vector<std::string> lines;
        while (auto line = tool.ReadLine(10000))
            lines.push_back(*line);
        return tool.Wait(10000) == 0 ? lines : std::vector<std::string>{};
    }

    // The first visible top-level window whose name matches `pattern` (a regular expression).
    std::optional<WindowBox> FindWindow(const std::string& pattern)
    {
        std::optional<WindowBox> box;
        for (const std::string& line : Tool({"/usr/bin/env", "xdotool", "search", "--onlyvisible", "--name",
                                             pattern, "getwindowgeometry", "--shell", "%1"})) {
            const size_t equals = line.find('=');
            if (equals == std::string::npos)
                continue;
            const std::string key = line.substr(0, equals);
            const long long value = std::atoll(line.c_str() + equals + 1);
            box = box.value_or(WindowBox{});
            if (key == "WINDOW")
                box->id = value;
            else if (key == "X")
                box->x = static_cast<int>(value);
            else if (key == "Y")
                box->y = static_cast<int>(value);
            else if (key == "WIDTH")
                box->width = static_cast<int>(value);
            else if (key == "HEIGHT")
                box->height = static_cast<int>(value);
        }
        return box;
    }

    void Click(const WindowBox& window, int x, int y)
    {
        Tool({"/usr/bin/env", "xdotool", "mousemove", std::to_string(window.x + x),
              std::to_string(window.y + y), "click", "1"});
    }

    // Reads the program's output until `done` holds or `timeoutMs` pass; the lines are kept for
    // the failure messages. The program's output (its traces, fceux's messages) is what the test
    // waits on between looks.
    bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
    {
        const long long deadline = NowMs() + timeoutMs;
        for (;;) {
            if (done())
                return true;
            const long long left = deadline - NowMs();
            if (left <= 0)
                return false;
            if (auto line = m_quokka->ReadLine(static_cast<int>(std::min(left, 200LL))))
                m_output += *line + "\n";
        }
    }

    bool Printed(const std::string& text) const { return m_output.find(text) != std::string::npos; }

    // The process running the demo game in fceux, 0 when there is none.
    pid_t GamePid() const
    {
        const std::string game = m_temp.Path() + "games/LocalGame/FC/demo.nes";
        std::error_code ec;
        for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
            std::ifstream file(it->path() / "cmdline", std::ios::binary);
            std::string cmdline((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            if (cmdline.rfind("fceux", 0) == 0 && cmdline.find(game) != std::string::npos)
                return static_cast<pid_t>(std::atoi(it->path().filename().c_str()));
        }
        return 0;
    }

    // The colour of a point of a PNG, as ImageMagick names it ("srgb(63,191,255)").
    std::string PixelAt(const std::string& png, int x, int y)
    {
        auto lines = Tool({"/usr/bin/env", "convert", png, "-format",
                           "%[pixel:p{" + std::to_string(x) + "," + std::to_string(y) + "}]\\n", "info:"});
        return lines.empty() ? std::string() : lines.front();
    }

    e2e::XServer m_x;
    std::unique_ptr<ChildProcess> m_quokka;
    std::string m_output;
};

TEST_F(FceuxRunTest, ALocalFcGameInstallsItsEmulatorRunsInFceuxWithTheTipsBesideItAndTheTipsHideAtItsEnd)
{
    m_quokka = std::make_unique<ChildProcess>(
        Command(),
        Env({{"QT_QPA_PLATFORM", "xcb"},
             {"DISPLAY", m_x.Display()},
             {"SDL_AUDIODRIVER", "dummy"},
             {"PATH", std::string(std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin") +
                          ":/usr/games"}}),
        true);
    ASSERT_TRUE(WaitUntil([&] { return Printed("library: local tile"); }, 30000)) << m_output;
    std::optional<WindowBox> main;
    ASSERT_TRUE(WaitUntil([&] { return (main = FindWindow("^Quokka模拟器$")).has_value(); }, 10000));

    // The tabs and the tile are clicked until the launch begins (the first clicks may reach the
    // window before it takes input); the emulator's installer then comes up, and its button, once
    // the package is in place, reads "确定". A click that came while it still read "取消" ends the
    // launch, and the tile is clicked again.
    const std::string folder = m_program.Path() + "Emulator/FC/fceux/";
    std::optional<WindowBox> game;
    for (int attempt = 0; attempt < 4 && !game; ++attempt) {
        Click(*main, kMyGameX, kMyGameY);
        Click(*main, kLocalGameX, kLocalGameY);
        Click(*main, kStartX, kStartY);
        std::optional<WindowBox> installer;
        WaitUntil([&] { return (installer = FindWindow("^下载文件$")) || (game = FindWindow("^FCEUX")); },
                  5000);
        if (installer) {
            ASSERT_TRUE(WaitUntil([&] { return fs::exists(folder + "fceux.sh"); }, 30000)) << m_output;
            for (int click = 0; click < 10 && FindWindow("^下载文件$"); ++click) {
                Click(*installer, kInstallerButtonX, kInstallerButtonY);
                WaitUntil([&] { return !FindWindow("^下载文件$"); }, 1000);
            }
        }
        WaitUntil([&] { return (game = FindWindow("^FCEUX")).has_value(); }, 15000);
    }
    ASSERT_TRUE(game) << "fceux never showed its window:\n" << m_output;
    std::optional<WindowBox> tips;
    ASSERT_TRUE(WaitUntil([&] { return (tips = FindWindow("^操作提示$")).has_value(); }, 10000)) << m_output;
    EXPECT_TRUE(fs::exists(m_program.Path() + "database/running-game.rec")) << "the run is on record";

    // The game draws: left of the block in the middle, fceux's picture has the demo's screen
    // colour, not the black of an emulator without a game. The tips stand at the screen's right
    // edge.
    const std::string shot = QUOKKA_E2E_SHOT_DIR "/fceux-run.png";
    const int middleX = game->x + game->width / 4, middleY = game->y + game->height / 2;
    std::string colour;
    ASSERT_TRUE(WaitUntil(
        [&] {
            Tool({"/usr/bin/env", "import", "-window", "root", shot});
            colour = PixelAt(shot, middleX, middleY);
            return !colour.empty() && colour != "srgb(0,0,0)" && colour != "black";
        },
        15000))
        << "fceux shows no game: " << colour << "\n"
        << m_output;
    std::printf("[ figures  ] screenshot %s: fceux at %d,%d %dx%d (picture %s), tips at %d,%d %dx%d\n",
                shot.c_str(), game->x, game->y, game->width, game->height, colour.c_str(), tips->x, tips->y,
                tips->width, tips->height);
    EXPECT_EQ(tips->x + tips->width, kScreenWidth);
    EXPECT_FALSE(Printed("is not installed")) << m_output;

    // The game ends as a killed program does; the tips hide, the configuration is taken back and
    // the record goes.
    const pid_t pid = GamePid();
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return !FindWindow("^操作提示$"); }, 10000)) << "the tips stay:\n"
                                                                             << m_output;
    EXPECT_TRUE(
        WaitUntil([&] { return !fs::exists(m_program.Path() + "database/running-game.rec"); }, 10000));
    EXPECT_TRUE(fs::exists(folder + "UserKeyBoardCfg/fceux.cfg"));

    m_quokka->Signal(SIGTERM);
    e2e::RunEnd end = WaitForEnd(*m_quokka, 20000);
    EXPECT_EQ(end.exitCode, 0) << m_output << end.Joined();
    ExpectNoSanitizerReport(end);
    ExpectStoreIntact();
}

} // namespace
