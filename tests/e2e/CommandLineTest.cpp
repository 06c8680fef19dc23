// The real program's command line: what it answers before any Qt object exists (so without a display
// and without touching its folder), and the start it refuses when no display can be reached.
#include "tests/e2e/EndToEnd.h"

#include <csignal>
#include <filesystem>

namespace fs = std::filesystem;
using testsupport::ChildProcess;

namespace {

class CommandLineTest : public e2e::EndToEndTest {
protected:
    // An environment without any display: no X11 or Wayland display, Qt's default platform.
    std::map<std::string, std::string> NoDisplayEnv(const std::string& platform = "") const
    {
        return Env({{"QT_QPA_PLATFORM", platform},
                    {"DISPLAY", ""},
                    {"WAYLAND_DISPLAY", ""},
                    {"WAYLAND_SOCKET", ""}});
    }

    e2e::RunEnd Run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                    bool withStderr)
    {
        std::vector<std::string> argv = Command();
        argv.insert(argv.end(), args.begin(), args.end());
        ChildProcess quokka(argv, env, withStderr);
        return WaitForEnd(quokka, 30000);
    }

    // A start that ended before the program ran: no lock, socket, database or work folder made.
    void ExpectFolderUntouched(const std::string& what) const
    {
        for (const char* name : {"database", "quokkaapp.lock", "quokkaapp.sock"})
            EXPECT_FALSE(fs::exists(m_program.Path() + name)) << what << " left " << name;
        EXPECT_FALSE(fs::exists(m_temp.Path() + "QuokkaAppStore")) << what;
    }
};

TEST_F(CommandLineTest, HelpAndVersionAnswerOnStdoutWithoutADisplay)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"--version", "--help"}}) {
        const e2e::RunEnd end = Run(args, NoDisplayEnv(), false);
        EXPECT_EQ(end.exitCode, std::optional<int>(0)) << args[0] << ":\n" << end.Joined();
        EXPECT_TRUE(end.Printed("Usage: quokka")) << args[0] << ":\n" << end.Joined();
        ExpectNoSanitizerReport(end);
    }
    const e2e::RunEnd version = Run({"--version"}, NoDisplayEnv(), false);
    EXPECT_EQ(version.exitCode, std::optional<int>(0)) << version.Joined();
    ASSERT_EQ(version.output.size(), 1u) << version.Joined();
    EXPECT_EQ(version.output[0], std::string("quokka ") + QUOKKA_VERSION_EXPECTED);
    ExpectFolderUntouched("--help and --version");
}

// Whatever else is asked, an argument the program does not know is refused with the usage on
// stderr and status 2, before anything starts.
TEST_F(CommandLineTest, AnUnknownArgumentPrintsTheUsageOnStderrAndEndsWithTwo)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--help", "--bogus"}, {"game.nes"}, {"-session"}, {"--version=1"}}) {
        const e2e::RunEnd quiet = Run(args, Env(), false);
        EXPECT_EQ(quiet.exitCode, std::optional<int>(2)) << args.back() << ":\n" << quiet.Joined();
        EXPECT_TRUE(quiet.output.empty()) << args.back() << " wrote on stdout:\n" << quiet.Joined();

        const e2e::RunEnd said = Run(args, Env(), true);
        EXPECT_TRUE(said.Printed("quokka: unknown option '" + args.back() + "'")) << said.Joined();
        EXPECT_TRUE(said.Printed("Usage: quokka")) << said.Joined();
        ExpectNoSanitizerReport(said);
    }
    ExpectFolderUntouched("an unknown argument");
}

TEST_F(CommandLineTest, WithoutADisplayTheStartIsRefusedWithOneAndALine)
{
    for (const char* platform : {"", "xcb", "wayland;xcb", "xcb:nograb"}) {
        const e2e::RunEnd end = Run({}, NoDisplayEnv(platform), true);
        EXPECT_EQ(end.exitCode, std::optional<int>(1)) << "'" << platform << "':\n" << end.Joined();
        EXPECT_TRUE(end.Printed("quokka: no display found")) << "'" << platform << "':\n" << end.Joined();
        ExpectNoSanitizerReport(end);
    }
    ExpectFolderUntouched("a start without a display");
}

// A desktop session manager restores the program with "-session NAME"; a platform that needs no
// display server (one of a list) starts without one.
TEST_F(CommandLineTest, ARestoredSessionStartsTheProgramOnAPlatformThatNeedsNoDisplay)
{
    ChildProcess quokka({Command()[0], "-session", "10d4f7a6c1_1"}, NoDisplayEnv("xcb;offscreen"), true);
    ASSERT_FALSE(WaitForLine(quokka, "start-up: main window created").empty()) << "the program did not start";
    quokka.Signal(SIGTERM);
    const e2e::RunEnd end = WaitForEnd(quokka, 30000);
    EXPECT_EQ(end.exitCode, std::optional<int>(0)) << end.Joined();
    ExpectNoSanitizerReport(end);
}

} // namespace
