#include "foundation/StringConv.h"

#include "platform/CodePage.h"

#include <cstring>
#include <stdexcept>

namespace {

constexpr char kInvalidSequence[] = "Invalid UTF-8 sequence.";
constexpr char kConversionError[] = "Error in conversion.";

[[noreturn]] void Fail(const char* message) { throw std::runtime_error(message); }

// Strict UTF-8 decoding: overlong forms, surrogates and values past U+10FFFF are invalid.
bool DecodeUtf8(std::string_view in, std::u16string& out)
{
    out.clear();
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size()) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        size_t extra;
        char32_t cp;
        char32_t minimum;
        if ((c & 0xE0) == 0xC0) {
            extra = 1, cp = c & 0x1F, minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, cp = c & 0x0F, minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, cp = c & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (i + extra >= in.size())
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            unsigned char cc = static_cast<unsigned char>(in[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += extra + 1;
    }
    return true;
}

// UTF-16 to UTF-8; a lone surrogate makes the text invalid.
bool EncodeUtf8(std::u16string_view in, std::string& out)
{
    out.clear();
    out.reserve(in.size() * 3);
    for (size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF)
                return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return false;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

std::string CodePageName(unsigned codePage)
{
    switch (codePage) {
    case kCodePageUtf8:
        return "UTF-8";
    case kCodePageGbk:
        return "GBK";
    default:
        return platform::ProcessCodePage();
    }
}

// Narrow text in `codePage` to UTF-16.
std::u16string NarrowToUtf16(std::string_view text, const std::string& codePage)
{
    std::u16string wide;
    if (text.empty())
        return wide;
    if (platform::IsUtf8Name(codePage)) {
        if (!DecodeUtf8(text, wide))
            Fail(kInvalidSequence);
        return wide;
    }
    std::string utf8;
    switch (platform::IconvConvert(codePage.c_str(), "UTF-8", text, utf8)) {
    case platform::IconvResult::Ok:
        break;
    case platform::IconvResult::InvalidInput:
        Fail(kInvalidSequence);
    case platform::IconvResult::Failed:
        Fail(kConversionError);
    }
    if (!DecodeUtf8(utf8, wide))
        Fail(kConversionError);
    return wide;
}

// UTF-16 to narrow text in `codePage`; unrepresentable characters become '?'.
std::string Utf16ToNarrow(std::u16string_view text, const std::string& codePage)
{
    std::string utf8;
    if (text.empty())
        return utf8;
    if (!EncodeUtf8(text, utf8))
        Fail(kInvalidSequence);
    if (platform::IsUtf8Name(codePage))
        return utf8;
    std::string narrow;
    switch (platform::IconvConvert("UTF-8", codePage.c_str(), utf8, narrow)) {
    case platform::IconvResult::Ok:
        return narrow;
    case platform::IconvResult::InvalidInput:
        Fail(kInvalidSequence);
    case platform::IconvResult::Failed:
        break;
    }
    Fail(kConversionError);
}

} // namespace

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    if (!EncodeUtf8(text, out))
        Fail(kConversionError);
    return out;
}

std::u16string AnsiToUtf16(std::string_view text) { return NarrowToUtf16(text, platform::ProcessCodePage()); }

std::string AnsiToUtf8(std::string_view text) { return Utf16ToUtf8(AnsiToUtf16(text)); }

std::u16string Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    if (!DecodeUtf8(text, out))
        Fail(kInvalidSequence);
    return out;
}

std::string Utf16ToOem(std::u16string_view text) { return Utf16ToNarrow(text, platform::ProcessCodePage()); }

std::string Utf8ToOem(std::string_view text) { return Utf16ToOem(Utf8ToUtf16(text)); }

CNarrowToWide::CNarrowToWide(const char* text, unsigned codePage)
{
    if (!text)
        return;
    std::u16string wide = NarrowToUtf16(text, CodePageName(codePage));
    if (wide.size() <= kInline) {
        std::memcpy(m_inline, wide.data(), wide.size() * sizeof(char16_t));
        m_inline[wide.size()] = u'\0';
        m_text = m_inline;
    } else {
        m_heap = std::move(wide);
        m_text = m_heap.c_str();
    }
}

CWideToNarrow::CWideToNarrow(const char16_t* text, unsigned codePage)
{
    if (!text)
        return;
    std::string narrow;
    try {
        narrow = Utf16ToNarrow(std::u16string_view(text), CodePageName(codePage));
    } catch (const std::runtime_error&) {
        throw CConversionException();
    }
    if (narrow.size() <= kInline) {
        std::memcpy(m_inline, narrow.data(), narrow.size());
        m_inline[narrow.size()] = '\0';
        m_text = m_inline;
    } else {
        m_heap = std::move(narrow);
        m_text = m_heap.c_str();
    }
}
