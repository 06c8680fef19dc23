#include "demo/DemoDescriptors.h"

#include <json/json.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void WriteJsonFile(const fs::path& path, const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = " ";
    builder["emitUTF8"] = true;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << Json::writeString(builder, value) << "\n";
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

// MD5 of a byte string as 32 lower-case hexadecimal digits (the digest the descriptors carry).
class Md5 {
public:
    void Update(const std::string& bytes)
    {
        for (unsigned char c : bytes) {
            m_block[m_used++] = c;
            if (m_used == 64) {
                Transform();
                m_used = 0;
            }
        }
        m_length += bytes.size();
    }

    std::string HexDigest()
    {
        const uint64_t bits = m_length * 8;
        Update(std::string(1, '\x80'));
        while (m_used != 56)
            Update(std::string(1, '\0'));
        std::string tail;
        for (int i = 0; i < 8; ++i)
            tail += static_cast<char>((bits >> (8 * i)) & 0xFF);
        Update(tail);
        std::string hex;
        char digits[3];
        for (uint32_t word : m_state)
            for (int i = 0; i < 4; ++i) {
                std::snprintf(digits, sizeof digits, "%02x", (word >> (8 * i)) & 0xFF);
                hex += digits;
            }
        return hex;
    }

private:
    static uint32_t Rotate(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

    void Transform()
    {
        static constexpr int kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                           5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                           4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                           6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
        static const std::array<uint32_t, 64> kTable = [] {
            std::array<uint32_t, 64> table{};
            for (int i = 0; i < 64; ++i) // floor(abs(sin(i + 1)) * 2^32)
                table[i] =
                    static_cast<uint32_t>(static_cast<uint64_t>(std::abs(std::sin(i + 1.0)) * 4294967296.0));
            return table;
        }();
        uint32_t words[16];
        for (int i = 0; i < 16; ++i)
            words[i] = m_block[i * 4] | (m_block[i * 4 + 1] << 8) | (m_block[i * 4 + 2] << 16) |
                       (static_cast<uint32_t>(m_block[i * 4 + 3]) << 24);
        uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
        for (int i = 0; i < 64; ++i) {
            uint32_t f;
            int g;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            const uint32_t next = d;
            d = c;
            c = b;
            b = b + Rotate(a + f + kTable[i] + words[g], kShift[i]);
            a = next;
        }
        m_state[0] += a;
        m_state[1] += b;
        m_state[2] += c;
        m_state[3] += d;
    }

    std::array<uint32_t, 4> m_state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    unsigned char m_block[64] = {};
    size_t m_used = 0;
    uint64_t m_length = 0;
};

// What a game's descriptor offers besides its own delivery.
enum class ShareKind { None, WithFallback, Captcha, ExpiredFirst, ShareOnly, CaptchaUntilRight };

ShareKind ShareKindOf(int index)
{
    switch (index / 5 % 8) {
    case 1:
        return ShareKind::WithFallback;
    case 2:
        return ShareKind::Captcha;
    case 3:
        return ShareKind::ExpiredFirst;
    case 4:
        return ShareKind::ShareOnly;
    case 6:
        return ShareKind::CaptchaUntilRight;
    default:
        return ShareKind::None;
    }
}

Json::Value Share(const std::string& file, const char* captcha, const char* state, int hops)
{
    Json::Value share;
    share["file"] = file;
    share["captcha"] = captcha;
    share["state"] = state;
    share["hops"] = hops;
    return share;
}

} // namespace

void WriteDemoDescriptorKinds(const std::string& dataDir)
{
    const fs::path root(dataDir);
    std::map<long, fs::path> descriptors; // by game id, so the order is the same on every run
    for (const auto& entry : fs::directory_iterator(root / "descriptors"))
        if (entry.path().extension() == ".json")
            descriptors.emplace(std::stol(entry.path().stem().string()), entry.path());
    if (descriptors.empty())
        return;
    const long lastId = descriptors.rbegin()->first;

    Json::Value shares(Json::objectValue);
    for (const auto& [id, path] : descriptors) {
        const std::string gameId = std::to_string(id);
        const int index = static_cast<int>(id - 20001);
        Json::Value descriptor;
        std::istringstream(ReadAll(path)) >> descriptor;
        const bool volumes = descriptor["volume"].asString() == "1";

        // The archive's digest: the single archive, or the volumes in order, which join into it.
        std::vector<std::string> parts;
        if (volumes) {
            for (int volume = 1;
                 fs::exists(root / "download/volumes" /
                            (gameId + ".zip." + (volume < 10 ? "00" : "0") + std::to_string(volume)));
                 ++volume)
                parts.push_back("download/volumes/" + gameId + ".zip." + (volume < 10 ? "00" : "0") +
                                std::to_string(volume));
        } else {
            parts.push_back("download/games/" + gameId + ".zip");
        }
        if (index % 6 != 5) {
            Md5 md5;
            for (const std::string& part : parts)
                md5.Update(ReadAll(root / part));
            descriptor["filemd5"] = md5.HexDigest();
        }

        ShareKind kind = ShareKindOf(index);
        const std::string linkBase = "{{origin}}/share/link/";
        Json::Value& links = descriptor["cloudurl"]["baidu"];
        links = Json::Value(Json::arrayValue);
        auto addLinks = [&](const std::string& suffix, const char* captcha, const char* state) {
            const std::string key = "share-" + gameId + "-" + suffix;
            if (!volumes) {
                shares[key] = Share("download/games/" + gameId + ".zip", captcha, state, 2);
                links.append(linkBase + key);
                return;
            }
            std::string set;
            for (size_t v = 0; v < parts.size(); ++v) {
                const std::string volumeKey = key + "-v" + std::to_string(v + 1);
                shares[volumeKey] = Share(parts[v], captcha, state, 1 + static_cast<int>(v % 2));
                set += (v > 0 ? "," : "") + linkBase + volumeKey + "|" + std::to_string(v + 1);
            }
            links.append(set);
        };
        switch (kind) {
        case ShareKind::None:
            break;
        case ShareKind::WithFallback:
            addLinks("1", "none", "ok");
            break;
        case ShareKind::Captcha:
            addLinks("1", "once", "ok");
            break;
        case ShareKind::CaptchaUntilRight:
            addLinks("1", "untilright", "ok");
            break;
        case ShareKind::ExpiredFirst:
            addLinks("1", "none", "expired");
            addLinks("2", "none", "ok");
            break;
        case ShareKind::ShareOnly:
            addLinks("1", "none", "ok");
            descriptor["fileurl"] = "";
            descriptor["fileurl2"] = "";
            descriptor["filelist"] = Json::Value(Json::arrayValue);
            descriptor["filelist2"] = Json::Value(Json::arrayValue);
            descriptor["volumeurl"] = "";
            break;
        }
        if (id == lastId) {
            // One game that no source serves: the source dialog opens with nothing to offer.
            descriptor["fileurl"] = "";
            descriptor["fileurl2"] = "";
            descriptor["filelist"] = Json::Value(Json::arrayValue);
            descriptor["filelist2"] = Json::Value(Json::arrayValue);
            descriptor["volumeurl"] = "";
            links = Json::Value(Json::arrayValue);
        }
        WriteJsonFile(path, descriptor);
    }
    // A removed share, for tests that ask for one by key.
    shares["share-removed"] =
        Share("download/games/" + std::to_string(descriptors.begin()->first) + ".zip", "none", "removed", 1);
    WriteJsonFile(root / "shares.json", shares);
}
