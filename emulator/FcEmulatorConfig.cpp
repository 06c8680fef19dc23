#include "emulator/FcEmulatorConfig.h"

#include "emulator/FcConfigKeys.h"
#include "platform/Trace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kVersionKey[] = "!version";
constexpr char kVersionValue[] = "1";
constexpr std::string_view kBase64Prefix = "base64:";
constexpr char kGamePadConfigKey[] = "GamePadConfig";
constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Decodes base64 groups into `storage` from its start until it is full or the text ends. False for a
// character outside the alphabet or text that ends inside a group; the storage is then unspecified.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& storage)
{
    size_t out = 0;
    for (size_t i = 0; i < text.size() && out < storage.size(); i += 4) {
        if (i + 4 > text.size())
            return false;
        int v[4];
        int count = 3;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=' && k == 3) {
                v[k] = 0;
                count = std::min(count, 2);
            } else if (c == '=' && k == 2 && text[i + 3] == '=') {
                v[k] = 0;
                count = 1;
            } else if ((v[k] = Base64Value(c)) < 0) {
                return false;
            }
        }
        const uint32_t group = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        for (int k = 0; k < count && out < storage.size(); ++k)
            storage[out++] = static_cast<uint8_t>(group >> (16 - 8 * k));
    }
    return true;
}

std::string EncodeBase64(const std::vector<uint8_t>& bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = bytes[i] << 16;
        if (n > 1)
            group |= bytes[i + 1] << 8;
        if (n > 2)
            group |= bytes[i + 2];
        text.push_back(kBase64Alphabet[(group >> 18) & 63]);
        text.push_back(kBase64Alphabet[(group >> 12) & 63]);
        text.push_back(n > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=');
        text.push_back(n > 2 ? kBase64Alphabet[group & 63] : '=');
    }
    return text;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hexadecimal digit pairs into consecutive bytes, as many as both the storage and the text allow.
void DecodeHex(std::string_view digits, std::vector<uint8_t>& storage)
{
    for (size_t i = 0, out = 0; i + 1 < digits.size() && out < storage.size(); i += 2, ++out) {
        int high = HexValue(digits[i]);
        int low = HexValue(digits[i + 1]);
        if (high < 0 || low < 0)
            return;
        storage[out] = static_cast<uint8_t>(high << 4 | low);
    }
}

// Leading white space, an optional sign and the decimal digits up to the first other character; no
// digits give 0. The value wraps instead of overflowing, and the caller keeps its low bytes.
uint64_t LeadingDigits(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() &&
           (IsBlank(text[i]) || text[i] == '\n' || text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    return negative ? ~value + 1 : value;
}

uint64_t ReadLittleEndian(const std::vector<uint8_t>& bytes)
{
    uint64_t value = 0;
    for (size_t i = bytes.size(); i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

} // namespace

CFcEmulatorConfig::CFcEmulatorConfig()
{
    Reset();
}

void CFcEmulatorConfig::Reset()
{
    m_entries.clear();
    m_entries[kVersionKey] = kVersionValue;
    const auto& keys = FcConfigKeys();
    m_slots.assign(keys.size(), Slot{});
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].size == 0)
            m_slots[i].text = FcConfigDefaultText(keys[i]);
        else
            m_slots[i].bytes = FcConfigDefaultBytes(keys[i]);
    }
}

int CFcEmulatorConfig::IndexOf(std::string_view key) const
{
    const auto& keys = FcConfigKeys();
    for (size_t i = 0; i < keys.size(); ++i) {
        if (key == keys[i].name)
            return static_cast<int>(i);
    }
    return -1;
}

bool CFcEmulatorConfig::Load(const std::string& path)
{
    Reset();
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;
    std::string text;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        text.append(chunk, n);
    ParseLines(text);
    DecodeAll();
    return true;
}

void CFcEmulatorConfig::LoadText(std::string_view text)
{
    Reset();
    ParseLines(text);
    DecodeAll();
}

void CFcEmulatorConfig::ParseLines(std::string_view text)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        size_t i = 0;
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i == line.size() || line[i] == '#')
            continue;
        size_t keyEnd = i;
        while (keyEnd < line.size() && !IsBlank(line[keyEnd]))
            ++keyEnd;
        size_t valueStart = keyEnd;
        while (valueStart < line.size() && IsBlank(line[valueStart]))
            ++valueStart;
        m_entries[std::string(line.substr(i, keyEnd - i))] = std::string(line.substr(valueStart));
    }
}

void CFcEmulatorConfig::DecodeAll()
{
    const auto& keys = FcConfigKeys();
    for (size_t k = 0; k < keys.size(); ++k) {
        auto it = m_entries.find(keys[k].name);
        if (it == m_entries.end())
            continue;
        const std::string& value = it->second;
        Slot& slot = m_slots[k];
        const uint32_t size = keys[k].size;
        if (size == 0) {
            slot.text = value.empty() ? std::nullopt : std::optional<std::string>(value);
            continue;
        }
        // Decoded into a copy, so a key that fails keeps its storage as it was.
        std::vector<uint8_t> bytes = slot.bytes;
        bool ok = true;
        if (value.size() >= kBase64Prefix.size() &&
            value.compare(0, kBase64Prefix.size(), kBase64Prefix) == 0) {
            ok = DecodeBase64(std::string_view(value).substr(kBase64Prefix.size()), bytes);
        } else if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
            DecodeHex(std::string_view(value).substr(2), bytes);
        } else if (size == 1 || size == 2 || size == 4) {
            const uint64_t number = LeadingDigits(value);
            for (uint32_t i = 0; i < size; ++i)
                bytes[i] = static_cast<uint8_t>(number >> (8 * i));
        } else {
            ok = false;
        }
        if (!ok) {
            platform::Trace("Config error: error parsing parameter");
            continue;
        }
        slot.bytes = std::move(bytes);
    }
}

void CFcEmulatorConfig::EncodeAll()
{
    const auto& keys = FcConfigKeys();
    for (size_t k = 0; k < keys.size(); ++k) {
        const Slot& slot = m_slots[k];
        std::string value;
        switch (keys[k].size) {
        case 0:
            value = slot.text.value_or(std::string());
            break;
        case 1:
        case 2:
            value = std::to_string(ReadLittleEndian(slot.bytes));
            break;
        case 4:
            value = std::to_string(static_cast<int32_t>(static_cast<uint32_t>(ReadLittleEndian(slot.bytes))));
            break;
        default:
            value = std::string(kBase64Prefix) + EncodeBase64(slot.bytes);
            break;
        }
        m_entries[keys[k].name] = std::move(value);
    }
}

std::string CFcEmulatorConfig::SaveText()
{
    EncodeAll();
    std::string text;
    for (const auto& [key, value] : m_entries) {
        text += key;
        text += ' ';
        text += value;
        text += '\n';
    }
    return text;
}

bool CFcEmulatorConfig::Save(const std::string& path)
{
    // The file must be writable as it stands; opening it without truncating asks that without harm.
    {
        int probe = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (probe < 0)
            return false;
        ::close(probe);
    }
    const std::string text = SaveText();
    const std::string temp = path + ".saving";
    {
        std::unique_ptr<FILE, FileCloser> file(std::fopen(temp.c_str(), "wb"));
        if (!file)
            return false;
        bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
        if (std::fclose(file.release()) != 0 || !written) {
            ::unlink(temp.c_str());
            return false;
        }
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        ::chmod(temp.c_str(), st.st_mode & 07777);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void CFcEmulatorConfig::SetGamePadGuid(int pad, const Guid& guid)
{
    if (pad < 0 || pad >= kMaxGamePads)
        return;
    int index = IndexOf(kGamePadConfigKey);
    if (index < 0)
        return;
    std::vector<uint8_t>& block = m_slots[static_cast<size_t>(index)].bytes;
    const auto bytes = guid.Bytes();
    for (size_t r = 0; r < kRecordsPerGamePad; ++r) {
        size_t at =
            (static_cast<size_t>(pad) * kRecordsPerGamePad + r) * kGamePadRecordSize + kGamePadGuidOffset;
        if (at + bytes.size() <= block.size())
            std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
    }
}

bool CFcEmulatorConfig::WriteControllers(const std::string& path, const std::vector<Guid>& controllers)
{
    CFcEmulatorConfig config;
    config.Load(path);
    for (size_t i = 0; i < controllers.size() && i < kMaxGamePads; ++i)
        config.SetGamePadGuid(static_cast<int>(i), controllers[i]);
    return config.Save(path);
}

std::optional<std::string> CFcEmulatorConfig::Value(const std::string& key) const
{
    auto it = m_entries.find(key);
    if (it == m_entries.end())
        return std::nullopt;
    return it->second;
}

const std::vector<uint8_t>* CFcEmulatorConfig::Storage(std::string_view key) const
{
    int index = IndexOf(key);
    if (index < 0 || FcConfigKeys()[static_cast<size_t>(index)].size == 0)
        return nullptr;
    return &m_slots[static_cast<size_t>(index)].bytes;
}

std::optional<std::string> CFcEmulatorConfig::Text(std::string_view key) const
{
    int index = IndexOf(key);
    if (index < 0 || FcConfigKeys()[static_cast<size_t>(index)].size != 0)
        return std::nullopt;
    return m_slots[static_cast<size_t>(index)].text;
}
