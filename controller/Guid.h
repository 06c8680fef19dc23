#pragma once

#include <array>
#include <cstdint>
#include <string>

// A device GUID in the layout that configuration files store: a 32-bit, a 16-bit and a 16-bit field
// (little-endian in memory) followed by eight bytes.
struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    // The 16 bytes of the in-memory structure.
    std::array<uint8_t, 16> Bytes() const;

    // Upper-case hexadecimal in groups 8-4-4-4-12, without braces:
    // "00000000-0000-0000-0000-000000000000" for the all-zero GUID.
    std::string Text() const;

    bool operator==(const Guid&) const = default;
};
