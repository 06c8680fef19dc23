#include "foundation/IniFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using testsupport::ReadFile;
using testsupport::WriteFile;

class IniFileTest : public ::testing::Test {
protected:
    std::string File() const { return m_dir.Path() + "test.ini"; }
    testsupport::TempDir m_dir;
};

TEST_F(IniFileTest, MissingFileSectionOrKeyGivesTheDefault)
{
    EXPECT_EQ(IniFile::GetString(File(), "Set", "IsTray", "1"), "1");
    WriteFile(File(), "[Other]\nIsTray=0\n[Set]\nRomPath=/games/\n");
    EXPECT_EQ(IniFile::GetString(File(), "Set", "IsTray", "1"), "1");
    EXPECT_EQ(IniFile::GetString(File(), "Missing", "RomPath", "d"), "d");
}

TEST_F(IniFileTest, NamesIgnoreCaseAndSpacingAndQuotesAreStripped)
{
    WriteFile(File(),
              "; comment\r\n  [ set ]  \r\n  romPATH =  /games/  \r\nName=\"quoted value\"\r\nOne='x'\r\n");
    EXPECT_EQ(IniFile::GetString(File(), "SET", "RomPath", ""), "/games/");
    EXPECT_EQ(IniFile::GetString(File(), "Set", "name", ""), "quoted value");
    EXPECT_EQ(IniFile::GetString(File(), "Set", "one", ""), "x");
    EXPECT_EQ(IniFile::GetString(File(), "Set", "; comment", "d"), "d");
}

TEST_F(IniFileTest, AByteOrderMarkBeforeTheFirstSectionIsReadPastAndKept)
{
    WriteFile(File(), "\xEF\xBB\xBF[Set]\r\nRomPath=/games/\r\n");
    EXPECT_EQ(IniFile::GetString(File(), "Set", "RomPath", ""), "/games/");
    ASSERT_TRUE(IniFile::WriteString(File(), "Set", "IsTray", "0"));
    EXPECT_EQ(ReadFile(File()), "\xEF\xBB\xBF[Set]\r\nRomPath=/games/\r\nIsTray=0\r\n");
}

TEST_F(IniFileTest, FirstSectionAndFirstKeyWin)
{
    WriteFile(File(), "[A]\nk=1\nk=2\n[a]\nk=3\n");
    EXPECT_EQ(IniFile::GetString(File(), "a", "K", ""), "1");
}

TEST_F(IniFileTest, WriteCreatesFileSectionAndKeyAndKeepsEverythingElse)
{
    ASSERT_TRUE(IniFile::WriteString(File(), "Set", "RomPath", "/g/"));
    EXPECT_EQ(ReadFile(File()), "[Set]\nRomPath=/g/\n");

    WriteFile(File(), "; keep me\r\n[Set]\r\nRomPath=/g/\r\n\r\n[User]\r\nUid=7\r\n");
    ASSERT_TRUE(IniFile::WriteString(File(), "set", "IsTray", "0"));
    ASSERT_TRUE(IniFile::WriteString(File(), "User", "uid", "8"));
    ASSERT_TRUE(IniFile::WriteString(File(), "New", "K", "v"));
    EXPECT_EQ(ReadFile(File()),
              "; keep me\r\n[Set]\r\nRomPath=/g/\r\nIsTray=0\r\n\r\n[User]\r\nuid=8\r\n[New]\r\nK=v\r\n");
}

TEST_F(IniFileTest, WriteToAFileWithoutFinalNewline)
{
    WriteFile(File(), "[Set]\nA=1");
    ASSERT_TRUE(IniFile::WriteString(File(), "Set", "B", "2"));
    EXPECT_EQ(ReadFile(File()), "[Set]\nA=1\nB=2\n");
}

TEST_F(IniFileTest, WriteIntoAMissingFolderFailsWithoutCreatingIt)
{
    EXPECT_FALSE(IniFile::WriteString(m_dir.Path() + "none/x.ini", "S", "K", "V"));
    struct stat info;
    EXPECT_NE(::stat((m_dir.Path() + "none").c_str(), &info), 0);
}

TEST_F(IniFileTest, DeleteKeyAndSection)
{
    WriteFile(File(), "[A]\nx=1\ny=2\n[B]\nz=3\n");
    ASSERT_TRUE(IniFile::DeleteKey(File(), "a", "X"));
    EXPECT_EQ(ReadFile(File()), "[A]\ny=2\n[B]\nz=3\n");
    ASSERT_TRUE(IniFile::DeleteSection(File(), "A"));
    EXPECT_EQ(ReadFile(File()), "[B]\nz=3\n");
    EXPECT_EQ(IniFile::GetKeys(File(), "b"), std::vector<std::string>{"z"});
}

TEST_F(IniFileTest, ReadValuesAreCutAt1023Units)
{
    std::string ascii(2000, 'a');
    ASSERT_TRUE(IniFile::WriteString(File(), "S", "K", ascii));
    EXPECT_EQ(IniFile::GetString(File(), "S", "K", ""), std::string(1023, 'a'));

    // A Chinese character is one unit but three bytes; the cut never splits one.
    std::string chinese;
    for (int i = 0; i < 1100; ++i)
        chinese += "游";
    ASSERT_TRUE(IniFile::WriteString(File(), "S", "C", chinese));
    EXPECT_EQ(IniFile::GetString(File(), "S", "C", "").size(), 1023u * 3);
}

TEST_F(IniFileTest, ConcurrentWritersLoseNoKey)
{
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([this, t] {
            for (int i = 0; i < 25; ++i)
                IniFile::WriteString(File(), "S" + std::to_string(t), "K" + std::to_string(i),
                                     std::to_string(i));
        });
    for (auto& w : writers)
        w.join();
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 25; ++i)
            EXPECT_EQ(IniFile::GetString(File(), "S" + std::to_string(t), "K" + std::to_string(i), "?"),
                      std::to_string(i));
}

TEST_F(IniFileTest, AWriteHoldingALineBreakIsRefusedAndAddsNoLines)
{
    ASSERT_TRUE(IniFile::WriteString(File(), "QuokkaApp", "RomPath", "/games/"));
    const std::string before = testsupport::ReadFile(File());
    for (const std::string& value : {std::string("/x/\n[QuokkaApp]\nIsTray=0"), std::string("a\rIsTray=0"),
                                     std::string("a\r\nIsTray=0")}) {
        EXPECT_FALSE(IniFile::WriteString(File(), "QuokkaApp", "RomPath", value));
        EXPECT_FALSE(IniFile::WriteString(File(), "QuokkaApp", "Key\nIsTray", "0"));
        EXPECT_FALSE(IniFile::WriteString(File(), "Other]\n[QuokkaApp", "IsTray", "0"));
    }
    EXPECT_EQ(testsupport::ReadFile(File()), before) << "the file is left as it was";
    EXPECT_EQ(IniFile::GetKeys(File(), "QuokkaApp"), std::vector<std::string>{"RomPath"});
    EXPECT_EQ(IniFile::GetString(File(), "QuokkaApp", "IsTray", "none"), "none");
}

TEST_F(IniFileTest, EmptySectionNameMeansTheKeysBeforeTheFirstHeader)
{
    // Written into a file that starts with a section: the keys go before its header.
    WriteFile(File(), "; made by the emulator\n[Input]\nJoystick1Using=0\n");
    ASSERT_TRUE(IniFile::WriteString(File(), "", "Joystick1Using", "2"));
    ASSERT_TRUE(IniFile::WriteStrings(File(), "", {{"Joystick1Using", "5"}, {"Joystick2Using", "3"}}));
    EXPECT_EQ(ReadFile(File()),
              "; made by the emulator\nJoystick1Using=5\nJoystick2Using=3\n[Input]\nJoystick1Using=0\n");
    EXPECT_EQ(IniFile::GetString(File(), "", "Joystick1Using", ""), "5");
    EXPECT_EQ(IniFile::GetString(File(), "Input", "Joystick1Using", ""), "0");
    EXPECT_EQ(IniFile::GetKeys(File(), ""), (std::vector<std::string>{"Joystick1Using", "Joystick2Using"}));
    ASSERT_TRUE(IniFile::DeleteKey(File(), "", "Joystick2Using"));
    EXPECT_EQ(IniFile::GetString(File(), "", "Joystick2Using", "none"), "none");

    // A new file gets the key alone, without a header; a "[]" header is a section of its own later on.
    const std::string fresh = m_dir.Path() + "fresh.ini";
    ASSERT_TRUE(IniFile::WriteString(fresh, "", "K", "v"));
    EXPECT_EQ(ReadFile(fresh), "K=v\n");
    WriteFile(fresh, "[A]\nx=1\n[]\nK=late\n");
    EXPECT_EQ(IniFile::GetString(fresh, "", "K", "none"), "none");
}
