#include "demo/DemoContent.h"

#include "demo/DemoDescriptors.h"
#include "demo/DemoEmulators.h"
#include "demo/DemoImage.h"
#include "demo/DemoNesGame.h"
#include "demo/DemoSigning.h"
#include "demo/DemoUpdate.h"
#include "demo/DemoZip.h"

#include <json/json.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Platform {
    int id;
    const char* shortName;
    const char* listKey; // member of the emulator list; empty for platforms without an emulator
    const char* extension;
    uint32_t colour;
};

// The platforms of the platform filter, in its order.
const Platform kPlatforms[] = {
    {138, "PC", "", ".exe", 0x3B6EA5},       {125, "FC", "fc", ".nes", 0xC0392B},
    {121, "SFC", "sfc", ".sfc", 0x8E44AD},   {130, "N64", "n64", ".n64", 0x27AE60},
    {140, "WII", "wii", ".iso", 0x95A5A6},   {124, "GBC", "gbc", ".gbc", 0xF1C40F},
    {120, "GBA", "gba", ".gba", 0x5B2C6F},   {127, "NDS", "nds", ".nds", 0x34495E},
    {122, "MD", "md", ".md", 0x1F1F1F},      {133, "DC", "dc", ".cdi", 0xE67E22},
    {119, "PS", "ps", ".iso", 0x7F8C8D},     {142, "PS2", "ps2", ".iso", 0x2C3E50},
    {129, "PSP", "psp", ".iso", 0x16A085},   {148, "PCE", "pce", ".pce", 0xD35400},
    {131, "WSC", "wsc", ".ws", 0x2980B9},    {126, "ARCADE", "arcade", ".zip", 0xB03A2E},
    {123, "MAME", "mame", ".zip", 0x6C3483}, {146, "MAMEPLUS", "mameplus", ".zip", 0x1E8449},
};

const char* const kGenres[] = {
    "",     "动作", "格斗",     "射击",         "桌面",         "冒险",     "赛车", "模拟策略",
    "益智", "体育", "角色扮演", "第一人称射击", "动作角色扮演", "即时策略", "音乐", "其他"};

const char* const kPrefixes[][2] = {
    {"星光", "Starlight"},  {"龙之", "Dragon's"}, {"铁甲", "Iron"},   {"幻想", "Fantasy"},
    {"疾风", "Swift Wind"}, {"雷霆", "Thunder"},  {"神秘", "Mystic"}, {"远古", "Ancient"},
    {"银河", "Galaxy"},     {"勇者", "Brave"},    {"忍者", "Ninja"},  {"机械", "Mech"},
    {"森林", "Forest"},     {"冰雪", "Frost"},    {"火焰", "Blaze"},  {"海洋", "Ocean"},
};
const char* const kMiddles[][2] = {
    {"战士", "Warrior"}, {"王国", "Kingdom"}, {"赛道", "Racer"},  {"方块", "Blocks"},
    {"骑士", "Knight"},  {"迷宫", "Maze"},    {"城堡", "Castle"}, {"小队", "Squad"},
    {"传奇", "Legend"},  {"星球", "Planet"},  {"英雄", "Hero"},   {"守卫", "Guardian"},
};
const char* const kSuffixes[][2] = {
    {"", ""},          {"2", " 2"},        {"外传", " Side Story"}, {"大作战", " Battle"},
    {"传说", " Saga"}, {"物语", " Tales"}, {"DX", " DX"},           {"3", " 3"},
};
const char* const kLanguages[] = {"中文", "英文", "日文"};

constexpr int kPrefixCount = sizeof kPrefixes / sizeof kPrefixes[0];
constexpr int kMiddleCount = sizeof kMiddles / sizeof kMiddles[0];
constexpr int kSuffixCount = sizeof kSuffixes / sizeof kSuffixes[0];

// A small deterministic generator (xorshift64*), so every run writes the same bytes.
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed * 2654435761ULL + 0x9E3779B97F4A7C15ULL) {}
    uint64_t Next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 2685821657736338717ULL;
    }
    int Below(int bound) { return static_cast<int>(Next() % static_cast<uint64_t>(bound)); }
    std::string Bytes(size_t count)
    {
        std::string bytes(count, '\0');
        for (char& c : bytes)
            c = static_cast<char>(Next() >> 56);
        return bytes;
    }

private:
    uint64_t m_state;
};

void WriteBytes(const fs::path& path, const std::string& content)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteJson(const fs::path& path, const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = " ";
    builder["emitUTF8"] = true;
    WriteBytes(path, Json::writeString(builder, value) + "\n");
}

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

uint32_t Mix(uint32_t colour, uint32_t other, int percent)
{
    uint32_t result = 0;
    for (int shift : {16, 8, 0}) {
        int a = (colour >> shift) & 0xFF, b = (other >> shift) & 0xFF;
        result |= static_cast<uint32_t>(a + (b - a) * percent / 100) << shift;
    }
    return result;
}

std::string DrawIcon(const Platform& platform, int genre, Random& random)
{
    CDemoImage image(96, 96);
    image.VerticalGradient(Mix(platform.colour, 0xFFFFFF, 30), Mix(platform.colour, 0x000000, 40));
    uint32_t accent = Mix(0x40C0FF + genre * 0x0A1020, 0xFFFFFF, 20);
    image.FillCircle(48, 44, 18 + random.Below(10), accent);
    image.FillRect(20 + random.Below(20), 64, 40, 10, Mix(accent, 0x000000, 50));
    image.Frame(4, 0xFFFFFF);
    return image.EncodePng();
}

std::string DrawScreen(const Platform& platform, Random& random)
{
    CDemoImage image(256, 192);
    image.VerticalGradient(Mix(platform.colour, 0x87CEEB, 60), Mix(platform.colour, 0x000000, 20));
    // Ground, a few platforms, some collectibles and a hero: a made-up scene, different each time.
    image.FillRect(0, 160, 256, 32, 0x5D4037);
    for (int i = 0; i < 4; ++i)
        image.FillRect(random.Below(220), 60 + random.Below(90), 30 + random.Below(40), 8, 0x8D6E63);
    for (int i = 0; i < 6; ++i)
        image.FillCircle(random.Below(256), 20 + random.Below(130), 4, 0xFFD700);
    int heroX = 20 + random.Below(200);
    image.FillRect(heroX, 136, 14, 24, Mix(platform.colour, 0xFFFFFF, 50));
    image.FillCircle(heroX + 7, 130, 7, 0xFFE0BD);
    image.Frame(2, 0x000000);
    return image.EncodePng();
}

// What a game comes as on the download server.
enum class Delivery {
    Single,      // fileurl and a mirror in filelist
    ListOnly,    // empty fileurl, two entries in filelist
    SingleNoZip, // single archive plus the no-zip source
    Volumes,     // three volumes
};

Delivery DeliveryOf(int index)
{
    switch (index % 5) {
    case 0:
    case 2:
        return Delivery::SingleNoZip;
    case 1:
        return Delivery::ListOnly;
    case 4:
        return Delivery::Volumes;
    default:
        return Delivery::Single;
    }
}

bool IsArcade(int platformId)
{
    return platformId == 123 || platformId == 126 || platformId == 146;
}

} // namespace

CDemoContent::CDemoContent(std::string dataDir) : m_dir(std::move(dataDir)) {}

void CDemoContent::Write()
{
    const fs::path root(m_dir);
    fs::create_directories(root);
    for (const char* folder :
         {"descriptors", "download/games", "download/volumes", "download/nozip", "image"})
        fs::remove_all(root / folder);

    Json::Value catalogue;
    for (int genre = 1; genre <= 15; ++genre) {
        Json::Value category;
        category["id"] = std::to_string(genre);
        category["name"] = kGenres[genre];
        catalogue["categories"].append(category);
    }
    for (const Platform& platform : kPlatforms) {
        Json::Value entry;
        entry["id"] = std::to_string(platform.id);
        entry["name"] = platform.shortName;
        catalogue["platforms"].append(entry);
    }

    Json::Value redirects(Json::objectValue);
    const int platformCount = static_cast<int>(sizeof kPlatforms / sizeof kPlatforms[0]);
    const int total = platformCount * kGamesPerPlatform;
    for (int index = 0; index < total; ++index) {
        const Platform& platform = kPlatforms[index % platformCount];
        const int round = index / platformCount;
        const int genre = (round + index % platformCount) % 15 + 1;
        Random random(static_cast<uint64_t>(index) + 1);
        const std::string gameId = std::to_string(20001 + index);

        // A bijection of the index onto the name combinations keeps every name unique.
        const int combination = (index * 7919) % (kPrefixCount * kMiddleCount * kSuffixCount);
        const auto& prefix = kPrefixes[combination % kPrefixCount];
        const auto& middle = kMiddles[combination / kPrefixCount % kMiddleCount];
        const auto& suffix = kSuffixes[combination / (kPrefixCount * kMiddleCount)];
        const std::string name = std::string(prefix[0]) + middle[0] + suffix[0];
        const std::string englishName = std::string(prefix[1]) + " " + middle[1] + suffix[1];

        Json::Value game;
        game["gameid"] = gameId;
        game["orgname"] = englishName;
        game["icon"] = "icon/" + std::to_string(platform.id) + "/" + gameId + ".png";
        game["tv_icon"] = "";
        game["storeurl"] = "";
        game["fee"] = "0";
        const int sizeMb = 1 + random.Below(platform.id == 138 || platform.id == 142 ? 4000 : 600);
        game["size"] = std::to_string(sizeMb);
        game["package_name"] = "";
        const int month = 1 + random.Below(12), day = 1 + random.Below(28);
        char updated[64]; // room for any int the format could be given
        std::snprintf(updated, sizeof updated, "2024-%02d-%02d %02d:%02d:00", month, day, random.Below(24),
                      random.Below(60));
        game["updatedtime"] = updated;
        game["version"] = "1." + std::to_string(random.Below(10));
        game["categoryid"] = std::to_string(genre);
        game["emulatorid"] = std::to_string(platform.id);
        game["start_sell_time"] = std::to_string(1990 + random.Below(30)) + "-01-01";
        // A PC game names its program inside the game's folder, as the maker's server writes it: the
        // launcher starts that file (the archive holds it under the game id).
        game["playurl"] = platform.id == 138 ? gameId + "\\" + gameId + platform.extension : "";
        game["uid"] = "1";
        game["is_pk"] = std::to_string(random.Below(2));
        game["is_handle"] = "1";
        game["is_control"] = "1";
        game["min"] = "1";
        game["max"] = std::to_string(1 + random.Below(4));
        game["video_thumbnail"] = "";
        game["video_url"] = "";
        game["gamename"] = name;
        game["language"] = kLanguages[random.Below(3)];
        game["downloads"] = std::to_string(random.Below(100000));
        game["emulatorshortname"] = platform.shortName;
        game["categoryshortname"] = std::string(kGenres[genre]) + "游戏";
        game["good"] = std::to_string(random.Below(5000));
        game["bad"] = std::to_string(random.Below(500));
        game["rating"] = Format("%.1f", random.Below(11) * 0.5);
        game["username"] = "quokka";
        game["needsize"] = Json::Int64(sizeMb) * 1024 * 1024 * 3 / 2;
        game["isrootdir"] = platform.id == 138 ? "1" : "0";
        game["pcver"] = platform.id == 138 ? "1.0" : "";
        game["directx"] = platform.id == 138 ? "9.0c" : "";
        game["dotnet"] = "";
        game["vcver"] = platform.id == 138 ? "2010" : "";
        game["description"] = "《" + name + "》是一款" + platform.shortName + "平台的" + kGenres[genre] +
                              "游戏。玩家在" + std::to_string(3 + random.Below(20)) +
                              "个关卡中闯荡，收集金币，挑战最终的守关者。\n" + englishName +
                              " is a made-up game of the Quokka demo catalogue.";
        game["commentcount"] = std::to_string(random.Below(300));

        // Pictures: every third game names its screenshots with a style suffix after '!'.
        const fs::path image = root / "image";
        WriteBytes(image / game["icon"].asString(), DrawIcon(platform, genre, random));
        const int screenCount = 2 + index % 4;
        for (int screen = 1; screen <= screenCount; ++screen) {
            std::string path = "screens/" + gameId + "/" + std::to_string(screen) + ".png";
            WriteBytes(image / path, DrawScreen(platform, random));
            game["screens"].append(index % 3 == 0 ? path + "!s640" : path);
        }

        // The game's file and its archive.
        const std::string romName = "qk" + gameId;
        const std::string gameFile = (IsArcade(platform.id) ? romName : gameId) + platform.extension;
        const Delivery delivery = DeliveryOf(index);
        std::string content =
            random.Bytes(delivery == Delivery::Volumes ? 96 * 1024 : 2048 + random.Below(6144));
        if (platform.id == 125)
            content = demo_nes::Image(); // every FC game is the small playable one
        const std::string launcher = "#!/bin/sh\necho \"" + englishName + "\"\n";
        std::string archiveName = gameId + ".zip";
        fs::path archive = root / "download/games" / archiveName;
        fs::create_directories(archive.parent_path());
        {
            CDemoZip zip(archive.string());
            if (platform.id == 138) {
                zip.Add(gameId + "/" + gameFile, launcher, 0755);
                zip.Add(gameId + "/data.bin", content);
            } else if (IsArcade(platform.id)) {
                zip.Add(romName + ".bin", content);
            } else {
                zip.Add(gameFile, content);
            }
            zip.Add("readme.txt", englishName + "\nA made-up game of the Quokka demo catalogue.\n");
            zip.Close();
        }

        Json::Value descriptor;
        descriptor["filelist"] = Json::Value(Json::arrayValue);
        descriptor["filelist2"] = Json::Value(Json::arrayValue);
        descriptor["cloudurl"]["baidu"] = Json::Value(Json::arrayValue);
        descriptor["status"] = 1;
        descriptor["msg"] = "ok";
        descriptor["fileurl"] = "";
        descriptor["fileurl2"] = "";
        descriptor["filename"] = IsArcade(platform.id) ? romName + ".zip" : "";
        descriptor["needsize"] = game["needsize"];
        descriptor["filemd5"] = "";
        Json::Value verify;
        verify["path"] = platform.id == 138 ? gameId + "/" + gameFile : gameFile;
        verify["size"] = std::to_string(platform.id == 138 ? launcher.size() : content.size());
        verify["verify"] = "";
        descriptor["verify"].append(verify);
        descriptor["_run_time"] = 0.01;
        descriptor["volume"] = delivery == Delivery::Volumes ? "1" : "0";
        descriptor["volumeurl"] = "";

        const std::string gameUrl = "{{origin}}/download/games/" + archiveName;
        const std::string mirrorPath = "/download/mirror/" + archiveName;
        redirects[mirrorPath] = "/download/games/" + archiveName;
        switch (delivery) {
        case Delivery::SingleNoZip:
            if (platform.id != 138 && !IsArcade(platform.id)) {
                descriptor["fileurl2"] = "{{origin}}/download/nozip/" + gameId + "/" + gameFile;
                WriteBytes(root / "download/nozip" / gameId / gameFile, content);
            }
            [[fallthrough]];
        case Delivery::Single:
            descriptor["fileurl"] = gameUrl;
            descriptor["filelist"].append("{{origin}}" + mirrorPath);
            break;
        case Delivery::ListOnly:
            descriptor["filelist"].append(gameUrl);
            descriptor["filelist"].append("{{origin}}" + mirrorPath);
            break;
        case Delivery::Volumes: {
            // The volumes are the archive cut in three; appended in order they are the archive again.
            std::string whole = ReadBytes(archive);
            std::string list;
            const size_t part = whole.size() / 3 + 1;
            for (int volume = 1; volume <= 3; ++volume) {
                char number[16];
                std::snprintf(number, sizeof number, "%03d", volume);
                std::string name = gameId + ".zip." + number;
                WriteBytes(root / "download/volumes" / name, whole.substr((volume - 1) * part, part));
                list += (volume > 1 ? "," : "") + std::string("{{origin}}/download/volumes/") + name + "|" +
                        std::to_string(volume);
            }
            descriptor["volumeurl"] = list;
            fs::remove(archive);
            break;
        }
        }
        WriteJson(root / "descriptors" / (gameId + ".json"), descriptor);
        catalogue["games"].append(game);
    }
    WriteJson(root / "catalogue.json", catalogue);
    WriteJson(root / "redirects.json", redirects);
    WriteDemoDescriptorKinds(m_dir);

    WriteDemoEmulators(m_dir);

    WriteDemoUpdate(m_dir, m_update);

    // Last: the index covers every file written above.
    SignDemoData(m_dir);
}
