#include "download/DownloadFinisher.h"

#include "download/DownloadFiles.h"
#include "download/DownloadTaskPreparation.h"
#include "download/DownloadTransfer.h"
#include "foundation/AppMessages.h"
#include "foundation/StringConv.h"
#include "platform/Trace.h"
#include "store/GameStore.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

using downloadfiles::FileSize;
using downloadfiles::Megabytes;
using downloadfiles::Native;
using downloadfiles::ParseLength;

namespace {

// Bytes of every regular file under `folder`, leaving out `skip`.
int64_t FolderBytes(const std::string& nativeFolder, const std::string& nativeSkip)
{
    namespace fs = std::filesystem;
    int64_t total = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(nativeFolder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code statError;
        if (!it->is_regular_file(statError) || it->path() == fs::path(nativeSkip))
            continue;
        auto size = it->file_size(statError);
        if (!statError)
            total += static_cast<int64_t>(size);
    }
    return total;
}

} // namespace

DownloadFinisher::DownloadFinisher(DownloadTask& task, const DownloadWorkerEnvironment& env,
                                   const std::string& target, DownloadTransfer& transfer)
    : m_task(task), m_record(task.m_record), m_control(*task.m_control), m_env(env), m_target(target),
      m_transfer(transfer)
{
}

void DownloadFinisher::ExtractionProgress(int64_t done, int64_t total, void* transfer)
{
    static_cast<DownloadTransfer*>(transfer)->ReportProgress(static_cast<double>(done),
                                                             static_cast<double>(total), 5, false);
}

int DownloadFinisher::Finish(bool extract)
{
    if (m_control.stop)
        return kErrorStopped;
    int64_t size = FileSize(m_target);
    // The no-zip source names the sizes of its files: the one saved must match.
    if (m_record.Source == 8) {
        // The sizes table keeps the server's names; the file name is their checked form.
        auto described =
            std::find_if(m_record.FileList.begin(), m_record.FileList.end(), [&](const auto& entry) {
                std::string name;
                return NormalizedRelativeFileName(entry.first, name) && name == m_record.FileName;
            });
        if (described != m_record.FileList.end() && ParseLength(described->second) >= 0 &&
            ParseLength(described->second) != size) {
            ::unlink(Native(m_target).c_str());
            m_record.FileLenth.clear();
            downloadfiles::StoreTaskRecord(m_env.store, m_record);
            return kErrorVerification;
        }
    }
    // An archive whose digest the server gave must have it.
    if (m_record.Source != 8 && !m_record.FileMd5.empty()) {
        std::string digest;
        if (!m_transfer.TargetMd5(digest))
            return m_control.stop ? kErrorStopped : kErrorVerification;
        if (digest != m_record.FileMd5) {
            ::unlink(Native(m_target).c_str());
            m_record.FileLenth.clear();
            m_record.VolumeFileLenth.clear();
            downloadfiles::StoreTaskRecord(m_env.store, m_record);
            return kErrorVerification;
        }
    }
    if (extract) {
        m_control.busy = true;
        m_task.m_outcome = kOutcomeExtracting;
        if (m_env.wake)
            m_env.wake();
        m_control.zip.m_pUser = &m_transfer;
        m_control.zip.m_progressFun = &DownloadFinisher::ExtractionProgress;
        if (m_env.freeBytes) {
            ZipLimits limits;
            limits.freeBytes = m_env.freeBytes;
            m_control.zip.SetLimits(std::move(limits));
        }
        int extracted = 0;
        try {
            extracted = m_control.zip.ZipExtract(AnsiToUtf16(m_target), AnsiToUtf16(m_record.FilePath));
        } catch (...) {
            extracted = 0;
        }
        m_control.busy = false;
        if (extracted != kZipExtractDone) {
            if (m_control.stop)
                return kErrorStopped;
            return extracted == kZipExtractNoSpace ? kErrorDiskFull : kErrorExtraction;
        }
        m_transfer.RepeatProgress(5);
    }
    if (m_control.stop)
        return kErrorStopped;

    auto game = std::make_unique<GameinfoRecord>();
    game->GameId = m_record.GameId;
    game->Icon = m_record.Icon;
    game->Size =
        Megabytes(FolderBytes(Native(m_record.FilePath), extract ? Native(m_target) : std::string()));
    game->GameName = m_record.GameName;
    game->EmulatorShortName = m_record.EmulatorShortName;
    game->CategoryShortName = m_record.CategoryShortName;
    game->IsPlay = "0";
    game->IsPK = "0";
    game->FilePath = m_record.FilePath;
    game->FileName = m_record.FileName;
    game->EmulatorId = m_record.EmulatorId;
    game->CategoryId = m_record.CategoryId;
    game->PlayUrl = m_record.PlayUrl;

    // The library row first: a crash after it finds the game installed and its download row is
    // dropped at the next start; a crash before it resumes the download, archive still in place.
    // A game the store did not take is not installed: it would be gone at the next start with its
    // files left behind. The task fails and keeps its row and its files, so a later start finishes it.
    bool stored =
        m_env.store && m_env.store->Submit(kStoreAddGameinfo, new GameinfoRecord(*game), true, false);
    if (!stored) {
        platform::TraceF("download %s: the game's row was not stored\n", m_record.GameId.c_str());
        return kErrorNotStored;
    }
    m_env.store->Submit(kStoreRemoveDownload, new std::string(m_record.GameId), true, false);
    if (extract)
        ::unlink(Native(m_target).c_str());
    m_task.m_finished = std::move(game);
    return 0;
}
