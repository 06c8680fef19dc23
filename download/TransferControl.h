#pragma once

#include "download/Zip.h"
#include "foundation/HttpClient.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// The control record of one worker run: made by the scheduler when it starts a worker, owned by the
// task, and freed by the scheduler once the worker thread has been joined.
//
// The scheduler asks the worker to stop through RequestStop (pause, delete, shutdown): the transfer
// in flight ends within about 100 ms (its cancel flag is `stop`), a retry wait ends at once, and the
// extractor is reached through the embedded CZip's exit and pause flags. The worker owns every other
// field.
struct TransferControl {
    TransferControl() = default;
    TransferControl(const TransferControl&) = delete;
    TransferControl& operator=(const TransferControl&) = delete;

    CZip zip; // its user pointer and progress function are set by the finisher that extracts

    TransferCancel stop{false};    // set by RequestStop; the transfers' cancel flag
    std::atomic<bool> busy{false}; // set while the worker extracts
    bool volumeMode = false;
    std::atomic<int> currentVolume{0};
    int volumeCount = 0;

    // Sets the stop flag and ends any retry wait. With `endExtraction` a running extraction is told
    // to end too (its pause is cleared first so that it notices).
    void RequestStop(bool endExtraction)
    {
        {
            std::lock_guard lock(m_mutex);
            stop = true;
        }
        m_wake.notify_all();
        if (endExtraction) {
            zip.m_pause = 0;
            zip.Exit();
        }
    }

    // Waits up to `ms` milliseconds unless a stop is requested. False when stopped.
    bool SleepUnlessStopped(int ms)
    {
        std::unique_lock lock(m_mutex);
        return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop.load(); });
    }

    // Whether the extractor stands paused.
    bool ExtractionPaused() const { return busy && zip.m_pause != 0; }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
};
