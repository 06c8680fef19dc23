// Showing a file in the file manager, against stand-in dbus-send and xdg-open programs put first on
// PATH: each records its arguments in a file, and the test waits for the helper process to end.

#include "platform/ShowItem.h"

#include "platform/Process.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace {

class ShowItemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string bin = m_dir.Path() + "bin/";
        std::filesystem::create_directories(bin);
        WriteScript(bin + "xdg-open", "printf '%s' \"$1\" > \"$SHOW_ITEM_RECORDS/xdg-open\"\n");
        WriteScript(bin + "dbus-send", "printf '%s\\n' \"$@\" > \"$SHOW_ITEM_RECORDS/dbus-send\"\n"
                                       "exit \"${SHOW_ITEM_BUS_STATUS:-0}\"\n");
        m_oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS"))
            m_oldBus = bus;
        setenv("PATH", (bin + ":" + m_oldPath).c_str(), 1);
        setenv("SHOW_ITEM_RECORDS", m_dir.Path().c_str(), 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void TearDown() override
    {
        setenv("PATH", m_oldPath.c_str(), 1);
        if (m_oldBus)
            setenv("DBUS_SESSION_BUS_ADDRESS", m_oldBus->c_str(), 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
        unsetenv("SHOW_ITEM_BUS_STATUS");
        unsetenv("SHOW_ITEM_RECORDS");
    }

    static void WriteScript(const std::string& path, const std::string& body)
    {
        ASSERT_TRUE(testsupport::WriteFile(path, "#!/bin/sh\n" + body));
        ::chmod(path.c_str(), 0755);
    }

    // Runs ShowItem and waits for its helper; the exit status of the helper.
    int Show(const std::string& path)
    {
        platform::ProcessHandle helper = platform::ShowItem(path);
        EXPECT_TRUE(helper) << path;
        if (!helper)
            return -1;
        EXPECT_EQ(helper.Wait(10000), platform::WaitResult::Exited);
        return helper.ExitCode().value_or(-1);
    }
    std::string Record(const char* program) const { return testsupport::ReadFile(m_dir.Path() + program); }
    bool Ran(const char* program) const { return std::filesystem::exists(m_dir.Path() + program); }

    testsupport::TempDir m_dir;
    std::string m_oldPath;
    std::optional<std::string> m_oldBus;
};

TEST_F(ShowItemTest, WithoutSessionBusOpensTheFolderThatHoldsTheFile)
{
    const std::string game = m_dir.Path() + "rom/LocalGame/FC/it's \"one\", two.nes";
    EXPECT_EQ(Show(game), 0);
    EXPECT_FALSE(Ran("dbus-send"));
    EXPECT_EQ(Record("xdg-open"), m_dir.Path() + "rom/LocalGame/FC/");

    // A folder (a downloaded game without a file name) is opened itself.
    std::filesystem::remove(m_dir.Path() + "xdg-open");
    EXPECT_EQ(Show(m_dir.Path() + "rom/FC/20001/"), 0);
    EXPECT_EQ(Record("xdg-open"), m_dir.Path() + "rom/FC/20001");
}

TEST_F(ShowItemTest, FileManagerOnTheBusShowsTheFileAndNothingIsOpened)
{
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent-bus", 1);
    const std::string game = m_dir.Path() + "rom/a b,c%.nes";
    EXPECT_EQ(Show(game), 0);
    EXPECT_FALSE(Ran("xdg-open"));
    const std::string call = Record("dbus-send");
    EXPECT_NE(call.find("--dest=org.freedesktop.FileManager1\n"), std::string::npos) << call;
    EXPECT_NE(call.find("org.freedesktop.FileManager1.ShowItems\n"), std::string::npos) << call;
    // One array item: the comma is escaped, so dbus-send cannot split the URI.
    EXPECT_NE(call.find("array:string:" + platform::FileUri(game) + "\n"), std::string::npos) << call;
    EXPECT_NE(platform::FileUri(game).find("a%20b%2Cc%25.nes"), std::string::npos);
}

TEST_F(ShowItemTest, BusWithoutFileManagerFallsBackToTheFolder)
{
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent-bus", 1);
    setenv("SHOW_ITEM_BUS_STATUS", "1", 1);
    EXPECT_EQ(Show(m_dir.Path() + "rom/FC/x.nes"), 0);
    EXPECT_TRUE(Ran("dbus-send"));
    EXPECT_EQ(Record("xdg-open"), m_dir.Path() + "rom/FC/");
}

TEST_F(ShowItemTest, NothingStartsForAnEmptyOrRelativePath)
{
    EXPECT_FALSE(platform::ShowItem(""));
    EXPECT_FALSE(platform::ShowItem("rom/FC/x.nes"));
    EXPECT_FALSE(Ran("xdg-open"));
}

TEST(QuoteCommandLineArgumentTest, SplittingGivesEveryArgumentBack)
{
    const std::vector<std::string> arguments = {"plain",         "with space", "",
                                                "quote\"inside", "trailing\\", "back\\\\slashes\\\"quote",
                                                "a\\b c",        "'single'"};
    std::string line;
    for (const std::string& argument : arguments)
        line += platform::QuoteCommandLineArgument(argument) + " ";
    EXPECT_EQ(platform::SplitCommandLine(line), arguments);
}

} // namespace
