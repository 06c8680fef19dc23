// The image cache against the stand-in server: icons and screenshots past the size limit are
// refused whether the server announces their length or not, and leave nothing in the cache.

#include "catalogue/CatalogueClient.h"
#include "catalogue/ImageHeader.h"
#include "catalogue/ImageLoader.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "server/StandInServer.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testsupport::MessageRecorder;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

constexpr long long kTestLimit = 256 * 1024;

std::string BigEndian(unsigned value, int bytes)
{
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

// The start of a PNG whose header states `width` x `height`.
std::string PngHeader(unsigned width, unsigned height)
{
    return std::string("\x89PNG\r\n\x1A\n", 8) + BigEndian(13, 4) + "IHDR" + BigEndian(width, 4) +
           BigEndian(height, 4) + std::string("\x08\x06\0\0\0", 5) + BigEndian(0, 4);
}

// The start of a JPEG: an APP0 segment of `appBytes`, then a frame header stating the size.
std::string JpegHeader(unsigned width, unsigned height, unsigned appBytes = 16)
{
    return std::string("\xFF\xD8\xFF\xE0", 4) + BigEndian(appBytes + 2, 2) + std::string(appBytes, 'J') +
           std::string("\xFF\xC0", 2) + BigEndian(17, 2) + "\x08" + BigEndian(height, 2) +
           BigEndian(width, 2) + std::string(12, '\0');
}

platform::HWND Window()
{
    return reinterpret_cast<platform::HWND>(0x77);
}

class ImageCacheLimitTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }

    void SetUp() override
    {
        const std::string data = m_dir.Path() + "data/";
        fs::create_directories(data + "image/icon");
        WriteFile(data + "image/icon/small.png", "PNG:small");
        WriteFile(data + "image/icon/huge.png", std::string(3 * 1024 * 1024, 'P')); // far past the limit
        WriteFile(data + "image/icon/edge.png", std::string(kTestLimit, 'E'));
        StandInServerOptions options;
        options.dataDir = data;
        m_server = std::make_unique<CStandInServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;

        ServerEndpoints endpoints = DefaultServerEndpoints();
        endpoints.ImageBase = m_server->Origin() + "/image/";
        SetServerEndpoints(endpoints);
        AppPaths paths;
        paths.WorkDir = m_dir.Path() + "work/";
        paths.ImageCacheDir = paths.WorkDir + "/cache/image/";
        SetAppPaths(paths);
        m_loader.SetMaxImageBytes(kTestLimit);
    }

    void Faults(const std::string& json)
    {
        std::string error;
        ASSERT_TRUE(m_server->SetFaults(json, error)) << error;
    }

    // The image the loader answers for `icon`.
    std::string Answer(const std::string& icon)
    {
        m_loader.Request(Window(), 0, 0, icon, icon);
        auto message = m_messages.Next();
        EXPECT_TRUE(message) << icon;
        return message ? message->Payload<CImageAnswer>()->image : std::string();
    }

    // The files left in the icon cache folder, temporary ones included.
    std::vector<std::string> CachedFiles() const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Cache() + "icon", ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string Cache() const { return m_dir.Path() + "work/cache/image/"; }

    testsupport::TempDir m_dir;
    std::unique_ptr<CStandInServer> m_server;
    MessageRecorder m_messages;
    CImageLoader m_loader;
};

} // namespace

TEST_F(ImageCacheLimitTest, IconsPastTheLimitGiveTheDefaultIconAndLeaveNoFile)
{
    EXPECT_EQ(Answer("icon/small.png"), Cache() + "icon/small.png");
    EXPECT_EQ(Answer("icon/edge.png"), Cache() + "icon/edge.png") << "an icon of the limit itself is kept";
    // Announced past the limit.
    EXPECT_EQ(Answer("icon/huge.png"), CImageLoader::kDefaultIcon);
    // A small announced body followed by more than the limit without a length, and one without end.
    Faults(R"([{"path": "/image/icon/more.png", "extraBytes": 1048576},
               {"path": "/image/icon/endless.png", "endlessBody": true}])");
    WriteFile(m_dir.Path() + "data/image/icon/more.png", "PNG:more");
    WriteFile(m_dir.Path() + "data/image/icon/endless.png", "PNG:endless");
    EXPECT_EQ(Answer("icon/more.png"), CImageLoader::kDefaultIcon);
    EXPECT_EQ(Answer("icon/endless.png"), CImageLoader::kDefaultIcon);
    m_loader.Shutdown();
    EXPECT_EQ(CachedFiles(), (std::vector<std::string>{"edge.png", "small.png"}));
}

TEST_F(ImageCacheLimitTest, ACachedIconPastTheLimitIsNotShownAndIsFetchedAnew)
{
    fs::create_directories(Cache() + "icon");
    WriteFile(Cache() + "icon/small.png", std::string(kTestLimit + 1, 'X'));
    WriteFile(Cache() + "icon/huge.png", std::string(kTestLimit + 1, 'X'));
    EXPECT_FALSE(IsCachedImage(Cache() + "icon/small.png", kTestLimit));
    EXPECT_TRUE(IsCachedImage(Cache() + "icon/small.png"));
    EXPECT_EQ(Answer("icon/small.png"), Cache() + "icon/small.png");
    EXPECT_EQ(ReadFile(Cache() + "icon/small.png"), "PNG:small");
    EXPECT_EQ(Answer("icon/huge.png"), CImageLoader::kDefaultIcon);
    m_loader.Shutdown();
    EXPECT_EQ(CachedFiles(), (std::vector<std::string>{"small.png"}));
}

TEST_F(ImageCacheLimitTest, AScreenshotPastTheDefaultLimitIsRefused)
{
    // The announced body is small; a megabyte past the limit follows it without a length.
    Faults(R"({"path": "/image/icon/small.png", "extraBytes": 9437184})");
    const std::string path = Cache() + "shot.png";
    EXPECT_FALSE(DownloadImageFile(ImageUrl("icon/small.png"), path, nullptr));
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(Cache(), ec)) << "neither the file nor a temporary one is left";
    Faults("[]");
    EXPECT_TRUE(DownloadImageFile(ImageUrl("icon/small.png"), path, nullptr));
    EXPECT_EQ(ReadFile(path), "PNG:small");
}

TEST_F(ImageCacheLimitTest, ImagesWhoseHeaderClaimsTooManyPixelsAreRefused)
{
    const std::string data = m_dir.Path() + "data/image/icon/";
    WriteFile(data + "claims.png", PngHeader(60000, 60000));
    WriteFile(data + "claims.jpg", JpegHeader(60000, 60000, 4000));
    WriteFile(data + "claims.gif", std::string("GIF89a\xFF\xFF\xFF\xFF", 10) + std::string(20, '\0'));
    WriteFile(data + "fits.png", PngHeader(4096, 4096));
    WriteFile(data + "fits.jpg", JpegHeader(1920, 1080));
    EXPECT_EQ(Answer("icon/claims.png"), CImageLoader::kDefaultIcon);
    EXPECT_EQ(Answer("icon/claims.jpg"), CImageLoader::kDefaultIcon);
    EXPECT_EQ(Answer("icon/claims.gif"), CImageLoader::kDefaultIcon);
    EXPECT_EQ(Answer("icon/fits.png"), Cache() + "icon/fits.png");
    EXPECT_EQ(Answer("icon/fits.jpg"), Cache() + "icon/fits.jpg");
    m_loader.Shutdown();
    EXPECT_EQ(CachedFiles(), (std::vector<std::string>{"fits.jpg", "fits.png"}));

    long long width = 0;
    long long height = 0;
    ASSERT_TRUE(ReadImageHeaderSize(data + "fits.jpg", width, height));
    EXPECT_EQ(width, 1920);
    EXPECT_EQ(height, 1080);
    std::string bmp = "BM" + std::string(12, '\0') + std::string("\x28\0\0\0", 4) +
                      std::string("\x80\0\0\0", 4) + std::string("\xC0\xFF\xFF\xFF", 4) +
                      std::string(8, '\0');
    WriteFile(data + "top-down.bmp", bmp);
    ASSERT_TRUE(ReadImageHeaderSize(data + "top-down.bmp", width, height));
    EXPECT_EQ(width, 128);
    EXPECT_EQ(height, 64);
    // Cut before its frame header, or not an image at all: no size, and the file is not refused.
    WriteFile(data + "cut.jpg", JpegHeader(10, 10, 4000).substr(0, 3000));
    EXPECT_FALSE(ReadImageHeaderSize(data + "cut.jpg", width, height));
    EXPECT_FALSE(ReadImageHeaderSize(data + "small.png", width, height));
    EXPECT_FALSE(ReadImageHeaderSize(data + "absent.png", width, height));
}
