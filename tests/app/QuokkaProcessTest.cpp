// The real quokka executable in a temporary portable folder.
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::TempDir;

namespace {

class QuokkaProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::copy_file(QUOKKA_EXECUTABLE, m_program.Path() + "quokka");
        fs::create_directories(m_temp.Path() + "run");
        fs::permissions(m_temp.Path() + "run", fs::perms::owner_all); // a runtime folder is private
    }

    std::vector<std::string> Command() const { return {m_program.Path() + "quokka"}; }
    std::map<std::string, std::string> Env() const
    {
        // The main window runs on Qt's offscreen platform; the leak checker of sanitised builds
        // skips what the system libraries under Qt keep for the process's life.
        return {{"TMPDIR", m_temp.Path()},
                {"XDG_RUNTIME_DIR", m_temp.Path() + "run"},
                {"QUOKKA_TRACE", "1"},
                {"QT_QPA_PLATFORM", "offscreen"},
                {"LSAN_OPTIONS", "suppressions=" QUOKKA_LSAN_SUPPRESSIONS}};
    }

    // Reads output lines until one contains `text`; false when the output ends first.
    static bool WaitForLine(ChildProcess& child, const std::string& text)
    {
        while (auto line = child.ReadLine(15000))
            if (line->find(text) != std::string::npos)
                return true;
        return false;
    }

    TempDir m_program;
    TempDir m_temp;
};

TEST_F(QuokkaProcessTest, SecondStartShowsTheFirstAndBothEndCleanly)
{
    testsupport::WriteFile(m_program.Path() + "quokka.cfg", "[Set]\nRomPath=" + m_temp.Path() + "Games/\n");
    ChildProcess first(Command(), Env(), true);
    ASSERT_TRUE(WaitForLine(first, "this is the first instance"))
        << "the first start must hold the lock first";

    // The second start finds the first (waiting while it is still starting) and exits with 0.
    ChildProcess second(Command(), Env(), true);
    EXPECT_EQ(second.Wait(15000), 0);
    ASSERT_TRUE(WaitForLine(first, "show requested"));

    // By the time the first answers, its folders are in place.
    EXPECT_TRUE(fs::is_directory(m_temp.Path() + "QuokkaAppStore/cache/image/arcade"));
    EXPECT_TRUE(fs::is_directory(m_temp.Path() + "QuokkaAppStore/cache/image/pc"));
    EXPECT_TRUE(fs::is_directory(m_temp.Path() + "Games/LocalGame/MAMEPLUS"));

    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(15000), 0) << "SIGTERM ends the program through its normal shutdown";
}

TEST_F(QuokkaProcessTest, SigtermWhileAModalDialogIsOpenEndsTheDialogAndShutsDownNormally)
{
    // A worker asks for a message box over the main window, as services do; nobody answers it.
    testsupport::WriteFile(m_program.Path() + "quokka.cfg", "[Set]\nRomPath=" + m_temp.Path() + "Games/\n");
    std::map<std::string, std::string> env = Env();
    env["QUOKKA_TEST_MESSAGE_BOX"] = "Quokka";
    ChildProcess quokka(Command(), env, true);
    ASSERT_TRUE(WaitForLine(quokka, "test message box: open"));

    quokka.Signal(SIGTERM);
    EXPECT_TRUE(WaitForLine(quokka, "test message box: answered"))
        << "the box's loop ends and its worker gets an answer";
    EXPECT_TRUE(WaitForLine(quokka, "shutdown: finished"));
    EXPECT_EQ(quokka.Wait(15000), 0) << "the program shuts down as after any SIGTERM";
}

} // namespace
