// The game detail window opened for a game whose four screenshots and icon are already cached:
// from creating the window to a painted frame that shows every screenshot (the detail request
// answered by the stand-in server over loopback). Goal: at most 100 ms.
//
//   QT_QPA_PLATFORM=offscreen game_info_bench

#include "catalogue/GameInfoFrameNew.h"
#include "catalogue/ImageLoader.h"
#include "foundation/AppPaths.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "server/StandInServer.h"
#include "tests/support/TempDir.h"
#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"

#include <QColor>
#include <QImage>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

using namespace UiLib;

namespace {

constexpr double kGoalMs = 100.0;

class NoActions : public IGameInfoActions {
public:
    bool IsInLibrary(const std::string&) override { return false; }
    bool GetDisplayStatus(const std::string&, int&) override { return false; }
    bool EnsureEmulator(int, HWND) override { return false; }
    void AddTask(const CGame&, HWND) override {}
    void RequestTaskState(const std::string&, int) override {}
    void LaunchLibraryGame(const std::string&) override {}
    void SetDetailWindow(HWND) override {}
};

struct Fixture {
    testsupport::TempDir dir;
    std::unique_ptr<CStandInServer> server;
    NoActions actions;
    CGame game;

    Fixture()
    {
        const std::string data = dir.Path() + "data/";
        std::string screens;
        for (int i = 0; i < 4; ++i) {
            const std::string name = "screens/1/" + std::to_string(i) + ".png";
            std::filesystem::create_directories(data + "image/screens/1");
            QImage image(268, 178, QImage::Format_RGB32);
            image.fill(QColor::fromHsv(i * 80, 200, 220));
            image.save(QString::fromStdString(data + "image/" + name), "PNG");
            screens += (i ? ", \"" : "\"") + name + "\"";
        }
        testsupport::WriteFile(data + "catalogue.json",
                               R"({"games": [{"gameid": "1", "gamename": "星河战记", "emulatorid": "125", "rating": "4.5",
                                   "description": "一段介绍。", "screens": [)" + screens + "]}]}");
        StandInServerOptions options;
        options.dataDir = data;
        server = std::make_unique<CStandInServer>(options);
        std::string error;
        if (!server->Start(error)) {
            std::fprintf(stderr, "stand-in server: %s\n", error.c_str());
            std::exit(1);
        }
        ServerEndpoints endpoints = DefaultServerEndpoints();
        endpoints.ApiBase = server->Origin() + "/clientapi/";
        endpoints.ImageBase = server->Origin() + "/image/";
        SetServerEndpoints(endpoints);
        AppPaths paths;
        paths.WorkDir = dir.Path() + "work/";
        paths.ImageCacheDir = paths.WorkDir + "cache/image/";
        SetAppPaths(paths);
        game.gameid = "1";
        game.gamename = "星河战记";
        game.emulatorid = "125";
        game.rating = "4.5";
        game.size = "128";
        OpenOnce(); // fills the cache
    }

    // One opening: create, wait for every screenshot, paint, close. Milliseconds to the painted frame.
    double OpenOnce()
    {
        const auto start = std::chrono::steady_clock::now();
        CGameInfoFrameNew window(game, actions);
        window.Create(nullptr, CGameInfoFrameNew::kTitle, UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE);
        window.ShowWindow(true);
        auto* strip = static_cast<CContainerUI*>(window.GetPaintManager().FindControl(u"HL_GameScreenshot"));
        TestInput::WaitFor([&] { return strip->GetCount() == 4; }, 5000);
        TestInput::Grab(window.GetHWND());
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        window.DestroyWindow();
        TestInput::ProcessEvents();
        return ms;
    }
};

Fixture* g_fixture = nullptr;

void BM_OpenDetailWithCachedScreenshots(benchmark::State& state)
{
    std::vector<double> times;
    for (auto _ : state) {
        const double ms = g_fixture->OpenOnce();
        state.SetIterationTime(ms / 1000.0);
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    state.counters["median_ms"] = median;
    std::printf("detail window painted with cached screenshots: median %.1f ms, worst %.1f ms (goal <= %.0f ms)\n",
                median, times.back(), kGoalMs);
}
BENCHMARK(BM_OpenDetailWithCachedScreenshots)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    NetGlobalInit();
    CPaintManagerUI::SetInstance(nullptr);
    {
        Fixture fixture;
        g_fixture = &fixture;
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        g_fixture = nullptr;
    }
    CImageLoader::DestroyInstance();
    CPaintManagerUI::Term();
    NetGlobalCleanup();
    return 0;
}
