// The real quokka in a temporary portable folder, pointed at the real stand-in server by the
// servers.cfg the server writes, drawing on Qt's offscreen platform.
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::TempDir;

namespace {

class QuokkaEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::copy_file(QUOKKA_EXECUTABLE, m_program.Path() + "quokka");
        fs::create_directories(m_temp.Path() + "run");
        m_server = std::make_unique<ChildProcess>(
            std::vector<std::string>{QUOKKA_SERVER_EXECUTABLE, "--port", "0", "--data", QUOKKA_E2E_DEMO_DIR,
                                     "--write-servers-cfg", m_program.Path() + "servers.cfg"},
            std::map<std::string, std::string>{}, true);
        std::string first = m_server->ReadLine(20000).value_or("");
        ASSERT_NE(first.find("listening on 127.0.0.1:"), std::string::npos) << first;
        ASSERT_TRUE(fs::exists(m_program.Path() + "servers.cfg"));
    }
    void TearDown() override
    {
        if (m_server) {
            m_server->Signal(SIGTERM);
            m_server->Wait(15000);
        }
    }

    std::vector<std::string> Command() const { return {m_program.Path() + "quokka"}; }
    std::map<std::string, std::string> Env() const
    {
        return {{"TMPDIR", m_temp.Path()},
                {"XDG_RUNTIME_DIR", m_temp.Path() + "run"},
                {"QUOKKA_TRACE", "1"},
                {"QT_QPA_PLATFORM", "offscreen"},
                {"QUOKKA_SCREENSHOT", Screenshot()},
                {"LSAN_OPTIONS", "suppressions=" QUOKKA_LSAN_SUPPRESSIONS}};
    }
    std::string Screenshot() const { return m_temp.Path() + "shot.png"; }

    // Reads output lines until one contains `text` (and `also`, when given); the line, or empty
    // when the output ends first.
    static std::string WaitForLine(ChildProcess& child, const std::string& text, const std::string& also = {})
    {
        while (auto line = child.ReadLine(30000))
            if (line->find(text) != std::string::npos &&
                (also.empty() || line->find(also) != std::string::npos))
                return *line;
        return {};
    }

    TempDir m_program;
    TempDir m_temp;
    std::unique_ptr<ChildProcess> m_server;
};

TEST_F(QuokkaEndToEndTest, FirstPageShowsTilesWithIconsAndASecondStartShowsTheFirst)
{
    ChildProcess quokka(Command(), Env(), true);

    const std::string prefix = "catalogue page 1: ";
    std::string page = WaitForLine(quokka, prefix);
    ASSERT_FALSE(page.empty()) << "the first catalogue page never arrived";
    EXPECT_GT(std::atoi(page.c_str() + page.find(prefix) + prefix.size()), 0) << page;
    EXPECT_NE(page.find("first: "), std::string::npos) << "tiles carry the games' names: " << page;

    ASSERT_FALSE(WaitForLine(quokka, "screenshot", "written").empty()) << "the window was never captured";
    ASSERT_TRUE(fs::exists(Screenshot()));
    EXPECT_GT(fs::file_size(Screenshot()), 20000u) << "a rendered window with tiles is no small image";

    // The icons landed in the image cache.
    int icons = 0;
    for (const auto& entry : fs::recursive_directory_iterator(m_temp.Path() + "QuokkaAppStore/cache/image"))
        icons += entry.is_regular_file() && entry.file_size() > 0;
    EXPECT_GT(icons, 0);

    ChildProcess second(Command(), Env(), true);
    EXPECT_EQ(second.Wait(15000), 0);
    EXPECT_FALSE(WaitForLine(quokka, "show requested").empty());

    quokka.Signal(SIGTERM);
    EXPECT_EQ(quokka.Wait(20000), 0) << "SIGTERM ends the program through its normal shutdown";
}

} // namespace
