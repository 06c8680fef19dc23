#pragma once

#include "catalogue/CatalogueClient.h"
#include "foundation/HttpClient.h"
#include "platform/WindowMessages.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The answer to an icon request, posted as lParam; the receiving window frees it.
struct CImageAnswer {
    std::string key;   // the request's key: a game id, or a local game's file path
    std::string image; // the file to show, or for local games an image attribute string
};

// Game icons, downloaded once into the image cache and answered from it afterwards. Requests are
// served in order by at most four downloads at a time; each answer reaches the requesting window
// as a posted message: kind 0 WM_GAME_ICON (catalogue and search tiles, the detail window), kind 1
// WM_MYGAME_ICON (downloaded games), kind 2 WM_LOCAL_ICON (local games, whose image is chosen on
// disk rather than downloaded); kinds 3 and 4 only fill the cache. A missing icon, and one whose
// path would leave the cache folder, is answered with the skin's default icon and leaves no file;
// so is an icon file larger than the limit (SetMaxImageBytes), found in the cache or downloaded.
//
// One cache file is fetched by one download at a time: requests for a file that is already queued
// or being fetched join that request, and every window that asked gets the answer (a window that
// asks twice for one key is answered once). A file counts as cached only once a complete download
// was renamed into place.
//
// Threads: four workers start with the first request. Request and PutFirst never block on the
// network. BeginShutdown drops what is still queued and aborts the running downloads, at once
// (aborted downloads answer nothing and cache nothing); Shutdown (and the destructor) does that and
// then joins the workers.
class CImageLoader {
public:
    static constexpr int kMaxDownloads = 4;
    static constexpr char kDefaultIcon[] = "skin\\ui\\DefaultGameIcon.png";

    // The process-wide loader, created on first use.
    static CImageLoader& Instance();
    // Shuts the process-wide loader down and destroys it; the next Instance() makes a new one. Does
    // nothing when there is none.
    static void DestroyInstance();
    // BeginShutdown of the process-wide instance, without making one when there is none.
    static void BeginInstanceShutdown();

    CImageLoader() = default;
    ~CImageLoader();
    CImageLoader(const CImageLoader&) = delete;
    CImageLoader& operator=(const CImageLoader&) = delete;

    // Queues one request, or joins the one that already covers the same file. Ignored after
    // BeginShutdown.
    void Request(platform::HWND window, int kind, int platformId, const std::string& key,
                 const std::string& imagePath);

    // Moves the queued requests for `keys` before every other queued request, in the order given,
    // so the icons a window shows now are fetched before those of a page it no longer shows. Keys
    // that are not queued (answered, being fetched, never asked) are skipped.
    void PutFirst(const std::vector<std::string>& keys);

    void BeginShutdown();
    void Shutdown();

    // The largest icon file fetched and answered from the cache (kMaxImageBytes unless changed);
    // a larger one is answered with the default icon and not kept. Set it before the first request.
    void SetMaxImageBytes(long long maxBytes) { m_maxBytes = maxBytes; }

private:
    struct Requester {
        platform::HWND window = nullptr;
        int kind = 0;
        std::string key;
    };
    struct Job {
        std::string id; // the cache file, or for what has no cache file a text that names the key
        int kind = 0;   // the first requester's kind; 2 means a local game's image
        int platformId = 0;
        std::string key; // the first requester's key
        std::string imagePath;
        std::string local; // the cache file; empty when there is none
        std::vector<Requester> requesters;
    };

    void Work();
    // The image to answer with; empty when the download was aborted.
    std::string Serve(const Job& job);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<Job>> m_queue;
    std::map<std::string, std::shared_ptr<Job>> m_jobs; // queued or being fetched, by id
    std::vector<std::thread> m_workers;
    bool m_stopping = false;
    TransferCancel m_cancel{false};
    long long m_maxBytes = kMaxImageBytes;
};

// Whether an image is in the cache: a regular file at `path` of at most `maxBytes` (a folder, a
// link, a larger file, or nothing, is not).
bool IsCachedImage(const std::string& path, long long maxBytes = kMaxImageBytes);

// Where an icon path of the image server lives in the cache: the image cache folder followed by the
// path, doubled separators collapsed. Empty when the path is empty or would leave the cache folder
// ("..", an absolute name, a NUL): such an icon counts as missing.
std::string IconCachePath(const std::string& imagePath);

// The image of a local game of platform `platformId` whose file is `gamePath`: for arcade platforms
// an artwork file named after the ROM in the arcade artwork folders (as an image attribute), else
// the platform's image from the skin; for PC games an image beside the game, else the default icon.
std::string LocalGameImage(int platformId, const std::string& gamePath);
