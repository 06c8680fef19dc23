#include "download/DownloadTaskPreparation.h"

#include "download/VolumeList.h"
#include "foundation/FileSystem.h"
#include "platform/Trace.h"
#include "store/GameStore.h"

#include <sys/statvfs.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <stdexcept>

namespace {

// A folder to try names against: only whether a name stays inside some folder matters here.
constexpr char kProbeFolder[] = "/download/";

// The stored list format ends each value at ';', so such a value would come back as two.
bool IsStorable(const std::string& text)
{
    return !text.empty() && text.find(';') == std::string::npos;
}

bool UsesArchiveFileName(const std::string& emulatorId)
{
    return emulatorId == "126" || emulatorId == "123" || emulatorId == "146";
}

std::map<int, std::string> StorableVolumes(std::string_view text)
{
    std::map<int, std::string> volumes = ParseVolumeUrlList(text);
    std::erase_if(volumes, [](const auto& entry) { return !IsStorable(entry.second); });
    return volumes;
}

std::string NativeOrEmpty(const std::string& path)
{
    try {
        return NativePath(path);
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace

bool NormalizedRelativeFileName(const std::string& name, std::string& normalized)
{
    if (name.empty() || name.back() == '/' || name.back() == '\\')
        return false;
    std::string joined;
    if (!JoinInsideFolder(kProbeFolder, name, joined))
        return false;
    normalized = joined.substr(sizeof kProbeFolder - 1);
    return true;
}

// A file an emulator is started with may not look like an option: the launcher refuses to start a
// game whose file name begins with "-", so such a game is not downloaded in the first place.
bool IsLaunchableFileName(const std::string& normalized)
{
    const size_t slash = normalized.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return start < normalized.size() && normalized[start] != '-';
}

bool IsPlainNameSegment(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

bool FillDownloadTaskSources(DownloadTaskRecord& task, const CDownLoadUrl& descriptor, int& offerMask)
{
    offerMask = 0;
    const bool volumes = descriptor.volume == "1";
    task.Volume = descriptor.volume;
    // The archive's digest, kept only when it is one: 32 hexadecimal digits, stored in lower case.
    task.FileMd5.clear();
    if (descriptor.filemd5.size() == 32 &&
        descriptor.filemd5.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        for (char c : descriptor.filemd5)
            task.FileMd5 += static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
    }
    if (UsesArchiveFileName(task.EmulatorId)) {
        std::string name;
        if (!NormalizedRelativeFileName(descriptor.filename, name) || !IsLaunchableFileName(name))
            return false;
        task.FileName = name;
    }
    // Every list the workers walk has a ceiling; a descriptor past one is refused whole rather than
    // cut, since a cut list could name another game than the one described.
    const std::vector<std::string>& links = descriptor.cloudurl.baidu;
    if (links.size() > kMaxDescriptorLinks || descriptor.filelist.size() > kMaxDescriptorLinks ||
        descriptor.filelist2.size() > kMaxDescriptorLinks || descriptor.verify.size() > kMaxDescriptorFiles)
        return false;
    for (size_t i = 0; i < links.size(); ++i) {
        const int key = static_cast<int>(i);
        if (volumes) {
            std::map<int, std::string> set = StorableVolumes(links[i]);
            if (set.size() > kMaxDescriptorVolumes)
                return false;
            if (!set.empty())
                task.VolumePanUrlList[key] = std::move(set);
        } else if (IsStorable(links[i])) {
            task.PanUrlList[key] = links[i];
        }
    }

    if (!volumes) {
        if (IsStorable(descriptor.fileurl))
            task.UrlList[0] = descriptor.fileurl;
        for (size_t i = 0; i < descriptor.filelist.size(); ++i)
            if (IsStorable(descriptor.filelist[i]))
                task.UrlList[static_cast<int>(i) + 1] = descriptor.filelist[i];
        int next = 0;
        if (IsStorable(descriptor.fileurl2))
            task.NoZipUrlList[next++] = descriptor.fileurl2;
        for (const std::string& url : descriptor.filelist2)
            if (IsStorable(url))
                task.NoZipUrlList[next++] = url;
    } else {
        std::map<int, std::string> set = StorableVolumes(descriptor.volumeurl);
        if (set.size() > kMaxDescriptorVolumes)
            return false;
        if (!set.empty())
            task.VolumeUrlList[0] = std::move(set);
    }

    for (const CVerify* file : descriptor.VerifyEntries())
        if (IsStorable(file->path) && file->size.find_first_of(";|") == std::string::npos)
            task.FileList.emplace(file->path, file->size);

    if (volumes ? !task.VolumePanUrlList.empty() : !task.PanUrlList.empty())
        offerMask |= kSourceBaiduPan;
    if (volumes ? !task.VolumeUrlList.empty() : !task.UrlList.empty())
        offerMask |= kSourceOwnServer;
    // The no-zip source saves under the first file's path, so it is offered only when that is safe.
    std::string first;
    if (!volumes && !task.NoZipUrlList.empty() && !task.FileList.empty() &&
        NormalizedRelativeFileName(task.FileList.begin()->first, first) && IsLaunchableFileName(first))
        offerMask |= kSourceNoZip;
    return true;
}

bool ApplyDownloadSource(DownloadTaskRecord& task, int choice, int offerMask)
{
    if (choice != kSourceBaiduPan && choice != kSourceOwnServer && choice != kSourceNoZip)
        return false;
    if ((offerMask & choice) == 0)
        return false;
    if (choice == kSourceNoZip) {
        std::string name;
        if (task.FileList.empty() || !NormalizedRelativeFileName(task.FileList.begin()->first, name))
            return false;
        task.NeedUnZip = "0";
        task.FileName = name;
    }
    task.Source = choice;
    return true;
}

int64_t FreeBytesFor(const std::string& folder)
{
    std::string native;
    try {
        native = NativePath(folder);
    } catch (const std::exception&) {
        return -1;
    }
    // The task's folder is made only when its download begins: its nearest existing parent is on
    // the file system it will be made on.
    for (std::filesystem::path at(native); !at.empty(); at = at.parent_path()) {
        struct statvfs fs {};
        if (::statvfs(at.c_str(), &fs) == 0) {
            int64_t bytes = 0;
            if (__builtin_mul_overflow(static_cast<int64_t>(fs.f_bavail), static_cast<int64_t>(fs.f_frsize),
                                       &bytes))
                return INT64_MAX;
            return bytes;
        }
        if (at == at.parent_path())
            break;
    }
    return -1;
}

PrepareOutcome PrepareDownloadTask(DownloadTaskRecord& task, platform::HWND owner,
                                   IDownloadSourceChooser& chooser, CGameStore& store,
                                   const TransferCancel* cancel, const FreeBytesFunction& freeBytes)
{
    if (!IsPlainNameSegment(task.GameId))
        return PrepareOutcome::Dropped;
    CDownLoadUrl descriptor;
    if (!RequestDownloadDescriptor(task.GameId, descriptor, cancel))
        return PrepareOutcome::Dropped;
    int offerMask = 0;
    if (!FillDownloadTaskSources(task, descriptor, offerMask)) {
        platform::Trace("download descriptor of " + task.GameId + " refused");
        return PrepareOutcome::Refused;
    }
    if (descriptor.needsize > 0) {
        const int64_t free =
            freeBytes ? freeBytes(NativeOrEmpty(task.FilePath)) : FreeBytesFor(task.FilePath);
        if (free >= 0 && descriptor.needsize > free) {
            platform::TraceF("download %s needs %lld bytes, %lld are free\n", task.GameId.c_str(),
                             static_cast<long long>(descriptor.needsize), static_cast<long long>(free));
            return PrepareOutcome::NoSpace;
        }
    }
    const int choice = chooser.ChooseDownloadSource(owner, offerMask);
    if (!ApplyDownloadSource(task, choice, offerMask))
        return PrepareOutcome::Dropped;
    // A task without its row would be gone at the next start, its file left behind.
    if (!store.Submit(kStoreAddDownload, &task, false, false)) {
        platform::Trace("download task " + task.GameId + " could not be stored");
        return PrepareOutcome::NotStored;
    }
    return PrepareOutcome::Ready;
}
