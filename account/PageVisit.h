#pragma once

#include "foundation/HttpClient.h"

#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <thread>

// Usage beacons: each visit of one of the program's main pages is reported to the statistics
// counter the way a browser loads the counter of a page: a HEAD of StatUrl() with "&r=" the site's
// root and "&rnd=" eight random digits, the visited page as Referer and a desktop browser's
// User-Agent. A beacon that fails is dropped without a word.
//
// Each visit runs on a thread of its own; the caller never waits on one. Shutdown aborts the
// transfers in flight and joins their threads, so quitting never waits out a stalled counter.
class CPageVisitReporter {
public:
    CPageVisitReporter() = default;
    ~CPageVisitReporter();
    CPageVisitReporter(const CPageVisitReporter&) = delete;
    CPageVisitReporter& operator=(const CPageVisitReporter&) = delete;

    // Starts one beacon for the page's address and returns at once. Ignored after Shutdown.
    void Report(const std::string& pageUrl);
    // Aborts every beacon in flight and joins their threads; later reports are ignored. Safe to call
    // more than once.
    void Shutdown();
    // Beacons started and not yet ended.
    int InFlight() const;
    // Blocks until no beacon is in flight or timeoutMs pass; true when none is.
    bool WaitIdle(int timeoutMs);

private:
    struct Beacon {
        std::thread thread;
        bool ended = false;
    };
    void Send(const std::string& pageUrl);
    // Joins the threads of beacons that have ended. Needs m_mutex.
    void ReapEnded();

    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    std::list<Beacon> m_beacons;
    bool m_stopped = false;
    TransferCancel m_cancel{false};
};

// Eight decimal digits, each from 0 to 8, from a generator seeded once per process.
std::string BeaconRandomText();
// "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT <major.minor>; WOW64)" ("WOW32" on a 32-bit system).
std::string BeaconUserAgent();
// The beacon's address for a random text: StatUrl() + "&r=" + SiteUrl("") + "&rnd=" + random, at
// most 1023 characters.
std::string BeaconUrl(const std::string& random);

// Reports a page visit through the process-wide reporter.
void ReportPageVisit(const std::string& pageUrl);
// Shuts the process-wide reporter down (program exit): aborts and joins every beacon in flight.
void ShutdownPageVisits();
