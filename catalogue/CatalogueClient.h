#pragma once

#include "platform/Event.h"
#include "platform/WindowMessages.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class CGame;

// Game-list requests to the catalogue API, one at a time, each on its own worker thread. Results
// reach the requesting window as posted messages: WM_GAMELIST_READY (browse) or WM_SEARCHLIST_READY
// (search) with wParam = page and lParam = a new CGameList that the window frees, or
// WM_GAMELIST_FAILED. The window thread never waits on the network.
//
// Threads: RequestGameList starts a worker and returns at once; a request made while one runs is
// dropped without a message. Shutdown (and the destructor) blocks until the running worker ended.
class CCatalogueClient {
public:
    static constexpr int kDefaultPageSize = 32;

    // The process-wide instance, created on first use.
    static CCatalogueClient& Instance();

    CCatalogueClient();
    ~CCatalogueClient();
    CCatalogueClient(const CCatalogueClient&) = delete;
    CCatalogueClient& operator=(const CCatalogueClient&) = delete;

    // Asks for one page: category 0..15 (0 all), platform type id (0 all), order 0 recommended,
    // 1 newest, 2 most popular; `keyword` (process code page) empty for browsing.
    void RequestGameList(platform::HWND window, int categoryId, int emulatorId, int order, int page,
                         const std::string& keyword, int pageSize);

    // Whether a game-list request is running.
    bool Busy() const { return !m_idle.IsSet(); }

    // Waits for the running request to end. Safe to call more than once.
    void Shutdown();

private:
    struct Request {
        platform::HWND window = nullptr;
        int categoryId = 0;
        int emulatorId = 0;
        int order = 0;
        int page = 1;
        std::string keyword;
        int pageSize = kDefaultPageSize;
    };

    void Run(Request request);

    platform::Event m_idle{platform::Event::Mode::ManualReset, true}; // set while no request runs
    std::mutex m_threadMutex;
    std::thread m_worker;
};

// The detail request of one game, run on the detail window's own worker thread: posts
// WM_GAMEINFO_DESCRIPTION (lParam: new std::string) and, for each screenshot in order,
// WM_GAMEINFO_SCREEN (lParam: new std::string, the cached file's path) to `window`. Screenshots
// already cached are not fetched again; a failed download leaves no file and posts nothing.
// `closing` is read between screenshots; `idle` is reset while the request runs and set at its end.
void RunGameInfoRequest(platform::HWND window, const CGame& game, const std::atomic<bool>& closing,
                        platform::Event& idle);

// Where a server image path is cached: the image cache folder followed by the path cut at its first
// "!" (an image-style suffix), with doubled separators collapsed.
std::string CachedImagePath(const std::string& imagePath);

// Downloads `url` into `nativePath`, creating its folders. True only for a completed transfer that
// answered 200; on any failure the file is removed, so no error page or partial image is kept.
bool DownloadImageFile(const std::string& url, const std::string& nativePath);
