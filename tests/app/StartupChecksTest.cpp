// What start-up checks in the settings files before the services run, each said in a box that the
// tests answer. The database's checks are run by the end-to-end start-up tests.
#include "app/StartupChecks.h"

#include "foundation/AppSettings.h"
#include "foundation/ServerEndpoints.h"
#include "tests/support/TempDir.h"
#include "ui/MessageBox.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class StartupChecksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedEndpoints = GetServerEndpoints();
        m_savedAnswerer = UiLib::SetMessageBoxAnswerer([this](UiLib::HWND, const UiLib::CDuiString& text,
                                                              const UiLib::CDuiString& caption, UiLib::UINT) {
            m_boxes.push_back(caption.ToUtf8() + "|" + text.ToUtf8());
            return UiLib::IDOK;
        });
    }
    void TearDown() override
    {
        UiLib::SetMessageBoxAnswerer(m_savedAnswerer);
        SetServerEndpoints(m_savedEndpoints);
    }

    std::string Program() const { return m_program.Path(); }

    testsupport::TempDir m_program;
    std::vector<std::string> m_boxes;

private:
    ServerEndpoints m_savedEndpoints;
    UiLib::MessageBoxAnswerer m_savedAnswerer;
};

TEST_F(StartupChecksTest, SettingsFilesAreSoundOnlyAsReadableSettingLines)
{
    const std::string path = Program() + "some.cfg";
    EXPECT_EQ(SettingsFileProblem(path), "") << "a missing file is no problem";
    ASSERT_TRUE(WriteFile(path, "; comment\n# comment\n\n[Set]\r\nRomPath = /games/\n  [User]  \nUid=7"));
    EXPECT_EQ(SettingsFileProblem(path), "");

    ASSERT_TRUE(WriteFile(path, "[Set]\nRomPath=/games/\n\x7f\x45LF\x02\x01\n"));
    EXPECT_EQ(SettingsFileProblem(path), "line 3 is not a setting");
    ASSERT_TRUE(WriteFile(path, std::string("[Set]\nRomPath=/ga\0mes/\n", 22)));
    EXPECT_EQ(SettingsFileProblem(path), "holds NUL bytes");
    ASSERT_TRUE(WriteFile(path, "[Set]\n" + std::string(CAppSettings::kMaxSettingsFileBytes, ';')));
    EXPECT_NE(SettingsFileProblem(path).find("larger than"), std::string::npos);
    fs::remove(path);
    fs::create_directories(path);
    EXPECT_EQ(SettingsFileProblem(path), "not a file");
}

TEST_F(StartupChecksTest, AnUnreadableServersFileIsNamedAndEveryBuiltInAddressIsUsed)
{
    const std::string path = Program() + "servers.cfg";
    ASSERT_TRUE(WriteFile(path, "[Servers]\nApiBase=http://127.0.0.1:9/clientapi/\n\x01\x02garbage\n"));
    LoadServerSettingsOrSay(nullptr, path);
    EXPECT_EQ(m_boxes,
              std::vector<std::string>{"提示|服务器设置文件无法读取，将使用默认的服务器地址\n" + path});
    EXPECT_EQ(GetServerEndpoints().ApiBase, DefaultServerEndpoints().ApiBase);

    m_boxes.clear();
    ASSERT_TRUE(WriteFile(path, "[Servers]\nApiBase=http://127.0.0.1:9/clientapi/\n"));
    LoadServerSettingsOrSay(nullptr, path);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(GetServerEndpoints().ApiBase, "http://127.0.0.1:9/clientapi/");
}

TEST_F(StartupChecksTest, ADamagedSettingsFileThatTheFirstRunRewritesIsCopiedAsideFirst)
{
    const std::string path = Program() + "quokka.cfg";
    const std::string damaged = "[User]\nUid=12345\nTicket=abc\n\x13\x88\x91 cut [Set]\nRom";
    ASSERT_TRUE(WriteFile(path, damaged));
    const std::string copy = KeepDamagedSettingsAside(nullptr, path);
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(ReadFile(copy), damaged);
    EXPECT_EQ(ReadFile(path), damaged) << "the file itself is read on as before";
    EXPECT_EQ(m_boxes, std::vector<std::string>{"提示|设置文件已损坏，已另存为" +
                                                fs::path(copy).filename().string() + "\n请重新设置游戏目录"});

    // With a library folder the first run does not come; a sound file keeps no copy either.
    m_boxes.clear();
    ASSERT_TRUE(WriteFile(path, "[Set]\nRomPath=/games/\n" + damaged));
    EXPECT_EQ(KeepDamagedSettingsAside(nullptr, path), "");
    ASSERT_TRUE(WriteFile(path, "[User]\nUid=12345\n"));
    EXPECT_EQ(KeepDamagedSettingsAside(nullptr, path), "");
    EXPECT_TRUE(m_boxes.empty());
}

} // namespace
