#include "emulator/LocalGameImport.h"

#include "demo/DemoZip.h"
#include "foundation/IniFile.h"
#include "foundation/StringConv.h"
#include "platform/CodePage.h"
#include "tests/emulator/LocalGameTestFixture.h"

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class LocalGameImportTest : public localgametest::LocalGameFixture {
protected:
    void WriteArcadeResources()
    {
        fs::create_directories(m_resources.InstancePath + "LocalGameRes/gamelist");
        fs::create_directories(m_resources.InstancePath + "LocalGameRes/icon");
        testsupport::WriteFile(m_resources.InstancePath + "LocalGameRes/gamelist/arcade_ch.ini",
                               "[other]\nqk1=wrong\n[games]\nqk1=街机之王\nqk2=\nQK3 = Third One\n");
        CDemoZip zip(m_resources.InstancePath + "LocalGameRes/icon/arcade.zip");
        zip.Add("qk1.png", "png of qk1");
        zip.Add("qk2.jpg", "jpg of qk2");
        zip.Add("qk3.ico", "ico of qk3");
        zip.Add("qk3.png", "png of qk3");
        zip.Add("qk4.png", std::string(9 * 1024 * 1024, '\0')); // past any icon's size
        zip.Close();
    }
};

TEST(LocalGameNamesTest, ExtensionsMatchAsNameSuffixesWithoutRegardToCase)
{
    EXPECT_TRUE(MatchesExtensionList("GAME.NES", ".nes,.zip"));
    EXPECT_TRUE(MatchesExtensionList("disc.Bin", ".BIN,.ISO"));
    EXPECT_TRUE(MatchesExtensionList("x.ds.gba", ".nds,.ds.gba"));
    EXPECT_TRUE(MatchesExtensionList("x.ds.gba", ".gba"));
    EXPECT_FALSE(MatchesExtensionList("x.gba", ".nds,.ds.gba"));
    EXPECT_FALSE(MatchesExtensionList("nes", ".nes"));
    EXPECT_FALSE(MatchesExtensionList("game.nes.txt", ".nes"));
    EXPECT_FALSE(MatchesExtensionList("game.nes", ""));
    EXPECT_FALSE(MatchesExtensionList("game.nes", ",,"));

    EXPECT_EQ(DisplayNameOf("/a/b/x.ds.gba"), "x.ds");
    EXPECT_EQ(DisplayNameOf("/a.dir/noext"), "noext");
    EXPECT_EQ(DisplayNameOf("game.NES"), "game");
}

TEST_F(LocalGameImportTest, RowsCarryNameSizePlatformAndPathAndNoIconOutsideTheArcade)
{
    const std::string rom = Put("FC/Super Game (J).nes", std::string(3 * 1048576 / 4, 'r'));
    auto row = MakeLocalGameRow(rom, 125, m_resources);
    ASSERT_TRUE(row);
    EXPECT_EQ(*row, Row("Super Game (J)", "0.75", "FC", 125, rom));

    const std::string exe = Put("pc/run.exe", "#!/bin/sh\n");
    row = MakeLocalGameRow(exe, 138, m_resources);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->Icon, "");
    EXPECT_EQ(row->EmulatorShortName, "PC");
    EXPECT_EQ(row->Size, "0.00");

    EXPECT_FALSE(MakeLocalGameRow(m_localGameDir + "FC", 125, m_resources)); // a folder
    EXPECT_FALSE(MakeLocalGameRow(m_localGameDir + "FC/missing.nes", 125, m_resources));
    EXPECT_FALSE(MakeLocalGameRow(rom, 0, m_resources));
    EXPECT_FALSE(MakeLocalGameRow(rom, 999, m_resources));
    fs::create_symlink(m_localGameDir + "nowhere", m_localGameDir + "FC/dangling.nes");
    EXPECT_FALSE(MakeLocalGameRow(m_localGameDir + "FC/dangling.nes", 125, m_resources));
}

TEST_F(LocalGameImportTest, ArcadeGamesTakeListedNamesAndIconsFromTheCacheOrTheArchive)
{
    WriteArcadeResources();
    const std::string mame = Put("MAME/qk1.zip");
    auto row = MakeLocalGameRow(mame, 123, m_resources);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->GameName, "街机之王");
    EXPECT_EQ(row->Icon, m_resources.MameImageDir + "qk1.png");
    EXPECT_EQ(testsupport::ReadFile(row->Icon), "png of qk1");
    for (auto& entry : fs::directory_iterator(m_resources.MameImageDir))
        EXPECT_EQ(entry.path().filename(), "qk1.png") << "a temporary file stayed behind";

    // An empty listed name keeps the file's; ARCADE uses its own cache; the first extension wins.
    row = MakeLocalGameRow(Put("ARCADE/qk2.zip"), 126, m_resources);
    EXPECT_EQ(row->GameName, "qk2");
    EXPECT_EQ(row->Icon, m_resources.ArcadeImageDir + "qk2.jpg");
    row = MakeLocalGameRow(Put("MAMEPLUS/qk3.zip"), 146, m_resources);
    EXPECT_EQ(row->GameName, "Third One");
    EXPECT_EQ(row->Icon, m_resources.MameImageDir + "qk3.ico");

    // A cached icon is used as it is, before the archive.
    testsupport::WriteFile(m_resources.ArcadeImageDir + "qk1.jpg", "cached");
    row = MakeLocalGameRow(Put("ARCADE/qk1.zip"), 126, m_resources);
    EXPECT_EQ(row->Icon, m_resources.ArcadeImageDir + "qk1.jpg");
    EXPECT_EQ(testsupport::ReadFile(row->Icon), "cached");

    // Not listed, not in the archive: the plain name and no icon.
    row = MakeLocalGameRow(Put("MAME/unknown.zip"), 123, m_resources);
    EXPECT_EQ(row->GameName, "unknown");
    EXPECT_EQ(row->Icon, "");

    // An entry that unpacks past any icon's size is no icon, and nothing of it stays.
    row = MakeLocalGameRow(Put("MAME/qk4.zip"), 123, m_resources);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->Icon, "");
    for (auto& entry : fs::directory_iterator(m_resources.MameImageDir))
        EXPECT_EQ(entry.path().filename().string().find("qk4"), std::string::npos) << entry.path();

    // Without the resources nothing fails: plain values.
    fs::remove_all(m_resources.InstancePath + "LocalGameRes");
    fs::remove(m_resources.MameImageDir + "qk1.png");
    row = MakeLocalGameRow(mame, 123, m_resources);
    EXPECT_EQ(row->GameName, "qk1");
    EXPECT_EQ(row->Icon, "");
}

TEST_F(LocalGameImportTest, TextsAreConvertedToTheProcessCodePage)
{
    WriteArcadeResources();
    const std::string saved = platform::ProcessCodePage();
    platform::SetProcessCodePage("GBK");
    const std::string chinese = Put("FC/魂斗罗.nes");
    const std::string invalid = Put("FC/\xff\xfe.nes");
    auto listed = MakeLocalGameRow(Put("MAME/qk1.zip"), 123, m_resources);
    auto named = MakeLocalGameRow(chinese, 125, m_resources);
    auto raw = MakeLocalGameRow(invalid, 125, m_resources);
    platform::SetProcessCodePage(saved);

    ASSERT_TRUE(listed && named && raw);
    EXPECT_EQ(listed->GameName, "\xbd\xd6\xbb\xfa\xd6\xae\xcd\xf5"); // 街机之王 in GBK
    EXPECT_EQ(named->GameName, "\xbb\xea\xb6\xb7\xc2\xde");          // 魂斗罗 in GBK
    EXPECT_EQ(named->FilePath, m_localGameDir + "FC/\xbb\xea\xb6\xb7\xc2\xde.nes");
    EXPECT_EQ(raw->FilePath, invalid); // not UTF-8: byte for byte
    EXPECT_EQ(raw->GameName, "\xff\xfe");
}

TEST_F(LocalGameImportTest, TheShippedArcadeFilesGiveEveryListedSetItsNameAndIcon)
{
    // The files the build puts beside the program, read where they are checked in.
    const fs::path source = fs::path(__FILE__).parent_path().parent_path().parent_path();
    const std::string shipped = (source / "res/").string();
    const std::string ini = shipped + "LocalGameRes/gamelist/arcade_ch.ini";
    const std::vector<std::string> sets = IniFile::GetKeys(ini, "games");
    ASSERT_GE(sets.size(), 3u) << ini;
    LocalGameResources resources{shipped, m_resources.MameImageDir, m_resources.ArcadeImageDir};
    const int platforms[] = {123, 126, 146};
    for (size_t i = 0; i < sets.size(); ++i) {
        const std::string& set = sets[i];
        const std::string listed = IniFile::GetString(ini, "games", set, "");
        ASSERT_FALSE(listed.empty()) << set;
        EXPECT_NO_THROW(Utf8ToUtf16(listed)) << set;
        auto row = MakeLocalGameRow(Put("MAME/" + set + ".zip"), platforms[i % 3], resources);
        ASSERT_TRUE(row) << set;
        EXPECT_EQ(row->GameName, listed);
        ASSERT_FALSE(row->Icon.empty()) << set << " has no icon in arcade.zip";
        EXPECT_EQ(testsupport::ReadFile(row->Icon).substr(0, 8), "\x89PNG\r\n\x1a\n") << set;
    }
}

TEST_F(LocalGameImportTest, TheWalkerReadsNamesInOrderAndEndsLinkLoops)
{
    Put("T/b/2.nes");
    Put("T/a.nes");
    Put("T/c.nes");
    Put("T/b/1.nes");
    fs::create_directory_symlink(m_localGameDir + "T", m_localGameDir + "T/b/up");
    std::vector<std::string> files, folders;
    CFolderWalker walker({
        [&](const std::string& folder) {
            folders.push_back(folder);
            return folder.find("skip") == std::string::npos;
        },
        [&](const std::string& path, const std::string& name) {
            files.push_back(path.substr(m_localGameDir.size()));
            EXPECT_EQ(path.substr(path.size() - name.size()), name);
        },
        nullptr,
    });
    Put("T/skip/x.nes");
    EXPECT_TRUE(walker.Walk(m_localGameDir + "T"));
    EXPECT_EQ(files, (std::vector<std::string>{"T/a.nes", "T/b/1.nes", "T/b/2.nes", "T/c.nes"}));
    EXPECT_EQ(folders.size(), 3u); // T, T/b, T/skip; the link back to T is not entered again
    EXPECT_FALSE(walker.Walk(m_localGameDir + "none"));
}

} // namespace
