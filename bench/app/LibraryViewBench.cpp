// How long the local games' view takes to show a large library, and whether the window keeps
// painting meanwhile: 10,000 local games in the store file (FC, "LocalGame/FC/gameNNNNN.nes"), the
// main window opened on Qt's offscreen platform with the local view showing, timed from the window's
// creation until the view holds every tile and has painted them. The longest stretch without a
// paint while tiles arrive says whether the window stayed responsive (goal: under 100 ms, one frame
// of the slowest refresh a person still reads as live).
//
// Then, with the full view showing, 50 new game files are written into the library folder one at a
// time: each is timed from its `close` to the view painted with its tile (goal: at most 100 ms,
// median and worst printed).
//
// Run: library_view_bench [--games N]

#include "app/MainFrameNew.h"

#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/ServerEndpoints.h"
#include "platform/CodePage.h"
#include "store/GameStore.h"
#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/TabLayout.h"
#include "ui/TestInput.h"

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:FcPattern\nleak:QFontDatabase\nleak:"
           "libSDL2\n";
}

using namespace UiLib;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kPaintGapGoalMs = 100.0;
constexpr double kNewFileGoalMs = 100.0;
constexpr int kNewFiles = 50;

double MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void FillStore(int games)
{
    CGameStore store(CGameStore::DefaultDatabasePath());
    store.Submit(kStoreBeginTransaction, nullptr, false, true);
    for (int i = 0; i < games; ++i) {
        auto row = std::make_unique<LocalGameRecord>();
        char name[32];
        std::snprintf(name, sizeof name, "game%05d", i);
        row->GameName = name;
        row->Size = "0.50";
        row->EmulatorShortName = "FC";
        row->FilePath = LocalGameDir() + "FC/" + name + ".nes";
        row->FileName = std::string(name) + ".nes";
        row->EmulatorId = "125";
        store.Submit(kStoreAddLocalGame, row.release(), true, true);
    }
    store.Submit(kStoreCommitTransaction, nullptr, false, false);
}

} // namespace

int main(int argc, char** argv)
{
    int games = 10000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--games") == 0)
            games = std::max(1, std::atoi(argv[i + 1]));
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::setlocale(LC_ALL, "");
    platform::ProcessCodePage();

    char pattern[] = "/tmp/library-view-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return 1;
    const std::string folder = std::string(pattern) + "/";
    AppPaths paths = MakeAppPaths(folder, folder + "work/", folder + "rom/");
    std::filesystem::create_directories(paths.ImageCacheDir);
    std::filesystem::create_directories(paths.LocalGameDir + "FC");
    SetAppPaths(paths);
    {
        // A library folder named in the settings, so the first-run settings window stays away.
        CAppSettings settings;
        settings.SetRomPath(paths.RomDir);
        settings.Save();
    }
    // No catalogue: its first request fails at once on a closed port.
    ServerEndpoints endpoints;
    for (std::string* base :
         {&endpoints.ApiBase, &endpoints.DownloadBase, &endpoints.ImageBase, &endpoints.ShareBase,
          &endpoints.PcsBase, &endpoints.StatBase, &endpoints.SiteBase})
        *base = "http://127.0.0.1:1/";
    SetServerEndpoints(endpoints);
    FillStore(games);

    CPaintManagerUI::SetInstance(nullptr);
    int result = 0;
    {
        const auto start = Clock::now();
        auto frame = std::make_unique<CMainFrameNew>();
        if (frame->Create(nullptr, u"Quokka模拟器", 0x10CF0000, 0x100) == nullptr)
            return 2;
        CPaintManagerUI& pm = frame->GetPaintManager();
        static_cast<CTabLayoutUI*>(pm.FindControl(u"Tab_Game"))->SelectItem(0);
        static_cast<CTabLayoutUI*>(pm.FindControl(u"Tab_MyGame"))->SelectItem(1);
        auto* tiles = static_cast<CContainerUI*>(pm.FindControl(u"Tl_GameView_LocalGame"));

        int paints = pm.GetPaintStats().nPaints;
        auto lastPaint = Clock::now();
        double longestGap = 0;
        int paintsWhenFull = -1;
        const bool done = TestInput::WaitFor(
            [&] {
                const auto now = Clock::now();
                const int painted = pm.GetPaintStats().nPaints;
                if (painted != paints) {
                    paints = painted;
                    lastPaint = now;
                } else {
                    longestGap = std::max(longestGap, MsBetween(lastPaint, now));
                }
                if (tiles->GetCount() < games)
                    return false;
                if (paintsWhenFull < 0)
                    paintsWhenFull = painted;
                return painted > paintsWhenFull; // the full view has been painted
            },
            600000);
        const auto end = Clock::now();
        if (!done)
            result = 3;
        std::printf("local view: %d tiles shown and painted %.0f ms after the window was made (goal: none "
                    "set; the window repainting meanwhile)\n",
                    tiles->GetCount(), MsBetween(start, end));
        std::printf(
            "longest time without a paint while tiles arrived: %.1f ms (goal: < %.0f ms), %d paints\n",
            longestGap, kPaintGapGoalMs, paints);

        // New files while the full view shows: from each file's close to its tile painted.
        std::vector<double> delays;
        for (int i = 0; i < kNewFiles && result == 0; ++i) {
            const int before = tiles->GetCount();
            char name[32];
            std::snprintf(name, sizeof name, "new%02d.nes", i);
            const std::string path = LocalGameDir() + "FC/" + name;
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::write(fd, "NES\x1a", 4) != 4) {
                result = 4;
                break;
            }
            ::close(fd);
            const auto closed = Clock::now();
            int paintsWithTile = -1;
            const bool shown = TestInput::WaitFor(
                [&] {
                    if (tiles->GetCount() <= before)
                        return false;
                    const int painted = pm.GetPaintStats().nPaints;
                    if (paintsWithTile < 0)
                        paintsWithTile = painted;
                    return painted > paintsWithTile;
                },
                10000);
            if (!shown) {
                result = 5;
                break;
            }
            delays.push_back(MsBetween(closed, Clock::now()));
        }
        if (!delays.empty()) {
            std::sort(delays.begin(), delays.end());
            std::printf("new file, close to its tile painted: median %.1f ms, worst %.1f ms over %zu files "
                        "(goal: <= %.0f ms)\n",
                        delays[delays.size() / 2], delays.back(), delays.size(), kNewFileGoalMs);
        }
        frame.reset();
    }
    CPaintManagerUI::Term();
    std::filesystem::remove_all(folder);
    return result;
}
