#include "emulator/PlatformTable.h"
#include "foundation/AppPaths.h"

#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>

namespace {

std::vector<std::string> SplitComma(std::string_view text)
{
    std::vector<std::string> parts;
    std::istringstream in{std::string(text)};
    for (std::string part; std::getline(in, part, ',');)
        parts.push_back(part);
    return parts;
}

} // namespace

// Records carry type ids and folders carry short names: each must lead back to the other, and no two
// rows may share an id, a name or a list key, or a lookup would silently pick the wrong platform.
TEST(PlatformTableTest, IdsNamesAndKeysAreUniqueAndLeadBackToEachOther)
{
    std::set<int> ids;
    std::set<std::string> names;
    std::set<std::string> keys;
    for (const PlatformInfo& row : Platforms()) {
        EXPECT_TRUE(ids.insert(row.TypeId).second) << row.TypeId;
        EXPECT_TRUE(names.insert(row.ShortName).second) << row.ShortName;
        if (*row.ListKey) {
            EXPECT_TRUE(keys.insert(row.ListKey).second) << row.ListKey;
        }
        EXPECT_EQ(TypeIdToShortName(row.TypeId), row.ShortName);
        EXPECT_EQ(ShortNameToTypeId(row.ShortName), row.TypeId);
        EXPECT_EQ(FindPlatform(row.TypeId), &row);
    }
    EXPECT_EQ(ids.size(), 19u);
    EXPECT_EQ(*ids.begin(), 119);
    EXPECT_EQ(*ids.rbegin(), 148);
}

// The emulator list has seventeen platform members; each must be the key of exactly one platform, and
// the platforms without emulators (ANDROID, PC) have none.
TEST(PlatformTableTest, ListKeysAreTheEmulatorListMembers)
{
    const std::set<std::string> members = {"fc",  "sfc", "n64",    "wii",  "gbc",     "gba",
                                           "nds", "md",  "dc",     "ps",   "ps2",     "psp",
                                           "pce", "wsc", "arcade", "mame", "mameplus"};
    std::set<std::string> keys;
    for (const PlatformInfo& row : Platforms()) {
        if (*row.ListKey)
            keys.insert(row.ListKey);
    }
    EXPECT_EQ(keys, members);
    EXPECT_STREQ(FindPlatform(128)->ListKey, "");
    EXPECT_STREQ(FindPlatform(138)->ListKey, "");
}

// The library's platform folders are made from another list; every one of them must be a platform.
TEST(PlatformTableTest, LibraryFoldersAreShortNames)
{
    for (const std::string& name : SplitComma(PlatformDirNames))
        EXPECT_TRUE(ShortNameToTypeId(name).has_value()) << name;
}

TEST(PlatformTableTest, TypeIdsOutsideTheTableHaveNoName)
{
    EXPECT_EQ(TypeIdToShortName(0), "全部机种");
    EXPECT_EQ(FindPlatform(0), nullptr) << "all platforms is a filter entry, not a platform";
    for (int id : {-1, 1, 118, 132, 134, 139, 141, 147, 149, 1250001})
        EXPECT_EQ(TypeIdToShortName(id), "") << id;
}

TEST(PlatformTableTest, ShortNamesCompareExactly)
{
    EXPECT_EQ(ShortNameToTypeId("FC"), 125);
    EXPECT_EQ(ShortNameToTypeId("MAMEPLUS"), 146);
    EXPECT_EQ(ShortNameToTypeId("全部机种"), 0);
    for (const char* name : {"fc", "Fc", "FC ", " FC", "", "MAME+", "fc\\", "PlayStation"})
        EXPECT_FALSE(ShortNameToTypeId(name).has_value()) << '"' << name << '"';
}

// Extensions keep their case (the PS list is upper case, PS2 mixes) and the multi-part ".ds.gba"
// stays one entry; a platform without game files and an unknown name give an empty list.
TEST(PlatformTableTest, ExtensionListsAsGiven)
{
    EXPECT_EQ(ShortNameToExtensions("FC"), ".nes,.nsf,.fds,.unf,.zip,.rar,.7z,.gz");
    EXPECT_EQ(ShortNameToExtensions("PS"), ".BIN,.ISO,.IMG,.CUE,.CCD,.MDS,.PBP,.ECM");
    EXPECT_EQ(ShortNameToExtensions("PS2"), ".ISO,.mdf,.nrg,.Bin,.img,.dump,.gz,.cso");
    EXPECT_EQ(ShortNameToExtensions("PC"), ".exe");
    EXPECT_EQ(SplitComma(ShortNameToExtensions("NDS"))[1], ".ds.gba");
    EXPECT_EQ(ShortNameToExtensions("ANDROID"), "");
    EXPECT_EQ(ShortNameToExtensions("nds"), "");
    EXPECT_EQ(ShortNameToExtensions("全部机种"), "");
    for (const PlatformInfo& row : Platforms()) {
        for (const std::string& extension : SplitComma(row.Extensions))
            EXPECT_TRUE(extension.size() > 1 && extension[0] == '.') << row.ShortName << ": " << extension;
    }
}

TEST(PlatformTableTest, GenresZeroToFifteen)
{
    EXPECT_EQ(GenreNumberToName(0), "全部类型");
    EXPECT_EQ(GenreNumberToName(1), "动作");
    EXPECT_EQ(GenreNumberToName(7), "模拟策略");
    EXPECT_EQ(GenreNumberToName(11), "第一人称射击");
    EXPECT_EQ(GenreNumberToName(15), "其他");
    std::set<std::string_view> distinct;
    for (int genre = 0; genre < kGenreCount; ++genre)
        EXPECT_TRUE(distinct.insert(GenreNumberToName(genre)).second) << genre;
    for (int genre : {-1, 16, 100})
        EXPECT_EQ(GenreNumberToName(genre), "") << genre;
}
