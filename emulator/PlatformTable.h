#pragma once

#include <optional>
#include <span>
#include <string_view>

// The platforms the program knows and the game genres, fixed for the life of the program. Every other
// part takes platform facts from here: the type id that records carry, the short name that names the
// platform's folders, the member of the emulator list that holds its emulators, and the extensions of
// its game files.
//
// Texts are UTF-8. Short names, list keys and extensions are ASCII, so they are the same bytes in every
// code page; the Chinese names ("全部机种" and the genres) are converted where a code page is needed.

// One row of the platform table. ListKey and Extensions are empty where the platform has none.
struct PlatformInfo {
    int TypeId;
    const char* ShortName;
    const char* ListKey;
    // Comma-separated, with the letter case the file names are matched by (".BIN,.ISO,...").
    const char* Extensions;
};

// The entry for all platforms in platform filters; never a real platform.
inline constexpr int kAllPlatformsTypeId = 0;
inline constexpr const char* kAllPlatformsName = "全部机种";

// The nineteen real platforms, in type id order.
std::span<const PlatformInfo> Platforms();

// The row of a real platform; nullptr for 0 (all platforms) and for any id not in the table.
const PlatformInfo* FindPlatform(int typeId);

// Type id to short name: "全部机种" for 0, the short name ("FC") for a platform of the table, an empty
// text for any other id.
std::string_view TypeIdToShortName(int typeId);

// Short name to type id, compared exactly (upper case as in the table: "fc" is no platform). "全部机种"
// gives 0. A name not in the table has no type id.
std::optional<int> ShortNameToTypeId(std::string_view shortName);

// Short name (compared exactly) to the comma-separated extension list; empty for a platform without
// game files of its own (ANDROID) and for a name not in the table.
std::string_view ShortNameToExtensions(std::string_view shortName);

// The genre names: 0 "全部类型" (all genres, the filter entry), 1 "动作" to 15 "其他"; empty for any other
// number.
inline constexpr int kGenreCount = 16;
std::string_view GenreNumberToName(int genre);
