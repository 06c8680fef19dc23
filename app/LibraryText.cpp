#include "app/LibraryText.h"

#include "foundation/FileSystem.h"
#include "foundation/StringConv.h"

#include <stdexcept>

UiLib::CDuiString DisplayText(const std::string& ansi)
{
    try {
        return UiLib::CDuiString(AnsiToUtf16(ansi));
    } catch (const std::exception&) {
        // Fall through to the piecewise conversion.
    }
    // A character of the code pages in use (UTF-8, GBK) takes at most four bytes: the shortest run
    // that converts is one character; a byte that starts none is shown as a replacement mark.
    std::u16string shown;
    size_t i = 0;
    while (i < ansi.size()) {
        const auto byte = static_cast<unsigned char>(ansi[i]);
        if (byte < 0x80) {
            shown.push_back(static_cast<char16_t>(byte));
            ++i;
            continue;
        }
        size_t taken = 0;
        for (size_t length = 2; length <= 4 && i + length <= ansi.size() && taken == 0; ++length) {
            try {
                std::u16string piece = AnsiToUtf16(std::string_view(ansi).substr(i, length));
                if (!piece.empty()) {
                    shown += piece;
                    taken = length;
                }
            } catch (const std::exception&) {
                // Too short, or not a character: try one byte more.
            }
        }
        if (taken == 0) {
            shown.push_back(u'\uFFFD');
            taken = 1;
        }
        i += taken;
    }
    return UiLib::CDuiString(shown);
}

std::string NativeOf(const std::string& ansiPath)
{
    try {
        return NativePath(ansiPath);
    } catch (const std::exception&) {
        return ansiPath;
    }
}
