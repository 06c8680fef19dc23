#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The keys that the FC emulator's configuration file knows, each with the size of its storage:
// 0 text (may be absent), 1 an unsigned byte, 2 an unsigned 16-bit integer, 4 a signed 32-bit
// integer, any other size a byte block of exactly that many bytes. Integers are held in their
// little-endian memory form, as the emulator keeps them.
struct FcConfigKey {
    const char* name;
    uint32_t size;
};

// All 302 keys in table order (the order in which they are read and written).
const std::vector<FcConfigKey>& FcConfigKeys();

// The storage a key starts with: its default bytes (size bytes), or for a text key its default text
// (std::nullopt when absent).
std::vector<uint8_t> FcConfigDefaultBytes(const FcConfigKey& key);
std::optional<std::string> FcConfigDefaultText(const FcConfigKey& key);
