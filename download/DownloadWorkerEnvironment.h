#pragma once

#include "platform/WindowMessages.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class CGameStore;

// What a worker needs from the engine around it.
struct DownloadWorkerEnvironment {
    CGameStore* store = nullptr;
    platform::HWND downloadWindow = nullptr; // receives progress; owns the code dialog of share links
    std::string pictureFolder;               // where share-link code pictures are kept
    int sliceMs = 15000;                     // the longest one resumed request runs
    int progressIntervalMs = 100;            // at most one progress report per task this often
    std::atomic<int>* runningCount = nullptr;
    std::function<void()> wake; // tells the scheduler that the worker's outcome changed
    // The bytes free on the file system of a native folder (-1 unknown), for the extraction's bound;
    // empty asks the file system.
    std::function<int64_t(const std::string& folder)> freeBytes;
};
