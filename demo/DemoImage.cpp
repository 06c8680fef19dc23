#include "demo/DemoImage.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace {

void AppendBigEndian(std::string& out, uint32_t value)
{
    out.push_back(static_cast<char>(value >> 24));
    out.push_back(static_cast<char>(value >> 16));
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value));
}

// One chunk: length, type, data and the CRC of type and data.
void AppendChunk(std::string& out, const char* type, const std::string& data)
{
    AppendBigEndian(out, static_cast<uint32_t>(data.size()));
    std::string typed = std::string(type, 4) + data;
    out += typed;
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
    AppendBigEndian(out, static_cast<uint32_t>(crc));
}

uint8_t Channel(uint32_t colour, int shift)
{
    return static_cast<uint8_t>((colour >> shift) & 0xFF);
}

} // namespace

CDemoImage::CDemoImage(int width, int height)
    : m_width(width), m_height(height), m_pixels(static_cast<size_t>(width) * height * 3, 0)
{
}

void CDemoImage::Put(int x, int y, uint32_t colour)
{
    if (x < 0 || y < 0 || x >= m_width || y >= m_height)
        return;
    size_t at = (static_cast<size_t>(y) * m_width + x) * 3;
    m_pixels[at] = Channel(colour, 16);
    m_pixels[at + 1] = Channel(colour, 8);
    m_pixels[at + 2] = Channel(colour, 0);
}

void CDemoImage::VerticalGradient(uint32_t top, uint32_t bottom)
{
    for (int y = 0; y < m_height; ++y) {
        uint32_t colour = 0;
        for (int shift : {16, 8, 0}) {
            int a = Channel(top, shift), b = Channel(bottom, shift);
            int value = a + (b - a) * y / std::max(1, m_height - 1);
            colour |= static_cast<uint32_t>(value) << shift;
        }
        for (int x = 0; x < m_width; ++x)
            Put(x, y, colour);
    }
}

void CDemoImage::FillRect(int x, int y, int width, int height, uint32_t colour)
{
    for (int row = std::max(0, y); row < std::min(m_height, y + height); ++row)
        for (int column = std::max(0, x); column < std::min(m_width, x + width); ++column)
            Put(column, row, colour);
}

void CDemoImage::FillCircle(int cx, int cy, int radius, uint32_t colour)
{
    for (int y = cy - radius; y <= cy + radius; ++y)
        for (int x = cx - radius; x <= cx + radius; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius)
                Put(x, y, colour);
}

void CDemoImage::Frame(int thickness, uint32_t colour)
{
    FillRect(0, 0, m_width, thickness, colour);
    FillRect(0, m_height - thickness, m_width, thickness, colour);
    FillRect(0, 0, thickness, m_height, colour);
    FillRect(m_width - thickness, 0, thickness, m_height, colour);
}

std::string CDemoImage::EncodePng() const
{
    // Each row starts with filter type 0 (none).
    std::string raw;
    raw.reserve(static_cast<size_t>(m_height) * (m_width * 3 + 1));
    for (int y = 0; y < m_height; ++y) {
        raw.push_back('\0');
        raw.append(reinterpret_cast<const char*>(&m_pixels[static_cast<size_t>(y) * m_width * 3]),
                   static_cast<size_t>(m_width) * 3);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib could not compress the picture");
    packed.resize(packedSize);

    std::string header;
    AppendBigEndian(header, static_cast<uint32_t>(m_width));
    AppendBigEndian(header, static_cast<uint32_t>(m_height));
    header += std::string("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB, deflate, no filter choice, no interlace

    std::string png("\x89PNG\r\n\x1a\n", 8);
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", packed);
    AppendChunk(png, "IEND", "");
    return png;
}
