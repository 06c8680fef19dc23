// Images past the toolkit's limits (file bytes, pixels that a header claims or that a tiny file
// decodes to) count as bad images: nothing is decoded and a control draws without them.

#include "UiTestSupport.h"

#include <QBuffer>
#include <QImage>

#include <fstream>

#include "tests/support/TempDir.h"
#include "ui/PaintManager.h"

using namespace UiLib;

namespace {

std::string Png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::uint32_t Crc32(const std::string& bytes, size_t from, size_t length)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = from; i < from + length; ++i) {
        crc ^= static_cast<unsigned char>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBigEndian(std::string& bytes, size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

// A PNG whose header says `width` x `height` (with a valid checksum) over the data of a 1 x 1 image.
std::string PngClaiming(std::uint32_t width, std::uint32_t height)
{
    QImage dot(1, 1, QImage::Format_ARGB32);
    dot.fill(Qt::red);
    std::string png = Png(dot);
    // Signature (8), IHDR length (4) and type (4), then width and height; the checksum covers the
    // type and the 13 data bytes.
    PutBigEndian(png, 16, width);
    PutBigEndian(png, 20, height);
    PutBigEndian(png, 29, Crc32(png, 12, 17));
    return png;
}

void Write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(ImageLimitsTest, ImagesPastTheFileOrPixelLimitsAreNotDecoded)
{
    testsupport::TempDir dir;
    QImage icon(64, 64, QImage::Format_ARGB32);
    icon.fill(Qt::blue);
    const std::string small = Png(icon);
    Write(dir.Path() + "icon.png", small);
    // Bytes after the image's end do not change the picture, only the file's size.
    Write(dir.Path() + "padded.png", small + std::string(CPaintManagerUI::kMaxImageFileBytes, '\0'));
    Write(dir.Path() + "at-limit.png",
          small + std::string(CPaintManagerUI::kMaxImageFileBytes - small.size(), '\0'));
    Write(dir.Path() + "claims.png", PngClaiming(60000, 60000));
    // A few kilobytes that decode to 5000 x 5000 pixels.
    QImage plain(5000, 5000, QImage::Format_Mono);
    plain.fill(0);
    Write(dir.Path() + "plain.png", Png(plain));

    CPaintManagerUI pm;
    auto image = [&](const char* name) { return pm.GetImage(CDuiString::FromUtf8(dir.Path() + name)); };
    const TImageInfo* good = image("icon.png");
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->nX, 64);
    ASSERT_NE(image("at-limit.png"), nullptr) << "a file of the limit itself is read";
    EXPECT_EQ(image("padded.png"), nullptr);
    EXPECT_EQ(image("claims.png"), nullptr);
    EXPECT_EQ(image("plain.png"), nullptr);

    // A control whose image is refused draws its background all the same.
    uitest::TestDialog dialog(
        CDuiString::FromUtf8(R"(<Window size="120,80"><HorizontalLayout bkcolor="#FF2479E4">
        <Control name="Ctr_Icon" bkimage=")" +
                             dir.Path() + R"(claims.png"/></HorizontalLayout></Window>)"));
    ASSERT_TRUE(dialog.Open());
    TestInput::TestImage shown = TestInput::Grab(dialog.GetHWND());
    ASSERT_FALSE(shown.IsNull());
    EXPECT_TRUE(uitest::Near(uitest::Rgb(shown.Pixel(60, 40)), 0x2479E4));
}
