#include "foundation/AppSettings.h"
#include "foundation/IniFile.h"
#include "platform/CodePage.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using testsupport::ReadFile;
using testsupport::WriteFile;

class AppSettingsTest : public ::testing::Test {
protected:
    std::string File() const { return m_dir.Path() + "quokka.cfg"; }
    testsupport::TempDir m_dir;
};

TEST_F(AppSettingsTest, NoFileGivesTheDefaults)
{
    CAppSettings settings(File());
    EXPECT_EQ(settings.RomPath(), "");
    EXPECT_EQ(settings.UpdateType(), "0");
    EXPECT_EQ(settings.HandleType(), "0");
    EXPECT_EQ(settings.ShowKeyMapTips(), "1");
    EXPECT_EQ(settings.AutoRun(), "0");
    EXPECT_EQ(settings.IsTray(), "1");
    UserIdentity user{"x", "y"};
    settings.LoadUser(user);
    EXPECT_EQ(user.Uid, "");
    EXPECT_EQ(user.Ticket, "");
}

TEST_F(AppSettingsTest, SaveAfterOneChangeRewritesAllSixKeysInOrder)
{
    WriteFile(File(), "[Set]\nHandleType=01\nRomPath=/games/\n");
    CAppSettings settings(File());
    EXPECT_EQ(settings.HandleType(), "01") << "values are whole strings, never normalised";
    settings.SetIsTray("0");
    settings.Save();
    EXPECT_EQ(ReadFile(File()), "[Set]\nHandleType=01\nRomPath=/games/\nUpdateType=0\nShowKeyMapTips=1\nAutoRun=0\n"
                                "IsTray=0\n");
}

TEST_F(AppSettingsTest, ValueWrittenByOneInstanceIsReadByTheNext)
{
    {
        CAppSettings first(File());
        first.SetRomPath("/home/u/游戏/");
        first.SetHandleType("2");
        first.Save();
    }
    CAppSettings second(File());
    EXPECT_EQ(second.RomPath(), "/home/u/游戏/");
    EXPECT_EQ(second.HandleType(), "2");
}

TEST_F(AppSettingsTest, UserPairRoundTripsAndStaysApartFromSet)
{
    CAppSettings settings(File());
    settings.SaveUser({"10086", "a%2Fb+c"});
    EXPECT_EQ(ReadFile(File()), "[User]\nUid=10086\nTicket=a%2Fb+c\n");
    UserIdentity user;
    CAppSettings(File()).LoadUser(user);
    EXPECT_EQ(user.Uid, "10086");
    EXPECT_EQ(user.Ticket, "a%2Fb+c");
    EXPECT_EQ(CAppSettings(File()).RomPath(), "");
}

TEST_F(AppSettingsTest, GbkCodePageStoresUtf8InTheFile)
{
    std::string saved = platform::ProcessCodePage();
    platform::SetProcessCodePage("GBK");
    {
        CAppSettings settings(File());
        settings.SetRomPath("/\xD3\xCE\xCF\xB7/"); // "/游戏/" in GBK
        settings.Save();
    }
    EXPECT_EQ(IniFile::GetString(File(), "Set", "RomPath", ""), "/游戏/");
    EXPECT_EQ(CAppSettings(File()).RomPath(), "/\xD3\xCE\xCF\xB7/");
    platform::SetProcessCodePage(saved);
}
