#include "emulator/PlatformTable.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<PlatformInfo, 19> kPlatforms = {{
    {119, "PS", "ps", ".BIN,.ISO,.IMG,.CUE,.CCD,.MDS,.PBP,.ECM"},
    {120, "GBA", "gba", ".gba,.agb,.bin,.elf,.mb,.zip,.7z,.z,.gz,.gb,.dmg,.sgb"},
    {121, "SFC", "sfc", ".smc,.sfc,.zip,.7z,.rar,.gz,.snes"},
    {122, "MD", "md", ".sms,.sg,.sc,.mv,.zip,.gg,.bin,.gen,.smd,.md"},
    {123, "MAME", "mame", ".zip"},
    {124, "GBC", "gbc", ".gbc,.cgb,.zip,.7z,.z,.gz,.gb,.dmg,.sgb"},
    {125, "FC", "fc", ".nes,.nsf,.fds,.unf,.zip,.rar,.7z,.gz"},
    {126, "ARCADE", "arcade", ".zip"},
    {127, "NDS", "nds", ".nds,.ds.gba,.srl,.zip,.7z,.rar,.gz"},
    {128, "ANDROID", "", ""},
    {129, "PSP", "psp", ".iso,.cso,.pbp,.elf,.prx"},
    {130, "N64", "n64", ".zip,.n64,.rom,.usa,.jap,.pal,.bin,.v64"},
    {131, "WSC", "wsc", ".ws,.wsc,.zip"},
    {133, "DC", "dc", ".cdi,.mds,.nrg,.gdi,.chd"},
    {138, "PC", "", ".exe"},
    {140, "WII", "wii", ".elf,.dol,.gcm,.iso,.wbfs,.ciso,.gcz,.wad"},
    {142, "PS2", "ps2", ".ISO,.mdf,.nrg,.Bin,.img,.dump,.gz,.cso"},
    {146, "MAMEPLUS", "mameplus", ".zip"},
    {148, "PCE", "pce", ".zip,.pce,.hes"},
}};

constexpr std::array<const char*, kGenreCount> kGenres = {
    "全部类型", "动作", "格斗",     "射击",         "桌面",         "冒险",     "赛车", "模拟策略",
    "益智",     "体育", "角色扮演", "第一人称射击", "动作角色扮演", "即时策略", "音乐", "其他",
};

const PlatformInfo* FindByShortName(std::string_view shortName)
{
    auto it = std::find_if(kPlatforms.begin(), kPlatforms.end(),
                           [&](const PlatformInfo& row) { return shortName == row.ShortName; });
    return it == kPlatforms.end() ? nullptr : &*it;
}

} // namespace

std::span<const PlatformInfo> Platforms()
{
    return kPlatforms;
}

const PlatformInfo* FindPlatform(int typeId)
{
    auto it = std::find_if(kPlatforms.begin(), kPlatforms.end(),
                           [&](const PlatformInfo& row) { return row.TypeId == typeId; });
    return it == kPlatforms.end() ? nullptr : &*it;
}

std::string_view TypeIdToShortName(int typeId)
{
    if (typeId == kAllPlatformsTypeId)
        return kAllPlatformsName;
    const PlatformInfo* row = FindPlatform(typeId);
    return row ? row->ShortName : "";
}

std::optional<int> ShortNameToTypeId(std::string_view shortName)
{
    if (shortName == kAllPlatformsName)
        return kAllPlatformsTypeId;
    const PlatformInfo* row = FindByShortName(shortName);
    if (!row)
        return std::nullopt;
    return row->TypeId;
}

std::string_view ShortNameToExtensions(std::string_view shortName)
{
    const PlatformInfo* row = FindByShortName(shortName);
    return row ? row->Extensions : "";
}

std::string_view GenreNumberToName(int genre)
{
    if (genre < 0 || genre >= kGenreCount)
        return "";
    return kGenres[static_cast<size_t>(genre)];
}
