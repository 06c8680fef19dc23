#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// Reports extraction progress: bytes written so far, bytes of the whole archive, and the user pointer
// given to SetPUser. It runs on the extracting thread and must not block.
using ZipExtractProgressFun = void (*)(int64_t bytesDone, int64_t bytesTotal, void* pUser);

// What ZipExtract returns: success, any failure, and a failure for want of disk space (the free space
// of the destination's file system would be passed, or a write found the disk full), which callers
// tell apart so they can say so.
inline constexpr int kZipExtractFailed = 0;
inline constexpr int kZipExtractDone = 1;
inline constexpr int kZipExtractNoSpace = 2;

// Bounds on what one extraction may write, counted in the bytes actually written, never in the sizes
// the archive declares (declared sizes past a bound only refuse an archive early). The defaults suit
// game archives: their contents rarely compress beyond a few times, while a disk image of mostly
// zeros in a small archive can expand a thousandfold, hence the floor.
struct ZipLimits {
    // An archive may write this many times its own size, plus floorBytes.
    int64_t ratio = 100;
    int64_t floorBytes = int64_t{1} << 30;
    // Never more than this, whatever the archive's size: larger than any game the catalogue offers.
    int64_t hardCapBytes = int64_t{256} << 30;
    // The bytes free to this user on the file system of the folder, or -1 when unknown. Empty: asked
    // of the file system once, as extraction starts.
    std::function<int64_t(const std::string& folder)> freeBytes = {};
};

// Zip extraction with progress, pause and cancel, and packing of a folder or file into a new archive.
//
// ZipExtract runs on the caller's thread. Exit and Pause may be called from any other thread at any
// time; the flags may also be stored directly (callers that embed the object do), in which case they
// are noticed at the next block or within 10 ms while paused. One object may extract several archives
// in turn: bytes total is reset by each extraction, bytes done keeps counting, and the exit flag, once
// set, is never cleared by the class.
//
// Entries are kept inside the destination folder whatever their names say: leading separators and
// drive prefixes are dropped (the entry lands inside the folder), a name with a ".." segment fails the
// extraction, and a symbolic-link entry is made only when its target stays inside the folder (any
// other link fails the extraction). Two entries leading to one file fail the extraction rather than
// one silently replacing the other. Unix permission bits stored in an entry are restored.
//
// Names flagged UTF-8 are UTF-8; unflagged names are taken as UTF-8 when they are valid UTF-8 and as
// code page 936 (the Chinese Windows code page the archives come from) otherwise, whatever the locale.
// An Info-ZIP Unicode Path extra field whose check value matches the header's name gives the name
// instead. A folder is an entry whose name ends with a separator, or an empty entry marked as a folder
// by its DOS attribute or Unix mode.
//
// Only stored and deflated entries are extracted; any other method, an encrypted entry or a CRC that
// does not match what was written fails the archive. A failed extraction, stopped ones included,
// removes the files, links and folders it made and puts back the files and links it replaced, which
// wait in a hidden folder inside the destination until the extraction ends.
class CZip {
public:
    CZip();
    CZip(const CZip&) = delete;
    CZip& operator=(const CZip&) = delete;

    // Asks a running or later extraction to stop; it then returns 0.
    void Exit();
    // Non-zero holds extraction before its next block until Pause(0); 0 resumes.
    void Pause(int pause);
    void SetPUser(void* pUser);
    void SetExtractProgressFun(ZipExtractProgressFun fun);

    // Extracts every entry of the archive into destFolder (the folder itself is created, one level,
    // and stays). Returns kZipExtractDone on success; kZipExtractNoSpace when the disk is too full;
    // kZipExtractFailed when the archive cannot be opened, an entry fails, the limits are passed or
    // the exit flag stops it. On failure the destination is left as it was found. Blocks until done.
    int ZipExtract(const std::u16string& archivePath, const std::u16string& destFolder);
    // Bounds for later extractions; a new object has the defaults.
    void SetLimits(ZipLimits limits);
    // Why the last extraction failed, in words for the trace; empty after a success.
    const std::string& LastFailure() const;

    // Packs a folder (recursively, entries named relative to it) or a single file (under its own name)
    // into a new archive, replacing any file at archivePath. With utf8Names the names are stored in
    // UTF-8 and flagged so; otherwise in the process code page. Returns 1 when every file was added.
    int ZipCompress(const std::u16string& sourcePath, const std::u16string& archivePath, bool utf8Names);

    // Fields in their published order. Callers embedding the object set the first two directly.
    void* m_pUser;
    ZipExtractProgressFun m_progressFun;
    std::atomic<int64_t> m_bytesTotal;
    std::atomic<int64_t> m_bytesDone;
    std::atomic<int32_t> m_exit;
    std::atomic<int32_t> m_pause;

private:
    struct Run;
    // Extracts the entry the archive handle stands on as part of the run. An entry leading to a file
    // or link the run has already extracted fails.
    bool ExtractCurrentEntry(void* unz, Run& run);
    // Writes a block of the current entry's data within the run's bounds.
    bool WriteBlock(Run& run, int fd, const char* data, size_t size);
    // Notes why the extraction fails, traces it and returns false.
    bool Fail(std::string why);
    // Waits while the pause flag is set. Returns false as soon as the exit flag is set.
    bool WaitWhilePaused();

    std::mutex m_waitMutex;
    std::condition_variable m_wake;
    ZipLimits m_limits;
    std::string m_lastFailure;
};
