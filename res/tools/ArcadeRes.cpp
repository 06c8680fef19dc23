// quokka-arcade-res: writes the arcade names and icons shipped in LocalGameRes for the demo
// catalogue's arcade games (MAME, ARCADE and MAMEPLUS).
//
//   quokka-arcade-res DEMO_DATA_DIR LOCALGAMERES_DIR
//
// It reads the catalogue that quokka-demo wrote (catalogue.json and the games' descriptors) and
// writes LOCALGAMERES_DIR/gamelist/arcade_ch.ini (section "games": set name = Chinese name, UTF-8)
// and LOCALGAMERES_DIR/icon/arcade.zip (one drawn PNG per set, named after the set). Run it by hand
// after the demo catalogue changes and check the two files in under res/LocalGameRes.

#include "demo/DemoImage.h"
#include "demo/DemoZip.h"

#include <json/json.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

Json::Value ReadJson(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    if (!Json::parseFromStream(builder, in, &value, &errors))
        throw std::runtime_error(path.string() + ": " + errors);
    return value;
}

bool IsArcade(const std::string& platformId)
{
    return platformId == "123" || platformId == "126" || platformId == "146";
}

uint32_t PlatformColour(const std::string& platformId)
{
    if (platformId == "123")
        return 0x6C3483;
    if (platformId == "126")
        return 0xB03A2E;
    return 0x1E8449;
}

// A cabinet-like picture: the platform's colour, a screen whose tint follows the set name, and two
// buttons, so that every set's icon differs.
std::string DrawIcon(const std::string& setName, const std::string& platformId)
{
    uint32_t hash = 2166136261u;
    for (unsigned char c : setName)
        hash = (hash ^ c) * 16777619u;
    const uint32_t colour = PlatformColour(platformId);
    CDemoImage image(64, 64);
    image.VerticalGradient(colour | 0x202020, colour & 0x7F7F7F);
    image.FillRect(12, 8, 40, 28, 0x101010);
    image.FillRect(15, 11, 34, 22, (hash & 0x7F7F7F) | 0x404040);
    image.FillCircle(22, 46, 5, 0xF1C40F);
    image.FillCircle(42, 46, 5, 0xE74C3C);
    image.Frame(2, 0xFFFFFF);
    return image.EncodePng();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: quokka-arcade-res DEMO_DATA_DIR LOCALGAMERES_DIR\n";
        return 2;
    }
    try {
        const fs::path data(argv[1]);
        const fs::path out(argv[2]);
        const Json::Value catalogue = ReadJson(data / "catalogue.json");
        std::map<std::string, std::pair<std::string, std::string>> sets; // set name -> name, platform
        for (const Json::Value& game : catalogue["games"]) {
            const std::string platformId = game["emulatorid"].asString();
            if (!IsArcade(platformId))
                continue;
            const std::string gameId = game["gameid"].asString();
            std::string setName = "qk" + gameId;
            const fs::path descriptor = data / "descriptors" / (gameId + ".json");
            if (fs::exists(descriptor)) {
                std::string fileName = ReadJson(descriptor)["filename"].asString();
                if (fileName.size() > 4 && fileName.compare(fileName.size() - 4, 4, ".zip") == 0)
                    setName = fileName.substr(0, fileName.size() - 4);
            }
            sets[setName] = {game["gamename"].asString(), platformId};
        }
        if (sets.empty())
            throw std::runtime_error("the catalogue holds no arcade games");

        fs::create_directories(out / "gamelist");
        fs::create_directories(out / "icon");
        std::ostringstream ini;
        ini << "; Chinese names of the arcade sets, by set name (UTF-8). Written by quokka-arcade-res.\n";
        ini << "[games]\n";
        for (const auto& [setName, entry] : sets)
            ini << setName << "=" << entry.first << "\n";
        std::ofstream(out / "gamelist/arcade_ch.ini", std::ios::binary | std::ios::trunc) << ini.str();

        CDemoZip zip((out / "icon/arcade.zip").string());
        for (const auto& [setName, entry] : sets)
            zip.Add(setName + ".png", DrawIcon(setName, entry.second));
        zip.Close();
        std::cout << sets.size() << " arcade sets written to " << out.string() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "quokka-arcade-res: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
