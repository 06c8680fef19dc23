#include "platform/RegFile.h"

#include "platform/CodePage.h"

#include <variant>

namespace platform {

namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::string_view kHeader4Bytes = "REGEDIT4";
constexpr size_t kWrapColumns = 80;

enum class Format { Unicode, Regedit4 };

struct Decoded {
    std::u16string Text;
    Format TextFormat = Format::Unicode;
};

std::u16string_view TrimLeft(std::u16string_view text)
{
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
        text.remove_prefix(1);
    return text;
}

std::u16string_view TrimRight(std::u16string_view text)
{
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
        text.remove_suffix(1);
    return text;
}

std::u16string_view Trim(std::u16string_view text)
{
    return TrimRight(TrimLeft(text));
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix)
{
    return text.size() >= prefix.size() && RegNamesEqual(text.substr(0, prefix.size()), prefix);
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Parses 1 to maxDigits hex digits making up all of `text`.
std::optional<uint32_t> ParseHex(std::u16string_view text, size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    uint32_t value = 0;
    for (char16_t c : text) {
        int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    return value;
}

std::vector<std::string_view> SplitByteLines(std::string_view bytes)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (;;) {
        size_t end = bytes.find('\n', start);
        lines.push_back(bytes.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return lines;
        start = end + 1;
    }
}

std::optional<std::u16string> CodePageToUtf16(std::string_view bytes)
{
    const std::string codePage = ProcessCodePage();
    if (IsUtf8Name(codePage))
        return Utf8ToUtf16(bytes);
    std::string out;
    if (IconvConvert(codePage.c_str(), "UTF-16LE", bytes, out) != IconvResult::Ok)
        return std::nullopt;
    std::u16string text(out.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(static_cast<uint8_t>(out[2 * i]) |
                                        (static_cast<uint8_t>(out[2 * i + 1]) << 8));
    return text;
}

// Decodes a whole 8-bit text; on failure names the first line that does not decode.
std::variant<std::u16string, RegFileError> DecodeBytes(std::string_view bytes, bool utf8)
{
    auto decode = [utf8](std::string_view part) { return utf8 ? Utf8ToUtf16(part) : CodePageToUtf16(part); };
    if (auto text = decode(bytes))
        return std::move(*text);
    std::vector<std::string_view> lines = SplitByteLines(bytes);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!decode(lines[i]))
            return RegFileError{i + 1, utf8 ? "not valid UTF-8" : "not valid text in the code page"};
    }
    return RegFileError{0, "the text cannot be decoded"};
}

std::variant<Decoded, RegFileError> Decode(std::string_view bytes)
{
    if (bytes.size() > kMaxRegFileBytes)
        return RegFileError{0, "the file is larger than " + std::to_string(kMaxRegFileBytes) + " bytes"};
    Decoded decoded;
    if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
        static_cast<uint8_t>(bytes[1]) == 0xFE) {
        bytes.remove_prefix(2);
        if (bytes.size() % 2 != 0)
            return RegFileError{0, "UTF-16 text with an odd number of bytes"};
        decoded.Text.resize(bytes.size() / 2);
        for (size_t i = 0; i < decoded.Text.size(); ++i)
            decoded.Text[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                                    (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
        return decoded;
    }
    bool utf8 = true;
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    } else if (bytes.starts_with(kHeader4Bytes)) {
        utf8 = false;
        decoded.TextFormat = Format::Regedit4;
    }
    auto text = DecodeBytes(bytes, utf8);
    if (auto* error = std::get_if<RegFileError>(&text))
        return *error;
    decoded.Text = std::move(std::get<std::u16string>(text));
    return decoded;
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view text, bool terminate)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 2 + 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (terminate) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

class Parser {
public:
    Parser(std::u16string_view text, Format format, RegistryTree& tree) : m_format(format), m_tree(tree)
    {
        size_t start = 0;
        for (;;) {
            size_t end = text.find(u'\n', start);
            std::u16string_view line =
                text.substr(start, end == std::u16string_view::npos ? end : end - start);
            if (!line.empty() && line.back() == u'\r')
                line.remove_suffix(1);
            m_lines.push_back(line);
            if (end == std::u16string_view::npos)
                break;
            start = end + 1;
        }
    }

    std::optional<RegFileError> Run()
    {
        bool headerSeen = false;
        for (m_index = 0; m_index < m_lines.size(); ++m_index) {
            std::u16string_view line = Trim(m_lines[m_index]);
            if (line.empty())
                continue;
            if (!headerSeen) {
                std::u16string_view header = m_format == Format::Regedit4 ? kHeader4 : kHeader5;
                if (line != header)
                    return Error("the first line must be \"" + Utf16ToUtf8(header) + "\"");
                headerSeen = true;
                continue;
            }
            std::optional<RegFileError> error;
            if (line.front() == u';')
                continue;
            if (line.front() == u'[')
                error = KeyLine(line);
            else if (line.front() == u'"' || line.front() == u'@')
                error = ValueLine(line);
            else
                error = Error("not a key, a value or a comment");
            if (error)
                return error;
        }
        if (!headerSeen)
            return RegFileError{1, "no header line"};
        return std::nullopt;
    }

private:
    RegFileError Error(std::string message) const { return RegFileError{m_index + 1, std::move(message)}; }

    std::optional<RegFileError> KeyLine(std::u16string_view line)
    {
        if (line.size() < 2 || line.back() != u']')
            return Error("a key line must end with ']'");
        std::u16string_view path = line.substr(1, line.size() - 2);
        const bool remove = !path.empty() && path.front() == u'-';
        if (remove)
            path.remove_prefix(1);
        auto parts = RegistryTree::SplitPath(path);
        if (!parts)
            return Error("not a valid key (root key, empty or overlong name, or too deep)");
        if (remove) {
            if (parts->size() == 1)
                return Error("a root key cannot be removed");
            m_tree.Delete(path);
            m_current = nullptr;
            m_skipping = true;
            return std::nullopt;
        }
        m_current = m_tree.Create(path);
        m_skipping = false;
        if (!m_current)
            return Error("the registry would hold more than " + std::to_string(kMaxKeyCount) + " keys");
        return std::nullopt;
    }

    // Reads a quoted text starting at text[pos] == '"'; pos ends after the closing quote.
    std::optional<std::u16string> QuotedText(std::u16string_view text, size_t& pos) const
    {
        std::u16string out;
        for (++pos; pos < text.size(); ++pos) {
            char16_t c = text[pos];
            if (c == u'"') {
                ++pos;
                return out;
            }
            if (c == u'\\') {
                if (pos + 1 >= text.size() || (text[pos + 1] != u'\\' && text[pos + 1] != u'"'))
                    return std::nullopt;
                out.push_back(text[++pos]);
                continue;
            }
            out.push_back(c);
        }
        return std::nullopt;
    }

    // True when only blanks or a comment follow.
    static bool EndsHere(std::u16string_view rest)
    {
        rest = TrimLeft(rest);
        return rest.empty() || rest.front() == u';';
    }

    std::optional<RegFileError> ValueLine(std::u16string_view line)
    {
        size_t pos = 0;
        std::u16string name;
        if (line.front() == u'@') {
            pos = 1;
        } else {
            auto quoted = QuotedText(line, pos);
            if (!quoted)
                return Error("a value name must be closed by '\"' and may only escape \\\\ and \\\"");
            name = std::move(*quoted);
        }
        if (name.size() > kMaxValueNameLength)
            return Error("a value name longer than " + std::to_string(kMaxValueNameLength) + " characters");
        if (!IsStorableName(name))
            return Error("a value name holding a line break or a NUL");
        std::u16string_view rest = TrimLeft(line.substr(pos));
        if (rest.empty() || rest.front() != u'=')
            return Error("'=' expected after the value name");
        rest = TrimLeft(rest.substr(1));

        bool remove = false;
        uint32_t type = kRegSz;
        std::vector<uint8_t> data;
        if (!rest.empty() && rest.front() == u'-') {
            if (!EndsHere(rest.substr(1)))
                return Error("unexpected text after '-'");
            remove = true;
        } else if (!rest.empty() && rest.front() == u'"') {
            size_t at = 0;
            auto text = QuotedText(rest, at);
            if (!text)
                return Error("a text value must be closed by '\"' and may only escape \\\\ and \\\"");
            if (!EndsHere(rest.substr(at)))
                return Error("unexpected text after the closing '\"'");
            data = Utf16Bytes(*text, true);
        } else if (StartsWithNoCase(rest, u"dword:")) {
            std::u16string_view digits = rest.substr(6);
            size_t comment = digits.find(u';');
            if (comment != std::u16string_view::npos)
                digits = digits.substr(0, comment);
            auto number = ParseHex(Trim(digits), 8);
            if (!number)
                return Error("dword: needs one to eight hex digits");
            type = kRegDword;
            data = {static_cast<uint8_t>(*number), static_cast<uint8_t>(*number >> 8),
                    static_cast<uint8_t>(*number >> 16), static_cast<uint8_t>(*number >> 24)};
        } else if (StartsWithNoCase(rest, u"hex")) {
            rest.remove_prefix(3);
            type = kRegBinary;
            if (!rest.empty() && rest.front() == u'(') {
                size_t close = rest.find(u')');
                auto number = close == std::u16string_view::npos ? std::nullopt
                                                                 : ParseHex(rest.substr(1, close - 1), 8);
                if (!number)
                    return Error("hex(n): needs a type of one to eight hex digits");
                type = *number;
                rest.remove_prefix(close + 1);
            }
            if (rest.empty() || rest.front() != u':')
                return Error("':' expected after hex");
            auto bytes = ByteList(rest.substr(1));
            if (auto* error = std::get_if<RegFileError>(&bytes))
                return *error;
            data = std::move(std::get<std::vector<uint8_t>>(bytes));
            if (m_format == Format::Regedit4 &&
                (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz)) {
                // REGEDIT4 files carry these texts in the code page; the registry holds UTF-16.
                auto text = CodePageToUtf16(
                    std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
                if (!text)
                    return Error("text data that is not valid in the code page");
                data = Utf16Bytes(*text, false);
            }
        } else {
            return Error("unknown value type (expected \"text\", dword:, hex: or hex(n):)");
        }

        if (!m_current) {
            if (m_skipping)
                return std::nullopt;
            return Error("a value before the first key");
        }
        if (remove)
            m_current->DeleteValue(name);
        else if (!m_current->SetValue(name, type, std::move(data)))
            return Error("the registry would hold more than " + std::to_string(kMaxValueCount) + " values");
        return std::nullopt;
    }

    // Comma-separated bytes, continued on the following lines while a line ends with '\'.
    std::variant<std::vector<uint8_t>, RegFileError> ByteList(std::u16string_view first)
    {
        std::u16string list;
        std::u16string_view part = first;
        for (;;) {
            size_t comment = part.find(u';');
            if (comment != std::u16string_view::npos)
                part = part.substr(0, comment);
            part = Trim(part);
            if (part.empty() || part.back() != u'\\') {
                list += part;
                break;
            }
            part.remove_suffix(1);
            list += part;
            if (m_index + 1 >= m_lines.size())
                return Error("the byte list continues past the end of the file");
            ++m_index;
            part = m_lines[m_index];
        }
        std::vector<uint8_t> bytes;
        std::u16string_view rest = Trim(list);
        if (rest.empty())
            return bytes;
        bytes.reserve(rest.size() / 3 + 1);
        for (;;) {
            size_t comma = rest.find(u',');
            auto byte = ParseHex(Trim(rest.substr(0, comma)), 2);
            if (!byte)
                return Error("a byte list holds two hex digits per byte, separated by commas");
            bytes.push_back(static_cast<uint8_t>(*byte));
            if (comma == std::u16string_view::npos)
                return bytes;
            rest = rest.substr(comma + 1);
        }
    }

    Format m_format;
    RegistryTree& m_tree;
    std::vector<std::u16string_view> m_lines;
    size_t m_index = 0;
    RegistryKey* m_current = nullptr;
    bool m_skipping = false;
};

void AppendEscaped(std::u16string& out, std::u16string_view text)
{
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"')
            out.push_back(u'\\');
        out.push_back(c);
    }
}

void AppendHexByte(std::u16string& out, uint8_t byte)
{
    constexpr char16_t kDigits[] = u"0123456789abcdef";
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0xF]);
}

// The text of a string value when the text form gives back exactly its data.
std::optional<std::u16string> TextForm(const std::vector<uint8_t>& data)
{
    if (data.size() < 2 || data.size() % 2 != 0)
        return std::nullopt;
    std::u16string text(data.size() / 2 - 1, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (c == 0 || c == u'\r' || c == u'\n')
            return std::nullopt;
        text[i] = c;
    }
    if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0)
        return std::nullopt;
    return text;
}

void AppendValue(std::u16string& out, const RegValue& value)
{
    std::u16string line;
    if (value.Name.empty()) {
        line = u"@";
    } else {
        line = u"\"";
        AppendEscaped(line, value.Name);
        line += u"\"";
    }
    line += u"=";
    if (value.Type == kRegSz) {
        if (auto text = TextForm(value.Data)) {
            line += u"\"";
            AppendEscaped(line, *text);
            out += line + u"\"\r\n";
            return;
        }
    }
    if (value.Type == kRegDword && value.Data.size() == 4) {
        line += u"dword:";
        for (size_t i = 4; i-- > 0;)
            AppendHexByte(line, value.Data[i]);
        out += line + u"\r\n";
        return;
    }
    if (value.Type == kRegBinary) {
        line += u"hex:";
    } else {
        line += u"hex(";
        constexpr char16_t kDigits[] = u"0123456789abcdef";
        std::u16string digits;
        uint32_t type = value.Type;
        do {
            digits.insert(digits.begin(), kDigits[type & 0xF]);
            type >>= 4;
        } while (type != 0);
        line += digits + u"):";
    }
    const size_t count = value.Data.size();
    for (size_t i = 0; i < count; ++i) {
        const bool last = i + 1 == count;
        // A byte that is not the last is followed by ',' and needs room for a '\' after it.
        const size_t needed = line.size() + (last ? 2 : 4);
        if (needed > kWrapColumns && line != u"  ") {
            out += line + u"\\\r\n";
            line = u"  ";
        }
        AppendHexByte(line, value.Data[i]);
        if (!last)
            line.push_back(u',');
    }
    out += line + u"\r\n";
}

void AppendKey(std::u16string& out, const RegistryKey& key, std::u16string& path)
{
    out += u"[" + path + u"]\r\n";
    for (const RegValue& value : key.Values())
        AppendValue(out, value);
    out += u"\r\n";
    for (const RegistryKey* subkey : key.SortedSubkeys()) {
        const size_t length = path.size();
        path += u"\\" + subkey->Name();
        AppendKey(out, *subkey, path);
        path.resize(length);
    }
}

std::string FileBytes(const std::u16string& text)
{
    std::string bytes;
    bytes.reserve(text.size() * 2 + 2);
    bytes += "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::u16string Header()
{
    return std::u16string(kHeader5) + u"\r\n\r\n";
}

} // namespace

std::optional<RegFileError> ApplyRegFile(std::string_view bytes, RegistryTree& tree)
{
    auto decoded = Decode(bytes);
    if (auto* error = std::get_if<RegFileError>(&decoded))
        return *error;
    const Decoded& text = std::get<Decoded>(decoded);
    return Parser(text.Text, text.TextFormat, tree).Run();
}

std::string ExportRegKey(const RegistryKey& key, std::u16string_view keyPath)
{
    std::u16string out = Header();
    std::u16string path(keyPath);
    AppendKey(out, key, path);
    return FileBytes(out);
}

std::string ExportRegTree(const RegistryTree& tree)
{
    std::u16string out = Header();
    for (const RegistryKey* root : tree.Roots()) {
        std::u16string path = root->Name();
        AppendKey(out, *root, path);
    }
    return FileBytes(out);
}

std::string DescribeRegFileError(const RegFileError& error)
{
    if (error.Line == 0)
        return error.Message;
    return "line " + std::to_string(error.Line) + ": " + error.Message;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t lead = static_cast<uint8_t>(text[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        size_t length = 0;
        uint32_t code = 0;
        uint32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code = lead & 0x07, minimum = 0x10000;
        } else {
            return std::nullopt;
        }
        if (i + length > text.size())
            return std::nullopt;
        for (size_t k = 1; k < length; ++k) {
            const uint8_t next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

} // namespace platform
