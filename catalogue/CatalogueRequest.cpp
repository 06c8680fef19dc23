#include "catalogue/CatalogueRequest.h"

#include "foundation/StringConv.h"

#include <cstdio>

std::string FormEncode(std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || c == '.' || c == '~';
        if (plain) {
            out.push_back(ch);
        } else if (c == ' ') {
            out.push_back('+');
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

std::string FilterText(int id)
{
    if (id == 0)
        return " ";
    char text[16];
    std::snprintf(text, sizeof(text), "%03d", id);
    return text;
}

const char* OrderText(int order)
{
    switch (order) {
    case 1:
        return "new";
    case 2:
        return "hot";
    default:
        return "recommend";
    }
}

std::string FormatGameListBody(int page, int pageSize, int categoryId, int emulatorId, int order,
                               const std::string& keyword)
{
    std::string keywordText = keyword.empty() ? std::string(" ") : FormEncode(AnsiToUtf8(keyword));
    // The body has no length limit of its own: a long search text is sent whole.
    return "model=appstore&action=gamelist&clientparams=" + std::string(kClientParams) +
           "&page=" + std::to_string(page) + "&pagesize=" + std::to_string(pageSize) +
           "&categoryid=" + FilterText(categoryId) + "&emulatorid=" + FilterText(emulatorId) +
           "&keyword=" + keywordText + "&orderby=" + OrderText(order);
}

std::string FormatGameInfoBody(const std::string& gameId)
{
    return "model=appstore&action=gameinfo&clientparams=" + std::string(kClientParams) + "&gameid=" + gameId;
}
