#include "account/PageVisit.h"

#include "foundation/ServerEndpoints.h"
#include "foundation/SystemInfo.h"
#include "platform/Trace.h"

#include <chrono>
#include <random>
#include <system_error>

namespace {

constexpr size_t kMaxUrlLength = 1023;

} // namespace

std::string BeaconRandomText()
{
    // One generator for the process: seeding from the clock per beacon would give every beacon of
    // the same second the same digits.
    static std::mutex mutex;
    static std::mt19937 generator{std::random_device{}()};
    std::lock_guard lock(mutex);
    std::string text;
    for (int i = 0; i < 8; ++i)
        text += static_cast<char>('0' + generator() % 9);
    return text;
}

std::string BeaconUserAgent()
{
    return "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT " + GetOsVersionText() + "; " +
           (GetOsBits() == 64 ? "WOW64" : "WOW32") + ")";
}

std::string BeaconUrl(const std::string& random)
{
    std::string url = StatUrl() + "&r=" + SiteUrl("") + "&rnd=" + random;
    if (url.size() > kMaxUrlLength)
        url.resize(kMaxUrlLength);
    return url;
}

CPageVisitReporter::~CPageVisitReporter()
{
    Shutdown();
}

void CPageVisitReporter::Report(const std::string& pageUrl)
{
    std::lock_guard lock(m_mutex);
    if (m_stopped)
        return;
    ReapEnded();
    Beacon& beacon = m_beacons.emplace_back();
    auto self = std::prev(m_beacons.end());
    try {
        beacon.thread = std::thread([this, self, pageUrl] {
            Send(pageUrl);
            std::lock_guard lock(m_mutex);
            self->ended = true;
            m_ended.notify_all();
        });
    } catch (const std::system_error&) {
        m_beacons.pop_back(); // no thread to be had: the visit goes unreported
    }
}

void CPageVisitReporter::Send(const std::string& pageUrl)
{
    const std::string url = BeaconUrl(BeaconRandomText());
    platform::Trace("----------------");
    platform::Trace(pageUrl);
    platform::Trace("----------------");
    CurlEasyPtr handle = NewCurlEasy();
    if (!handle)
        return;
    ApplyUsageBeaconProfile(handle.get(), url, BeaconUserAgent(), pageUrl);
    NetPerform(handle.get(), &m_cancel); // the result does not matter
}

void CPageVisitReporter::ReapEnded()
{
    for (auto it = m_beacons.begin(); it != m_beacons.end();) {
        if (!it->ended) {
            ++it;
            continue;
        }
        it->thread.join(); // it has left Send; only its last lines remain
        it = m_beacons.erase(it);
    }
}

void CPageVisitReporter::Shutdown()
{
    std::list<Beacon> beacons;
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_cancel = true;
    }
    // Join outside the lock: an ending beacon takes it to mark itself. Entries are only erased under
    // the lock by Report, which no longer runs, so walking the list here is safe.
    for (Beacon& beacon : m_beacons)
        if (beacon.thread.joinable())
            beacon.thread.join();
    std::lock_guard lock(m_mutex);
    m_beacons.clear();
}

bool CPageVisitReporter::WaitIdle(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        for (const Beacon& beacon : m_beacons)
            if (!beacon.ended)
                return false;
        return true;
    });
}

int CPageVisitReporter::InFlight() const
{
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const Beacon& beacon : m_beacons)
        count += beacon.ended ? 0 : 1;
    return count;
}

namespace {

CPageVisitReporter& Reporter()
{
    static CPageVisitReporter reporter; // its destructor joins what is left at exit
    return reporter;
}

} // namespace

void ReportPageVisit(const std::string& pageUrl)
{
    Reporter().Report(pageUrl);
}

void ShutdownPageVisits()
{
    Reporter().Shutdown();
}
