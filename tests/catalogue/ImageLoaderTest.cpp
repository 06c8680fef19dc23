#include "catalogue/ImageLoader.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TempDir.h"

#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace fs = std::filesystem;
using testsupport::MessageRecorder;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

platform::HWND Window() { return reinterpret_cast<platform::HWND>(0x77); }

// An image server that counts requests per path and the most it ever served at once. Each answer
// is held back briefly (or until five requests overlap) so that parallel downloads really overlap.
class ImageServer {
public:
    ImageServer()
    {
        m_server.Get("/image/.*", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::unique_lock lock(m_mutex);
                ++m_hits[request.path];
                ++m_active;
                m_peak = std::max(m_peak, m_active);
                m_changed.notify_all();
                m_changed.wait_for(lock, std::chrono::milliseconds(40), [this] { return m_active > 4; });
                --m_active;
            }
            if (request.path.find("missing") != std::string::npos) {
                response.status = 404;
                response.set_content("<html>not found</html>", "text/html");
                return;
            }
            response.set_content("PNG:" + request.path, "image/png");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() before the accept loop runs would be lost; the port already listens meanwhile.
        while (!m_server.is_running())
            std::this_thread::yield();
    }
    ~ImageServer()
    {
        m_server.stop();
        m_thread.join();
    }

    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/image/"; }
    int Hits(const std::string& path)
    {
        std::lock_guard lock(m_mutex);
        return m_hits[path];
    }
    int Peak()
    {
        std::lock_guard lock(m_mutex);
        return m_peak;
    }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, int> m_hits;
    int m_active = 0;
    int m_peak = 0;
};

class ImageLoaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }

    void SetUp() override
    {
        ServerEndpoints endpoints = DefaultServerEndpoints();
        endpoints.ImageBase = m_images.Base();
        SetServerEndpoints(endpoints);
        AppPaths paths;
        paths.WorkDir = m_dir.Path() + "work/";
        paths.ImageCacheDir = paths.WorkDir + "/cache/image/";
        paths.ArcadeImageDir = paths.WorkDir + "cache/image/arcade/";
        paths.MameImageDir = paths.WorkDir + "cache/image/mame/";
        SetAppPaths(paths);
    }

    std::string Cache() const { return m_dir.Path() + "work/cache/image/"; }

    testsupport::TempDir m_dir;
    ImageServer m_images;
    MessageRecorder m_messages;
    CImageLoader m_loader;
};

} // namespace

TEST_F(ImageLoaderTest, FortyIconsAtMostFourAtOnceAndEveryAnswerArrives)
{
    for (int i = 0; i < 40; ++i)
        m_loader.Request(Window(), 0, 0, std::to_string(i), "icon/g" + std::to_string(i) + ".png");
    std::set<std::string> answered;
    for (int i = 0; i < 40; ++i) {
        auto message = m_messages.Next();
        ASSERT_TRUE(message) << "answer " << i;
        ASSERT_EQ(message->message, WM_GAME_ICON);
        auto* answer = message->Payload<CImageAnswer>();
        EXPECT_EQ(answer->image, Cache() + "icon/g" + answer->key + ".png");
        EXPECT_EQ(ReadFile(answer->image), "PNG:/image/icon/g" + answer->key + ".png");
        answered.insert(answer->key);
    }
    EXPECT_EQ(answered.size(), 40u);
    EXPECT_LE(m_images.Peak(), 4);
    EXPECT_GE(m_images.Peak(), 2) << "downloads run in parallel";
}

TEST_F(ImageLoaderTest, CachedIconIsAnsweredWithoutTheNetwork)
{
    fs::create_directories(Cache() + "icon");
    WriteFile(Cache() + "icon/c.png", "cached");
    m_loader.Request(Window(), 1, 0, "c", "icon/c.png");
    auto message = m_messages.Next();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, WM_MYGAME_ICON);
    EXPECT_EQ(message->Payload<CImageAnswer>()->image, Cache() + "icon/c.png");
    EXPECT_EQ(m_images.Hits("/image/icon/c.png"), 0);
}

TEST_F(ImageLoaderTest, TwoRequestsForOneKeyMakeOneDownloadAndOneAnswer)
{
    m_loader.Request(Window(), 0, 0, "k", "icon/k.png");
    m_loader.Request(Window(), 0, 0, "k", "icon/k.png");
    ASSERT_TRUE(m_messages.Next());
    m_loader.Shutdown();
    EXPECT_EQ(m_messages.Pending(), 0u);
    EXPECT_EQ(m_images.Hits("/image/icon/k.png"), 1);
}

TEST_F(ImageLoaderTest, MissingIconGivesTheDefaultAndNoFile)
{
    // Kinds 3 and 4 only fill the cache. Requests are taken in order, so by the time the answer
    // for "m" arrives, "quiet" is being fetched, and Shutdown lets a running fetch finish.
    m_loader.Request(Window(), 3, 0, "quiet", "icon/quiet.png");
    m_loader.Request(Window(), 0, 0, "m", "icon/missing.png");
    auto message = m_messages.Next();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->Payload<CImageAnswer>()->image, "skin\\ui\\DefaultGameIcon.png");
    EXPECT_FALSE(fs::exists(Cache() + "icon/missing.png"));
    m_loader.Shutdown();
    EXPECT_EQ(m_messages.Pending(), 0u);
    EXPECT_TRUE(fs::exists(Cache() + "icon/quiet.png"));
}

TEST_F(ImageLoaderTest, LocalGamesGetArtworkOrTheirPlatformImage)
{
    fs::create_directories(m_dir.Path() + "work/cache/image/mame");
    WriteFile(m_dir.Path() + "work/cache/image/mame/BLASTER.png", "art");
    EXPECT_EQ(LocalGameImage(123, "/games/LocalGame/MAME/blaster.zip"),
              "file='" + m_dir.Path() + "work/cache/image/mame/BLASTER.png' dest='18,18,50,50'");
    EXPECT_EQ(LocalGameImage(126, "/games/LocalGame/ARCADE/duel98.zip"), "skin\\ui\\local_fba.png");
    EXPECT_EQ(LocalGameImage(127, "/games/x.nds"), "skin\\ui\\local_nds.png");
    EXPECT_EQ(LocalGameImage(138, m_dir.Path() + "pc/game.exe"), "skin\\ui\\DefaultGameIcon.png");

    m_loader.Request(Window(), 2, 125, "/games/LocalGame/FC/skyrunner.nes", "");
    auto message = m_messages.Next();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, WM_LOCAL_ICON);
    EXPECT_EQ(message->Payload<CImageAnswer>()->key, "/games/LocalGame/FC/skyrunner.nes");
    EXPECT_EQ(message->Payload<CImageAnswer>()->image, "skin\\ui\\local_fc.png");
}
