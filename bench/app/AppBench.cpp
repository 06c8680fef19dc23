// Speed figures of the main window against the stand-in server (in this process, serving the demo
// content) on Qt's offscreen platform:
//   1. a 42-game page posted to the window (WM_GAMELIST_READY with a CGameList) until the paint of
//      the refilled view has completed; icons already in the disk cache; median of many runs
//   2. the main window's first frame in a fresh process (this program started again with
//      --first-frame), from main() and from the parent's spawn; median of several starts
//   3. resident memory (VmRSS) after the first page and 20 more browsed through the pager
//
// Run: app_bench [--runs N] [--starts N]

#include "app/MainFrameNew.h"
#include "bench/BenchMainWindow.h"
#include "app/Startup.h"

#include "catalogue/CatalogueClient.h"
#include "catalogue/CatalogueRequest.h"
#include "catalogue/Game.h"
#include "catalogue/GameList.h"
#include "catalogue/ImageLoader.h"
#include "catalogue/PageLabelUI.h"
#include "demo/DemoContent.h"
#include "foundation/AppSettings.h"
#include "foundation/AppMessages.h"
#include "foundation/FileSystem.h"
#include "foundation/HttpClient.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "platform/CodePage.h"
#include "server/StandInServer.h"
#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace UiLib;

// Libraries that keep their caches until exit, for sanitizer builds of the bench.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:FcPattern\nleak:QFontDatabase\nleak:"
           "libSDL2\n";
}

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kPageSize = 42;

double MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double NowNs()
{
    return static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count());
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t mid = values.size() / 2;
    return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// A line of /proc/self/status ("VmRSS", "VmHWM") in MB.
double StatusMb(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ":", 0) == 0)
            return std::strtod(line.c_str() + key.size() + 1, nullptr) / 1024.0;
    }
    return 0;
}

CContainerUI* Tiles(CMainFrameNew& frame)
{
    return static_cast<CContainerUI*>(frame.GetPaintManager().FindControl(u"Tl_GameView_FindGame"));
}

// ---- the child: one start to the first frame -----------------------------------------------------

// Prints "<main to first frame ms> <spawn to first frame ms> <main to first page painted ms>".
int FirstFrameChild(const std::string& folder, double spawnNs)
{
    const auto start = Clock::now();
    if (!NetGlobalInit())
        return 2;
    int result = 0;
    {
        std::unique_ptr<CMainFrameNew> frame = bench::CreateMainWindow(folder);
        if (!frame)
            return 3;
        CPaintManagerUI& pm = frame->GetPaintManager();
        if (!TestInput::WaitFor([&] { return pm.GetPaintStats().nPaints > 0; }, 10000))
            result = 4;
        const auto firstFrame = Clock::now();
        const double firstFrameNs = NowNs();
        // The page and its paint may both happen between two looks: the paints seen while no tile
        // existed yet tell which paint is the first with tiles.
        int paintsWithoutTiles = pm.GetPaintStats().nPaints;
        bool painted = TestInput::WaitFor(
            [&] {
                if (Tiles(*frame)->GetCount() == 0) {
                    paintsWithoutTiles = pm.GetPaintStats().nPaints;
                    return false;
                }
                return pm.GetPaintStats().nPaints > paintsWithoutTiles;
            },
            10000);
        const auto pagePainted = Clock::now();
        if (!painted)
            result = 5;
        std::printf("%.3f %.3f %.3f\n", MsBetween(start, firstFrame), (firstFrameNs - spawnNs) / 1e6,
                    MsBetween(start, pagePainted));
        std::fflush(stdout);
        frame.reset();
    }
    CPaintManagerUI::Term();
    NetGlobalCleanup();
    return result;
}

struct StartFigures {
    std::vector<double> fromMain;
    std::vector<double> fromSpawn;
    std::vector<double> firstPage;
};

bool RunFirstFrameChild(const std::string& folder, StartFigures& figures)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    char spawnText[64];
    std::snprintf(spawnText, sizeof spawnText, "%.0f", NowNs());
    std::vector<std::string> args{self, "--first-frame", folder, spawnText};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return false;
    }
    std::string out;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    double fromMain = 0, fromSpawn = 0, firstPage = 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(out.c_str(), "%lf %lf %lf", &fromMain, &fromSpawn, &firstPage) != 3) {
        std::fprintf(stderr, "first-frame child failed (status %d): %s\n", status, out.c_str());
        return false;
    }
    figures.fromMain.push_back(fromMain);
    figures.fromSpawn.push_back(fromSpawn);
    figures.firstPage.push_back(firstPage);
    return true;
}

// ---- the parent ----------------------------------------------------------------------------------

// The pages of the catalogue as the server answers them (recommended order, no filters).
struct Page {
    std::string json;
    std::vector<std::string> iconFiles;
    std::string firstGameId;
    size_t games = 0;
};

bool FetchPage(int number, Page& page)
{
    if (!NetPost(page.json, ApiUrl(), "", FormatGameListBody(number, kPageSize, 0, 0, 0, ""), 30))
        return false;
    CGameList list;
    if (!list.ParseText(page.json))
        return false;
    page.games = list.GameCount();
    for (size_t i = 0; i < list.GameCount(); ++i)
        page.iconFiles.push_back(IconCachePath(list.GameAt(i).icon));
    if (list.GameCount() > 0)
        page.firstGameId = list.GameAt(0).gameid;
    return true;
}

bool IconsCached(const Page& page)
{
    return std::all_of(page.iconFiles.begin(), page.iconFiles.end(),
                       [](const std::string& path) { return PathExists(path); });
}

// Lets the window take what is still pending (icon answers, their repaints).
void Settle()
{
    TestInput::WaitFor([] { return false; }, 60);
    TestInput::ProcessEvents();
}

void Click(CMainFrameNew& frame, CControlUI* control)
{
    frame.GetPaintManager().UpdateLayout();
    const RECT& rc = control->GetPos();
    TestInput::Click(frame.GetHWND(), POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
}

struct MemoryFigures {
    double firstPageRssMb = 0; // before browsing
    double rssMb = 0;
    double peakMb = 0;
    int pagesBrowsed = 0;
};

// The first page, then 20 pages through the pager: forward to the last page, then back.
bool BrowseTwentyPages(CMainFrameNew& frame, const std::vector<Page>& pages, MemoryFigures& figures)
{
    auto* pager = static_cast<CPageLabelUI*>(frame.GetPaintManager().FindControl(u"Pl_Page_FindGame"));
    const int last = static_cast<int>(pages.size());
    figures.firstPageRssMb = StatusMb("VmRSS");
    int page = 1;
    bool forward = true;
    for (int step = 0; step < 20; ++step) {
        if (page == last)
            forward = false;
        else if (page == 1)
            forward = true;
        const int next = forward ? page + 1 : page - 1;
        Click(frame, pager->FindSubControl(forward ? u"PageLabelbutton2" : u"PageLabelbutton1"));
        if (!TestInput::WaitFor(
                [&] { return pager->GetPage() == next && !CCatalogueClient::Instance().Busy(); }, 15000)) {
            std::fprintf(stderr, "page %d did not arrive\n", next);
            return false;
        }
        const Page& shown = pages[static_cast<size_t>(next - 1)];
        if (!TestInput::WaitFor([&] { return IconsCached(shown); }, 15000)) {
            std::fprintf(stderr, "the icons of page %d did not arrive\n", next);
            return false;
        }
        Settle();
        page = next;
        ++figures.pagesBrowsed;
    }
    figures.rssMb = StatusMb("VmRSS");
    figures.peakMb = StatusMb("VmHWM");
    return true;
}

struct RefillFigures {
    std::vector<double> arrivalToPainted;
    std::vector<int> paints; // paints the window made until the check saw the refilled view painted
};

// Posts ready pages of 42 games to the window and times each until the refilled view is painted.
bool TimeRefills(CMainFrameNew& frame, const std::vector<Page>& pages, int runs, RefillFigures& figures)
{
    CPaintManagerUI& pm = frame.GetPaintManager();
    std::vector<const Page*> full;
    for (const Page& page : pages)
        if (page.games == static_cast<size_t>(kPageSize))
            full.push_back(&page);
    if (full.empty())
        return false;
    for (int run = 0; run < runs; ++run) {
        const Page& page = *full[static_cast<size_t>(run) % full.size()];
        auto list = std::make_unique<CGameList>();
        list->ParseText(page.json); // the worker parses before posting: not part of the figure
        Settle();
        const int paintsBefore = pm.GetPaintStats().nPaints;
        const CDuiString firstId = CDuiString::FromUtf8(page.firstGameId);
        const auto posted = Clock::now();
        UiLib::PostMessage(frame.GetHWND(), WM_GAMELIST_READY, static_cast<WPARAM>(&page - pages.data() + 1),
                           std::move(list));
        bool refilled = false;
        bool painted = TestInput::WaitFor(
            [&] {
                CContainerUI* tiles = Tiles(frame);
                refilled = refilled ||
                           (tiles->GetCount() == kPageSize && tiles->GetItemAt(0)->GetUserData() == firstId);
                return refilled && pm.GetPaintStats().nPaints > paintsBefore;
            },
            5000);
        const auto done = Clock::now();
        if (!painted) {
            std::fprintf(stderr, "refill %d was not painted\n", run);
            return false;
        }
        figures.arrivalToPainted.push_back(MsBetween(posted, done));
        figures.paints.push_back(pm.GetPaintStats().nPaints - paintsBefore);
    }
    return true;
}

const char* Verdict(bool met)
{
    return met ? "met" : "NOT MET";
}

int Parent(int runs, int starts)
{
    std::error_code ec;
    char pattern[] = "/tmp/quokka_app_bench_XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = std::string(pattern) + "/";
    const std::string demo = folder + "demo/";
    const std::string childFolder = folder + "child/";
    const std::string parentFolder = folder + "parent/";
    std::filesystem::create_directories(childFolder);
    std::filesystem::create_directories(parentFolder);

    std::printf("Generating the demo content...\n");
    std::fflush(stdout);
    CDemoContent(demo).Write();

    StandInServerOptions options;
    options.dataDir = demo;
    CStandInServer server(options);
    std::string error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "the stand-in server does not start: %s\n", error.c_str());
        return 1;
    }
    server.WriteServersCfg(childFolder + "servers.cfg");
    server.WriteServersCfg(parentFolder + "servers.cfg");
    std::printf("Stand-in server on %s\n", server.Origin().c_str());
    std::fflush(stdout);

    // 2. First frame of fresh processes (before this process touches Qt).
    StartFigures startFigures;
    for (int i = 0; i < starts; ++i)
        if (!RunFirstFrameChild(childFolder, startFigures))
            return 1;

    if (!NetGlobalInit())
        return 1;
    int result = 0;
    MemoryFigures memory;
    RefillFigures refill;
    {
        std::unique_ptr<CMainFrameNew> frame = bench::CreateMainWindow(parentFolder);
        if (!frame)
            return 1;
        std::vector<Page> pages;
        for (int number = 1;; ++number) {
            Page page;
            if (!FetchPage(number, page)) {
                std::fprintf(stderr, "page %d cannot be fetched\n", number);
                return 1;
            }
            if (page.games == 0)
                break;
            pages.push_back(std::move(page));
            if (pages.back().games < static_cast<size_t>(kPageSize))
                break;
        }
        if (!TestInput::WaitFor([&] { return Tiles(*frame)->GetCount() > 0 && IconsCached(pages[0]); },
                                15000)) {
            std::fprintf(stderr, "the first page did not arrive\n");
            return 1;
        }
        Settle();

        // 3. Memory after browsing (this also brings every icon into the disk cache).
        if (!BrowseTwentyPages(*frame, pages, memory))
            result = 1;
        // 1. Page arrival to tiles painted.
        if (result == 0 && !TimeRefills(*frame, pages, runs, refill))
            result = 1;
        frame.reset(); // the window's shutdown
    }
    CPaintManagerUI::Term();
    server.Stop();
    NetGlobalCleanup();
    std::filesystem::remove_all(folder, ec);
    if (result != 0)
        return result;

    const double refillMedian = Median(refill.arrivalToPainted);
    const double startMedian = Median(startFigures.fromSpawn);
    std::printf(
        "\nQuokka main window figures (Qt offscreen, stand-in server in this process, demo content)\n");
    std::printf("1. 42-game page arrival to tiles painted: median %.2f ms (min %.2f, max %.2f, %zu runs, "
                "%d paints each at most) -- goal under 50 ms: %s\n",
                refillMedian,
                *std::min_element(refill.arrivalToPainted.begin(), refill.arrivalToPainted.end()),
                *std::max_element(refill.arrivalToPainted.begin(), refill.arrivalToPainted.end()),
                refill.arrivalToPainted.size(), *std::max_element(refill.paints.begin(), refill.paints.end()),
                Verdict(refillMedian < 50));
    std::printf(
        "2. Main window first frame after start: median %.1f ms from spawn, %.1f ms from main() "
        "(min %.1f, max %.1f from spawn, %zu fresh processes; first page painted %.1f ms from main()) "
        "-- goal under 300 ms: %s\n",
        startMedian, Median(startFigures.fromMain),
        *std::min_element(startFigures.fromSpawn.begin(), startFigures.fromSpawn.end()),
        *std::max_element(startFigures.fromSpawn.begin(), startFigures.fromSpawn.end()),
        startFigures.fromSpawn.size(), Median(startFigures.firstPage), Verdict(startMedian < 300));
    std::printf(
        "3. Resident memory after browsing %d pages through the pager: %.1f MB (peak %.1f MB, %.1f MB "
        "with the first page) -- goal under 150 MB: %s\n",
        memory.pagesBrowsed, memory.rssMb, memory.peakMb, memory.firstPageRssMb, Verdict(memory.rssMb < 150));
    std::printf("   (this process also runs the stand-in server and generated the demo content)\n");
#if defined(__SANITIZE_ADDRESS__)
    std::printf(
        "Built with the sanitizers: the figures, memory above all, do not stand for a release build.\n");
#endif
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (argc == 4 && std::strcmp(argv[1], "--first-frame") == 0)
        return FirstFrameChild(argv[2], std::strtod(argv[3], nullptr));
    int runs = 41;
    int starts = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--starts") == 0)
            starts = std::max(1, std::atoi(argv[i + 1]));
    }
    return Parent(runs, starts);
}
