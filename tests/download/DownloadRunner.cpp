// quokka-download-runner: the real download engine, store, workers and share resolver without any
// window, on a portable folder. It adds the games named on its command line (or takes back the
// stored ones), starts them, and prints every message the engine posts, one line each:
//   added ID | status ID N | installed ID | progress KIND DONE TOTAL ERROR | active ID N | removed |
//   counts | done
// With --exit-when-done it ends once every game it knows of is installed or deleted.
//
//   quokka-download-runner --dir DIR --api URL [--share ORIGIN] [--captcha-log FILE] [--source N]
//                          [--slice-ms N] [--add ID:EMULATORID]... [--delete ID]... [--exit-when-done]
//
// DIR holds the store (database/quokka.db), the library (roms/) and the identity (quokka.cfg).
// --api is the catalogue API ("http://127.0.0.1:PORT/clientapi/"), --share the share and storage
// services' origin. Picture codes are answered from the share server's log (--captcha-log): the
// code of the newest picture drawn.

#include "account/SecurityCodePrompt.h"
#include "download/DownloadManager.h"
#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/NetGlobal.h"
#include "foundation/ServerEndpoints.h"
#include "store/GameStore.h"

#include <json/json.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <set>
#include <sstream>

namespace {

platform::HWND const kMain = reinterpret_cast<platform::HWND>(0x1);
platform::HWND const kList = reinterpret_cast<platform::HWND>(0x2);

struct Options {
    std::string dir;
    std::string api;
    std::string share;
    std::string captchaLog;
    int source = kSourceOwnServer;
    int sliceMs = 15000;
    std::vector<std::pair<std::string, std::string>> add; // id, emulator id
    std::vector<std::string> remove;
    bool exitWhenDone = false;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--exit-when-done") {
            options.exitWhenDone = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        std::string value = argv[++i];
        if (name == "--dir")
            options.dir = value.back() == '/' ? value : value + "/";
        else if (name == "--api")
            options.api = value;
        else if (name == "--share")
            options.share = value;
        else if (name == "--captcha-log")
            options.captchaLog = value;
        else if (name == "--source")
            options.source = std::atoi(value.c_str());
        else if (name == "--slice-ms")
            options.sliceMs = std::atoi(value.c_str());
        else if (name == "--add") {
            size_t colon = value.find(':');
            if (colon == std::string::npos)
                return false;
            options.add.emplace_back(value.substr(0, colon), value.substr(colon + 1));
        } else if (name == "--delete")
            options.remove.push_back(value);
        else
            return false;
    }
    return !options.dir.empty() && !options.api.empty();
}

class FixedChooser : public IDownloadSourceChooser {
public:
    explicit FixedChooser(int answer) : m_answer(answer) {}
    int ChooseDownloadSource(platform::HWND, int offerMask) override
    {
        return (offerMask & m_answer) != 0 ? m_answer : kSourceClosed;
    }

private:
    int m_answer;
};

class LogCodePrompt : public ISecurityCodePrompt {
public:
    explicit LogCodePrompt(std::string log) : m_log(std::move(log)) {}
    int AskSecurityCode(platform::HWND, const std::string&, const std::string&, std::string& code) override
    {
        std::ifstream in(m_log);
        std::string text;
        while (std::getline(in, text)) {
            Json::Value line;
            std::istringstream(text) >> line;
            if (line.isObject() && line.isMember("code"))
                code = line["code"].asString();
        }
        return code.empty() ? kSecurityCodeClosed : kSecurityCodeEntered;
    }

private:
    std::string m_log;
};

struct Posted {
    platform::UINT message = 0;
    platform::WPARAM wParam = 0;
    platform::LPARAM lParam = 0;
    std::function<void()> freePayload;
};

std::mutex g_mutex;
std::condition_variable g_posted;
std::deque<Posted> g_queue;

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: quokka-download-runner --dir DIR --api URL [--share ORIGIN] "
                             "[--captcha-log FILE] [--source N] [--slice-ms N] [--add ID:EMU]... "
                             "[--delete ID]... [--exit-when-done]\n");
        return 64;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!NetGlobalInit())
        return 1;

    AppPaths paths;
    paths.InstancePath = options.dir;
    paths.WorkDir = options.dir + "work/";
    paths.ImageCacheDir = paths.WorkDir + "cache/image/";
    paths.ConfigFilePath = options.dir + "quokka.cfg";
    paths.RomDir = options.dir + "roms/";
    SetAppPaths(paths);
    ServerEndpoints endpoints = GetServerEndpoints();
    endpoints.ApiBase = options.api;
    if (!options.share.empty()) {
        endpoints.ShareBase = options.share;
        endpoints.PcsBase = options.share;
    }
    SetServerEndpoints(endpoints);
    if (!options.captchaLog.empty())
        InstallSecurityCodePrompt(std::make_shared<LogCodePrompt>(options.captchaLog));

    platform::SetMessagePoster([](platform::HWND, platform::UINT message, platform::WPARAM wParam,
                                  platform::LPARAM lParam, std::function<void()> freePayload) {
        {
            std::lock_guard lock(g_mutex);
            g_queue.push_back({message, wParam, lParam, std::move(freePayload)});
        }
        g_posted.notify_one();
        return true;
    });

    CGameStore store(options.dir + "database/quokka.db");
    std::set<std::string> pending; // games not yet installed or deleted
    {
        DownloadTaskMap rows;
        store.Submit(kStoreReadDownloads, &rows, false, false);
        for (const auto& [id, row] : rows)
            pending.insert(id);
    }
    GameinfoMap installed;
    store.Submit(kStoreReadGameinfo, &installed, false, false);

    DownloadEngineOptions engineOptions;
    engineOptions.store = &store;
    engineOptions.chooser = std::make_shared<FixedChooser>(options.source);
    engineOptions.sliceMs = options.sliceMs;
    auto engine = std::make_unique<DownloadManager>(std::move(engineOptions));
    engine->Start(kMain, kList);
    std::vector<std::string> reloaded(pending.begin(), pending.end());
    for (const auto& id : options.remove) {
        engine->RequestState(id, kTaskDeleteRequested);
        reloaded.erase(std::remove(reloaded.begin(), reloaded.end(), id), reloaded.end());
    }
    engine->RequestStateMany(reloaded, kTaskReady);
    for (const auto& [id, emulator] : options.add) {
        if (installed.count(id) != 0 || pending.count(id) != 0)
            continue;
        DownloadGameFields game;
        game.gameid = id;
        game.gamename = "game " + id;
        game.icon = "icons/" + id + ".png";
        game.emulatorshortname = "PS";
        game.categoryshortname = "act";
        game.emulatorid = emulator;
        game.categoryid = "7";
        game.size = "1.00";
        engine->AddTask(game, kMain);
        pending.insert(id);
    }

    int exitCode = 0;
    bool done = options.exitWhenDone && pending.empty();
    while (!done) {
        Posted posted;
        {
            std::unique_lock lock(g_mutex);
            g_posted.wait(lock, [] { return !g_queue.empty(); });
            posted = std::move(g_queue.front());
            g_queue.pop_front();
        }
        switch (posted.message) {
        case WM_DOWNLOAD_ADDED:
            std::printf("added %s\n", reinterpret_cast<DownloadTask*>(posted.lParam)->GameId().c_str());
            break;
        case WM_DOWNLOAD_STATUS: {
            const std::string& id = *reinterpret_cast<std::string*>(posted.lParam);
            std::printf("status %s %d\n", id.c_str(), static_cast<int>(posted.wParam));
            if (posted.wParam == kDisplayInstalled || posted.wParam == kDisplayNotInstalled)
                pending.erase(id);
            break;
        }
        case WM_GAME_INSTALLED:
            std::printf("installed %s\n", reinterpret_cast<GameinfoRecord*>(posted.lParam)->GameId.c_str());
            break;
        case WM_DOWNLOAD_PROGRESS: {
            auto* progress = reinterpret_cast<DownloadProgress*>(posted.lParam);
            std::printf("progress %d %.0f %.0f %d\n", progress->kind, progress->done, progress->total,
                        progress->errorCode);
            if (progress->kind == 9 && options.exitWhenDone)
                exitCode = 3; // a failure ends the run: a kill loop must never see one
            break;
        }
        case WM_DOWNLOAD_ACTIVE:
            std::printf("active %s %d\n", reinterpret_cast<std::string*>(posted.lParam)->c_str(),
                        static_cast<int>(posted.wParam));
            break;
        case WM_DOWNLOAD_REMOVED:
            std::printf("removed\n");
            break;
        case WM_DOWNLOAD_COUNTS:
            std::printf("counts\n");
            break;
        default:
            break;
        }
        if (posted.freePayload)
            posted.freePayload();
        done = options.exitWhenDone && (pending.empty() || exitCode != 0);
    }
    engine->Shutdown();
    engine.reset();
    store.Shutdown();
    platform::SetMessagePoster({});
    {
        std::lock_guard lock(g_mutex);
        for (Posted& left : g_queue)
            if (left.freePayload)
                left.freePayload();
        g_queue.clear();
    }
    InstallSecurityCodePrompt(nullptr);
    NetGlobalCleanup();
    std::printf("done\n");
    return exitCode;
}
