#pragma once

#include "catalogue/GameListQuery.h"
#include "foundation/HttpClient.h"
#include "platform/Event.h"
#include "platform/WindowMessages.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CGame;
class CGameList;

// Game-list requests to the catalogue API, one at a time on a worker thread. Results reach the
// requesting window as posted messages: WM_GAMELIST_READY (browse) or WM_SEARCHLIST_READY (search)
// with wParam = page and lParam = a new CGameList that the window frees (its `request` says what was
// asked), or WM_GAMELIST_FAILED with lParam = a new CGameListQuery, the request that failed, which
// the window frees too. The window thread never waits on the network.
//
// The latest request wins: a window keeps at most one waiting request per view (browse, search);
// a newer one replaces it. When the running request ends while a newer one of the same window and
// view waits, its answer is dropped without a message and the waiting one is sent next. So every
// request is answered exactly once unless a newer one of its window and view supersedes it.
//
// Threads: RequestGameList never blocks on the network; a worker runs while requests are waiting
// and ends when none is left. BeginShutdown aborts the running transfer and drops what waits, at
// once; Shutdown (and the destructor) does that and then blocks until the worker has ended.
class CCatalogueClient {
public:
    static constexpr int kDefaultPageSize = 32;

    // The process-wide instance, created on first use.
    static CCatalogueClient& Instance();
    // Shuts the process-wide instance down and destroys it; the next Instance() makes a new one.
    // Does nothing when there is none.
    static void DestroyInstance();
    // BeginShutdown of the process-wide instance, without making one when there is none.
    static void BeginInstanceShutdown();

    CCatalogueClient() = default;
    ~CCatalogueClient();
    CCatalogueClient(const CCatalogueClient&) = delete;
    CCatalogueClient& operator=(const CCatalogueClient&) = delete;

    // Asks for one page: category 0..15 (0 all), platform type id (0 all), order 0 recommended,
    // 1 newest, 2 most popular; `keyword` (process code page) empty for browsing. Ignored after
    // BeginShutdown.
    void RequestGameList(platform::HWND window, int categoryId, int emulatorId, int order, int page,
                         const std::string& keyword, int pageSize);
    void RequestGameList(platform::HWND window, const CGameListQuery& query);

    // Whether a game-list request is running or waiting.
    bool Busy() const;

    // Aborts the running transfer and drops the waiting requests without a message; later requests
    // are ignored. Returns at once.
    void BeginShutdown();
    // BeginShutdown, then blocks until the worker has ended. Safe to call more than once.
    void Shutdown();

private:
    struct Request {
        platform::HWND window = nullptr;
        CGameListQuery query;
    };

    void Work(Request request);
    // The page, or null when the request failed or was aborted.
    std::unique_ptr<CGameList> Fetch(const CGameListQuery& query);
    // Whether a request of the same window and view waits behind `request`. Needs m_mutex.
    bool Superseded(const Request& request) const;

    mutable std::mutex m_mutex;
    bool m_running = false;  // a worker is serving requests
    bool m_stopping = false; // BeginShutdown was called
    std::deque<Request> m_pending;
    std::thread m_worker;
    std::mutex m_joinMutex; // one joiner at a time
    TransferCancel m_cancel{false};
};

// The detail request of one game, run on the detail window's own worker thread: posts
// WM_GAMEINFO_DESCRIPTION (lParam: new std::string) and, for each screenshot in order,
// WM_GAMEINFO_SCREEN (lParam: new std::string, the cached file's path) to `window`. Screenshots
// already cached are not fetched again; a failed or aborted download leaves no file and posts
// nothing, and a screenshot path that would leave the image cache is skipped. Setting `cancel`
// aborts the running transfer and ends the request before its next screenshot. `idle` is reset
// while the request runs and set at its end.
void RunGameInfoRequest(platform::HWND window, const CGame& game, const TransferCancel& cancel,
                        platform::Event& idle);

// Where a server image path is cached: the image cache folder followed by the path cut at its first
// "!" (an image-style suffix), with doubled separators collapsed. Empty when the path is empty or
// would leave the cache folder ("..", an absolute name, a NUL): such an image counts as missing.
std::string CachedImagePath(const std::string& imagePath);

// The largest icon or screenshot file that is downloaded and cached. An image past it is refused
// as a whole: a server's file of a gigabyte would otherwise fill the disk and, decoded, the memory.
constexpr long long kMaxImageBytes = 8LL * 1024 * 1024;
// The most pixels an icon or screenshot's header may state (what the toolkit decodes at most): a
// small file that claims more is refused like one past kMaxImageBytes.
constexpr long long kMaxImagePixels = 4096LL * 4096;

// Downloads `url` into `nativePath` (creating its folders) through a temporary file that is renamed
// into place only when the transfer completed with status 200 within `maxBytes` (announced or
// received) and the image's header, when it is one ReadImageHeaderSize reads, states at most
// kMaxImagePixels; on any failure, and when `cancel` is set meanwhile, no new file is left at
// `nativePath`'s name, the temporary one is removed and the result is false.
bool DownloadImageFile(const std::string& url, const std::string& nativePath, const TransferCancel* cancel,
                       long long maxBytes = kMaxImageBytes);
