#include "download/DownloadWorker.h"

#include "download/DownloadFiles.h"
#include "download/DownloadTaskPreparation.h"
#include "download/ShareLinkResolver.h"
#include "foundation/FileSystem.h"

#include <string>
#include <vector>

using downloadfiles::ParseLength;

namespace {

std::string LengthText(int64_t length)
{
    return std::to_string(length);
}

} // namespace

DownloadWorker::DownloadWorker(DownloadTask& task, const DownloadWorkerEnvironment& env)
    : m_task(task), m_record(task.m_record), m_control(*task.m_control), m_env(env),
      m_transfer(task, env, m_target), m_finisher(task, env, m_target, m_transfer)
{
}

int64_t DownloadWorker::FileSize(const std::string& ansiPath)
{
    return downloadfiles::FileSize(ansiPath);
}

void DownloadWorker::Run()
{
    if (m_record.Source != 8 && !m_record.FileMd5.empty()) {
        m_transfer.EnableDigest();
    }
    // The file is used in the form its name was checked in; a name that leaves the folder (a row
    // that was edited) writes nothing.
    int result = kErrorFileNotCreatable;
    std::string folder = m_record.FilePath;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    if (JoinInsideFolder(folder, m_record.FileName, m_target))
        result = m_record.Volume == "1" ? RunVolumes() : RunSingle();
    if (result != 0 && m_control.stop)
        result = kErrorStopped;
    m_task.m_errorCode = result;
    if (m_env.runningCount)
        --*m_env.runningCount;
    m_task.m_outcome = result == 0               ? kOutcomeFinished
                       : result == kErrorStopped ? kOutcomePaused
                                                 : kOutcomeFailed;
    m_task.m_workerEnded = true;
    if (m_env.wake)
        m_env.wake();
}

int DownloadWorker::RunSingle()
{
    int lastError = kErrorNoLength;
    for (int round = 0; round < kMaxRetries; ++round) {
        if (round > 0 && !m_control.SleepUnlessStopped(100))
            return kErrorStopped;
        if (m_control.stop)
            return kErrorStopped;
        std::string url;
        int64_t length = -1;
        int chosen = m_record.Source == 1
                         ? ChooseShareUrl(url, length)
                         : ChooseOwnUrl(m_record.Source == 8 ? m_record.NoZipUrlList : m_record.UrlList,
                                        false, url, length);
        if (chosen == kErrorNoLength) {
            lastError = chosen;
            continue;
        }
        if (chosen != 0)
            return chosen;

        int64_t recorded = ParseLength(m_record.FileLenth);
        int restart = RestartIfChanged(0, recorded, length);
        if (restart != 0)
            return restart;
        if (recorded != length) {
            m_record.FileLenth = LengthText(length);
            StoreTask();
        }

        bool needLength = false;
        int result = m_transfer.TransferRange(url, 0, length, needLength);
        if (needLength) {
            lastError = result;
            continue;
        }
        if (result != 0)
            return result;
        return m_finisher.Finish(m_record.NeedUnZip == "1");
    }
    return lastError;
}

int DownloadWorker::RunVolumes()
{
    m_control.volumeMode = true;
    const std::map<int, std::map<int, std::string>>* sets = &m_record.VolumeUrlList;
    if (m_record.Source == 1 && !m_record.VolumePanUrlList.empty())
        sets = &m_record.VolumePanUrlList;
    bool share = sets == &m_record.VolumePanUrlList;
    if (sets->empty() || sets->begin()->second.empty())
        return kErrorNoVolumes;
    std::vector<int> volumes;
    for (const auto& [number, url] : sets->begin()->second)
        volumes.push_back(number);
    m_control.volumeCount = static_cast<int>(volumes.size());

    auto recordedLength = [this](int volume) -> int64_t {
        auto it = m_record.VolumeFileLenth.find(volume);
        return it == m_record.VolumeFileLenth.end() ? -1 : ParseLength(it->second);
    };

    // Resume in the volume whose recorded range holds the file's size. Bytes past every recorded
    // volume belong to no known volume and are cut away.
    int64_t size = FileSize(m_target);
    int64_t base = 0;
    size_t first = 0;
    if (size > 0) {
        for (; first < volumes.size(); ++first) {
            int64_t length = recordedLength(volumes[first]);
            if (length < 0 || size < base + length)
                break;
            base += length;
        }
        bool inRecordedVolume = first < volumes.size() && recordedLength(volumes[first]) >= 0;
        if (size > base && !inRecordedVolume && !m_transfer.Truncate(base))
            return kErrorFileNotCreatable;
    }

    for (size_t index = first; index < volumes.size(); ++index) {
        int volume = volumes[index];
        m_control.currentVolume = volume;
        int lastError = kErrorNoLength;
        bool done = false;
        for (int round = 0; round < kMaxRetries && !done; ++round) {
            if (round > 0 && !m_control.SleepUnlessStopped(100))
                return kErrorStopped;
            if (m_control.stop)
                return kErrorStopped;
            std::string url;
            int64_t length = -1;
            bool anyLink = false;
            for (const auto& [setIndex, set] : *sets) {
                auto link = set.find(volume);
                if (link == set.end())
                    continue;
                std::string candidate = link->second;
                if (share) {
                    std::string direct;
                    if (!ResolveShare(candidate, direct))
                        continue;
                    candidate = direct;
                } else if (!NetCheckUrl(candidate, &m_control.stop)) {
                    continue;
                }
                anyLink = true;
                if (ObtainLength(candidate, share, length)) {
                    url = candidate;
                    break;
                }
            }
            if (m_control.stop)
                return kErrorStopped;
            if (!anyLink)
                return kErrorNoLink;
            if (url.empty()) {
                lastError = kErrorNoLength;
                continue;
            }

            int64_t recorded = recordedLength(volume);
            int restart = RestartIfChanged(base, recorded, length);
            if (restart != 0)
                return restart;
            if (recorded != length) {
                m_record.VolumeFileLenth[volume] = LengthText(length);
                // Lengths of later volumes no longer describe this file.
                m_record.VolumeFileLenth.erase(m_record.VolumeFileLenth.upper_bound(volume),
                                               m_record.VolumeFileLenth.end());
                StoreTask();
            }

            bool needLength = false;
            int result = m_transfer.TransferRange(url, base, length, needLength);
            if (needLength) {
                lastError = result;
                continue;
            }
            if (result != 0)
                return result;
            base += length;
            done = true;
        }
        if (!done)
            return lastError;
    }
    return m_finisher.Finish(m_record.NeedUnZip == "1");
}

int DownloadWorker::RestartIfChanged(int64_t base, int64_t recorded, int64_t length)
{
    // A range begun against another length, or longer than the server's file, holds another
    // version of the file: it starts again from zero rather than splice two versions, once a run
    // (a server whose file keeps changing fails the task instead of looping).
    int64_t have = FileSize(m_target) - base;
    bool changed = have > 0 && recorded >= 0 && recorded != length;
    if (!changed && have <= length)
        return 0;
    if (m_restartedOnce)
        return kErrorNoLength;
    m_restartedOnce = true;
    return m_transfer.Truncate(base) ? 0 : kErrorFileNotCreatable;
}

bool DownloadWorker::ObtainLength(std::string& url, bool byContentLength, int64_t& length)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0 && !m_control.SleepUnlessStopped(byContentLength ? 50 : 10))
            return false;
        double found = -1.0;
        if (byContentLength) {
            found = NetGetContentLength(url, &m_control.stop);
        } else {
            std::string finalUrl;
            if (!NetResolveUrl(url, finalUrl, found, &m_control.stop))
                continue;
            if (!finalUrl.empty())
                url = finalUrl;
        }
        if (found >= 0) {
            length = static_cast<int64_t>(found);
            return true;
        }
    }
    return false;
}

int DownloadWorker::ChooseOwnUrl(const std::map<int, std::string>& urls, bool byContentLength,
                                 std::string& url, int64_t& length)
{
    bool anyAnswered = false;
    for (const auto& [order, candidate] : urls) {
        if (m_control.stop)
            return kErrorStopped;
        if (!byContentLength && !NetCheckUrl(candidate, &m_control.stop))
            continue;
        anyAnswered = true;
        std::string chosen = candidate;
        if (ObtainLength(chosen, byContentLength, length)) {
            url = chosen;
            return 0;
        }
    }
    if (m_control.stop)
        return kErrorStopped;
    return anyAnswered ? kErrorNoLength : kErrorNoLink;
}

bool DownloadWorker::ResolveShare(const std::string& link, std::string& direct)
{
    CShareLinkResolver resolver(m_env.downloadWindow, m_env.pictureFolder, m_record.GameId, &m_control.stop);
    return resolver.Resolve(link, direct) && !direct.empty();
}

int DownloadWorker::ChooseShareUrl(std::string& url, int64_t& length)
{
    if (m_record.PanUrlList.empty())
        return ChooseOwnUrl(m_record.UrlList, true, url, length);
    if (m_record.PanRealUrlList.empty()) {
        for (const auto& [index, link] : m_record.PanUrlList) {
            if (m_control.stop)
                return kErrorStopped;
            std::string direct;
            if (ResolveShare(link, direct)) {
                m_record.PanRealUrlList[index] = direct;
                StoreTask();
                break;
            }
        }
        if (m_record.PanRealUrlList.empty()) {
            if (m_control.stop)
                return kErrorStopped;
            return m_record.UrlList.empty() ? kErrorNoLink
                                            : ChooseOwnUrl(m_record.UrlList, true, url, length);
        }
    }
    for (auto it = m_record.PanRealUrlList.begin(); it != m_record.PanRealUrlList.end();) {
        std::string candidate = it->second;
        if (ObtainLength(candidate, true, length)) {
            url = candidate;
            return 0;
        }
        if (m_control.stop)
            return kErrorStopped;
        it = m_record.PanRealUrlList.erase(it);
    }
    // No resolved link is usable any more: the next round resolves the share links again.
    StoreTask();
    return kErrorNoLength;
}

bool DownloadWorker::StoreTask()
{
    return downloadfiles::StoreTaskRecord(m_env.store, m_record);
}
