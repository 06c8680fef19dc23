#include "catalogue/ImageHeader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

// Reads `count` bytes at `offset`; false when the file ends first.
bool ReadAt(std::ifstream& file, std::streamoff offset, unsigned char* out, std::streamsize count)
{
    file.clear();
    file.seekg(offset);
    file.read(reinterpret_cast<char*>(out), count);
    return file.gcount() == count;
}

unsigned BigEndian16(const unsigned char* p)
{
    return (static_cast<unsigned>(p[0]) << 8) | p[1];
}

std::uint32_t BigEndian32(const unsigned char* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

unsigned LittleEndian16(const unsigned char* p)
{
    return p[0] | (static_cast<unsigned>(p[1]) << 8);
}

std::int32_t LittleEndian32(const unsigned char* p)
{
    return static_cast<std::int32_t>(std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                                     (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24));
}

// The frame header of a JPEG: segments are walked by their lengths from the start, at most
// kMaxSegments of them, one read each.
bool JpegSize(std::ifstream& file, long long& width, long long& height)
{
    constexpr int kMaxSegments = 1024;
    std::streamoff at = 2;
    unsigned char head[4];
    for (int segment = 0; segment < kMaxSegments; ++segment) {
        if (!ReadAt(file, at, head, 4) || head[0] != 0xFF)
            return false;
        unsigned marker = head[1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            at += 2; // markers without a length
            continue;
        }
        unsigned length = BigEndian16(head + 2);
        if (length < 2 || marker == 0xD9 || marker == 0xDA)
            return false; // the picture data or the end came before a frame header
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            unsigned char size[5];
            if (!ReadAt(file, at + 4, size, 5))
                return false;
            height = BigEndian16(size + 1);
            width = BigEndian16(size + 3);
            return true;
        }
        at += 2 + static_cast<std::streamoff>(length);
    }
    return false;
}

} // namespace

bool ReadImageHeaderSize(const std::string& path, long long& width, long long& height)
{
    std::ifstream file(path, std::ios::binary);
    unsigned char head[30] = {};
    if (!file || !ReadAt(file, 0, head, 2))
        return false;
    bool full = ReadAt(file, 0, head, sizeof(head));
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (full && std::memcmp(head, kPng, 8) == 0 && std::memcmp(head + 12, "IHDR", 4) == 0) {
        width = BigEndian32(head + 16);
        height = BigEndian32(head + 20);
        return true;
    }
    if (full && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) {
        width = LittleEndian16(head + 6);
        height = LittleEndian16(head + 8);
        return true;
    }
    if (full && head[0] == 'B' && head[1] == 'M') {
        if (LittleEndian32(head + 14) == 12) { // the oldest header, with 16-bit sizes
            width = LittleEndian16(head + 18);
            height = LittleEndian16(head + 20);
            return true;
        }
        // Rows stored top-down have a negative height.
        width = std::llabs(static_cast<long long>(LittleEndian32(head + 18)));
        height = std::llabs(static_cast<long long>(LittleEndian32(head + 22)));
        return true;
    }
    if (head[0] == 0xFF && head[1] == 0xD8)
        return JpegSize(file, width, height);
    return false;
}
