#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An RGB picture that the demo generator draws into and writes as PNG.
class CDemoImage {
public:
    CDemoImage(int width, int height);

    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Colours are 0xRRGGBB. Shapes are clipped to the picture.
    void VerticalGradient(uint32_t top, uint32_t bottom);
    void FillRect(int x, int y, int width, int height, uint32_t colour);
    void FillCircle(int cx, int cy, int radius, uint32_t colour);
    // A frame `thickness` pixels wide along the edges.
    void Frame(int thickness, uint32_t colour);

    // The picture as a PNG file (8-bit RGB, zlib-compressed, no interlace).
    std::string EncodePng() const;

private:
    void Put(int x, int y, uint32_t colour);

    int m_width;
    int m_height;
    std::vector<uint8_t> m_pixels; // RGB rows, top to bottom
};
