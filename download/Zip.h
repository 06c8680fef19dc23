#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

// Reports extraction progress: bytes written so far, bytes of the whole archive, and the user pointer
// given to SetPUser. It runs on the extracting thread and must not block.
using ZipExtractProgressFun = void (*)(int64_t bytesDone, int64_t bytesTotal, void* pUser);

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

    // Extracts every entry of the archive into destFolder (the folder itself is created, one level).
    // Returns 1 on success, 0 when the archive cannot be opened, an entry fails, or the exit flag
    // stops it. Files written before a failure stay, a partly written one included. Blocks until done.
    int ZipExtract(const std::u16string& archivePath, const std::u16string& destFolder);

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
    // Extracts the entry the archive handle stands on into the folder dest (ending with '/').
    // `written` holds the files and links extracted so far; an entry leading to one of them fails.
    bool ExtractCurrentEntry(void* unz, const std::string& dest, std::string& buffer,
                             std::set<std::string>& written);
    // Waits while the pause flag is set. Returns false as soon as the exit flag is set.
    bool WaitWhilePaused();

    std::mutex m_waitMutex;
    std::condition_variable m_wake;
};
