#pragma once

#include <string>

// The size an image file's header states, read without decoding it: PNG, GIF, BMP and JPEG (its
// first frame header, found by walking the segments from the start; at most a few reads). True
// with the size when the header is one of these and readable; false otherwise (an unknown format,
// a file cut short, a JPEG without a frame header), in which case the size is left alone.
bool ReadImageHeaderSize(const std::string& path, long long& width, long long& height);
