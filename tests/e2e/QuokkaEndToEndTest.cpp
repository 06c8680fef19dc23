// The real quokka in a temporary portable folder, pointed at the real stand-in server by the
// servers.cfg the server writes, drawing on Qt's offscreen platform.
#include "tests/e2e/EndToEnd.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;
using testsupport::ChildProcess;

namespace {

using QuokkaEndToEndTest = e2e::EndToEndTest;

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
    for (const auto& entry : fs::recursive_directory_iterator(ImageCache()))
        icons += entry.is_regular_file() && entry.file_size() > 0;
    EXPECT_GT(icons, 0);

    ChildProcess second(Command(), Env(), true);
    EXPECT_EQ(second.Wait(15000), 0);
    EXPECT_FALSE(WaitForLine(quokka, "show requested").empty());

    quokka.Signal(SIGTERM);
    e2e::RunEnd end = WaitForEnd(quokka, 20000);
    EXPECT_EQ(end.exitCode, 0) << "SIGTERM ends the program through its normal shutdown:\n" << end.Joined();
    ExpectNoSanitizerReport(end);
    ExpectStoreIntact();
}

} // namespace
