#include "catalogue/CatalogueTables.h"

#include "foundation/StringConv.h"

#include <map>

std::string BadgeImage(const std::string& emulatorId)
{
    static const std::map<std::string, std::string> kBadges = {
        {"119", "PS.png"},       {"120", "GBA.png"}, {"121", "SFC.png"}, {"122", "MD.png"},
        {"123", "MAME.png"},     {"124", "GBC.png"}, {"125", "FC.png"},  {"126", "FBA.png"},
        {"127", "NDS.png"},      {"129", "PSP.png"}, {"130", "N64.png"}, {"131", "WSC.png"},
        {"133", "DC.png"},       {"138", "PC.png"},  {"140", "WII.png"}, {"142", "PS2.png"},
        {"146", "MAMEPLUS.png"}, {"148", "PCE.png"}};
    auto it = kBadges.find(emulatorId);
    return it == kBadges.end() ? std::string() : it->second;
}

std::string BadgeAttribute(const std::string& emulatorId)
{
    std::string image = BadgeImage(emulatorId);
    if (image.empty())
        return image;
    return "file='skin\\ui\\" + image + "' dest='217,0,253,36'";
}

const char* InstallStateText(int state)
{
    switch (state) {
    case 0:
        return "安装";
    case 2:
        return "下载中";
    case 3:
    case 6:
        return "暂停";
    case 4:
        return "等待";
    case 5:
        return "安装中";
    case 8:
        return "启动";
    default:
        return nullptr;
    }
}

std::string CategoryDisplayText(std::string category)
{
    const std::string kWord = Utf8ToOem("游戏"); // category texts are in the process code page
    for (size_t at = category.find(kWord); at != std::string::npos; at = category.find(kWord, at))
        category.erase(at, kWord.size());
    return category;
}
