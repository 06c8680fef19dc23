// The image cache against the stand-in server: icons and screenshots past the size limit are
// refused whether the server announces their length or not, and leave nothing in the cache.

#include "catalogue/CatalogueClient.h"
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
