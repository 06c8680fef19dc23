#pragma once

#include "platform/WindowMessages.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
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
// disk rather than downloaded); kinds 3 and 4 only fill the cache. A missing icon is answered with
// the skin's default icon and leaves no file behind.
//
// Threads: four workers start with the first request; Shutdown (and the destructor) drops what is
// still queued, lets running downloads finish and joins the workers. Request never blocks.
class CImageLoader {
public:
    static constexpr int kMaxDownloads = 4;
    static constexpr char kDefaultIcon[] = "skin\\ui\\DefaultGameIcon.png";

    static CImageLoader& Instance();

    CImageLoader() = default;
    ~CImageLoader();
    CImageLoader(const CImageLoader&) = delete;
    CImageLoader& operator=(const CImageLoader&) = delete;

    // Queues one request. A key that is already queued or being fetched is ignored (its requester
    // gets no answer; the first request's answer covers it).
    void Request(platform::HWND window, int kind, int platformId, const std::string& key, const std::string& imagePath);

    void Shutdown();

private:
    struct Job {
        platform::HWND window = nullptr;
        int kind = 0;
        int platformId = 0;
        std::string key;
        std::string imagePath;
    };

    void Work();
    void Serve(const Job& job);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    std::set<std::string> m_keys; // queued or being fetched
    std::vector<std::thread> m_workers;
    bool m_stopping = false;
};

// Where an icon path of the image server lives in the cache: the image cache folder followed by the
// path, doubled separators collapsed.
std::string IconCachePath(const std::string& imagePath);

// The image of a local game of platform `platformId` whose file is `gamePath`: for arcade platforms
// an artwork file named after the ROM in the arcade artwork folders (as an image attribute), else
// the platform's image from the skin; for PC games an image beside the game, else the default icon.
std::string LocalGameImage(int platformId, const std::string& gamePath);
