#include "catalogue/ImageLoader.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TempDir.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using testsupport::MessageRecorder;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

platform::HWND Window()
{
    return reinterpret_cast<platform::HWND>(0x77);
}
platform::HWND OtherWindow()
{
    return reinterpret_cast<platform::HWND>(0x78);
}

// An image server that counts requests per path, records the order they arrived in and the most it
// ever served at once. Each answer is held back briefly (or until five requests overlap) so that
// parallel downloads really overlap; while Hold is in effect, answers wait until their path is
// released.
class ImageServer {
public:
    ImageServer()
    {
        m_server.Get("/image/.*", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::unique_lock lock(m_mutex);
                ++m_hits[request.path];
                m_arrivals.push_back(request.path);
                ++m_active;
                m_peak = std::max(m_peak, m_active);
                m_changed.notify_all();
                m_changed.wait_for(lock, std::chrono::milliseconds(40), [this] { return m_active > 4; });
                m_changed.wait(lock, [&] { return !m_holding || m_released.count(request.path) > 0; });
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
        ReleaseAll();
        m_server.stop();
        m_thread.join();
    }

    void Hold()
    {
        std::lock_guard lock(m_mutex);
        m_holding = true;
    }
    void Release(const std::vector<std::string>& paths)
    {
        {
            std::lock_guard lock(m_mutex);
            m_released.insert(paths.begin(), paths.end());
        }
        m_changed.notify_all();
    }
    void ReleaseAll()
    {
        {
            std::lock_guard lock(m_mutex);
            m_holding = false;
        }
        m_changed.notify_all();
    }
    // Waits until `count` requests have arrived; their paths in arrival order.
    std::vector<std::string> WaitForArrivals(size_t count)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_arrivals.size() >= count; });
        return m_arrivals;
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
    std::vector<std::string> m_arrivals;
    bool m_holding = false;
    std::set<std::string> m_released;
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
    m_loader.Request(Window(), 0, 0, "m", "icon/missing.png");
    auto message = m_messages.Next();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->Payload<CImageAnswer>()->image, "skin\\ui\\DefaultGameIcon.png");
    m_loader.Shutdown();
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(Cache() + "icon", ec)) << "no error page and no partial file is kept";
}

TEST_F(ImageLoaderTest, EveryWindowThatAskedForAQueuedOrRunningIconIsAnswered)
{
    m_images.Hold();
    for (int i = 0; i < CImageLoader::kMaxDownloads; ++i)
        m_loader.Request(Window(), 0, 0, "k" + std::to_string(i), "icon/k" + std::to_string(i) + ".png");
    ASSERT_EQ(m_images.WaitForArrivals(4).size(), 4u);
    // "q" waits in the queue; "k0" is being fetched. Both gain a second window; the first window
    // asking twice, and a cache-only request (kind 3) for the same file, add no answer.
    m_loader.Request(Window(), 0, 0, "q", "icon/q.png");
    m_loader.Request(OtherWindow(), 0, 0, "q", "icon/q.png");
    m_loader.Request(Window(), 0, 0, "q", "icon/q.png");
    m_loader.Request(Window(), 3, 0, "q", "icon/q.png");
    m_loader.Request(OtherWindow(), 0, 0, "k0", "icon/k0.png");
    // Two games sharing one icon file: one download, each game answered.
    m_loader.Request(Window(), 0, 0, "twin", "icon/q.png");
    m_images.ReleaseAll();

    std::multiset<std::pair<platform::HWND, std::string>> answers;
    for (int i = 0; i < 8; ++i) {
        auto message = m_messages.Next();
        ASSERT_TRUE(message) << "answer " << i;
        answers.insert({message->hwnd, message->Payload<CImageAnswer>()->key});
    }
    m_loader.Shutdown();
    EXPECT_EQ(m_messages.Pending(), 0u);
    const std::multiset<std::pair<platform::HWND, std::string>> expected = {
        {Window(), "k0"}, {Window(), "k1"},   {Window(), "k2"},     {Window(), "k3"},
        {Window(), "q"},  {Window(), "twin"}, {OtherWindow(), "q"}, {OtherWindow(), "k0"}};
    EXPECT_EQ(answers, expected);
    EXPECT_EQ(m_images.Hits("/image/icon/q.png"), 1);
    EXPECT_EQ(m_images.Hits("/image/icon/k0.png"), 1);
}

TEST_F(ImageLoaderTest, IconsOfTheNewPageAreFetchedBeforeTheRestOfTheQueue)
{
    m_images.Hold();
    for (int i = 0; i < 10; ++i)
        m_loader.Request(Window(), 0, 0, "old" + std::to_string(i), "icon/old" + std::to_string(i) + ".png");
    std::vector<std::string> first = m_images.WaitForArrivals(4);
    ASSERT_EQ(first.size(), 4u);

    std::vector<std::string> page;
    for (int i = 0; i < 4; ++i) {
        page.push_back("new" + std::to_string(i));
        m_loader.Request(Window(), 0, 0, page.back(), "icon/" + page.back() + ".png");
    }
    m_loader.PutFirst(page);
    // Each of the four downloads takes the next request once its held one is let go.
    m_images.Release(first);
    std::vector<std::string> arrivals = m_images.WaitForArrivals(8);
    ASSERT_EQ(arrivals.size(), 8u);
    std::set<std::string> next(arrivals.begin() + 4, arrivals.end());
    EXPECT_EQ(next, (std::set<std::string>{"/image/icon/new0.png", "/image/icon/new1.png",
                                           "/image/icon/new2.png", "/image/icon/new3.png"}));
    m_images.ReleaseAll();
    for (int i = 0; i < 14; ++i)
        ASSERT_TRUE(m_messages.Next()) << "answer " << i;
}

TEST_F(ImageLoaderTest, AnAbortedDownloadAnswersNothingAndCachesNothing)
{
    m_images.Hold();
    m_loader.Request(Window(), 0, 0, "slow", "icon/slow.png");
    m_loader.Request(Window(), 0, 0, "queued", "icon/queued.png");
    ASSERT_EQ(m_images.WaitForArrivals(2).size(), 2u);
    auto start = std::chrono::steady_clock::now();
    m_loader.Shutdown();
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);
    EXPECT_EQ(m_messages.Pending(), 0u);
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(Cache() + "icon", ec) || !fs::exists(Cache() + "icon"))
        << "neither the file nor a temporary one is left";

    // A stopped loader takes no more requests.
    m_loader.Request(Window(), 0, 0, "late", "icon/late.png");
    EXPECT_FALSE(m_messages.Next(200)) << "a stopped loader answers nothing";
}

TEST_F(ImageLoaderTest, ALinkPlantedAtACachePathIsReplacedAndItsTargetLeftAlone)
{
    fs::create_directories(Cache() + "icon");
    WriteFile(m_dir.Path() + "secret.txt", "secret");
    fs::create_symlink(m_dir.Path() + "secret.txt", Cache() + "icon/l.png");
    m_loader.Request(Window(), 0, 0, "l", "icon/l.png");
    auto message = m_messages.Next();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->Payload<CImageAnswer>()->image, Cache() + "icon/l.png");
    EXPECT_EQ(m_images.Hits("/image/icon/l.png"), 1) << "a link is not a cached icon";
    EXPECT_FALSE(fs::is_symlink(Cache() + "icon/l.png"));
    EXPECT_EQ(ReadFile(Cache() + "icon/l.png"), "PNG:/image/icon/l.png");
    EXPECT_EQ(ReadFile(m_dir.Path() + "secret.txt"), "secret");
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
