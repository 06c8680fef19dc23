#include "server/CaptchaPicture.h"

#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 120;
constexpr int kHeight = 48;
constexpr int kCell = 4;

// Rows of 5 bits, the leftmost pixel in the highest bit.
const std::map<char, std::array<unsigned char, 7>>& Glyphs()
{
    static const std::map<char, std::array<unsigned char, 7>> glyphs = {
        {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
        {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
        {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
        {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
        {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
        {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
        {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
        {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
        {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
        {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}}, {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
    };
    return glyphs;
}

struct CompressDeleter {
    void operator()(jpeg_compress_struct* info) const
    {
        jpeg_destroy_compress(info);
        delete info;
    }
};

// The encoder's default error handler exits the process; this one jumps back to the encoding call,
// which then returns an empty picture. Only C frames of the library lie between the two.
struct JumpErrors {
    jpeg_error_mgr manager;
    std::jmp_buf back;
};

[[noreturn]] void OnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JumpErrors*>(info->err)->back, 1);
}

} // namespace

std::string DrawCaptchaJpeg(const std::string& code)
{
    std::vector<unsigned char> pixels(kWidth * kHeight * 3);
    for (size_t i = 0; i < pixels.size(); i += 3)
        std::memcpy(&pixels[i], kCaptchaGround, 3);
    for (size_t index = 0; index < code.size() && index < 4; ++index) {
        auto glyph = Glyphs().find(code[index]);
        if (glyph == Glyphs().end())
            continue;
        const int left = 10 + static_cast<int>(index) * 26;
        const int top = 10 + (index % 2 == 0 ? -3 : 3);
        for (int row = 0; row < 7; ++row)
            for (int column = 0; column < 5; ++column) {
                if ((glyph->second[row] & (0x10 >> column)) == 0)
                    continue;
                for (int y = 0; y < kCell; ++y)
                    for (int x = 0; x < kCell; ++x) {
                        const int px = left + column * kCell + x, py = top + row * kCell + y;
                        std::memcpy(&pixels[(py * kWidth + px) * 3], kCaptchaInk, 3);
                    }
            }
    }

    JumpErrors errors;
    std::unique_ptr<jpeg_compress_struct, CompressDeleter> info(new jpeg_compress_struct{});
    info->err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = OnError;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(errors.back) != 0) {
        info.reset();
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(info.get());
    jpeg_mem_dest(info.get(), &buffer, &size);
    info->image_width = kWidth;
    info->image_height = kHeight;
    info->input_components = 3;
    info->in_color_space = JCS_RGB;
    jpeg_set_defaults(info.get());
    jpeg_set_quality(info.get(), 95, TRUE);
    jpeg_start_compress(info.get(), TRUE);
    while (info->next_scanline < info->image_height) {
        JSAMPROW row = &pixels[info->next_scanline * kWidth * 3];
        jpeg_write_scanlines(info.get(), &row, 1);
    }
    jpeg_finish_compress(info.get());
    std::string jpeg;
    if (buffer != nullptr)
        jpeg.assign(reinterpret_cast<const char*>(buffer), size);
    info.reset();
    std::free(buffer);
    return jpeg;
}
