#pragma once

#include "store/EmulatorRecord.h"

#include <string>
#include <vector>

// Moving an emulator's configuration in and out around a run. The program keeps one user copy of
// the emulator's configuration per control method (1 gamepad: "UserGamePadCfg", 2 keyboard:
// "UserKeyBoardCfg", inside the emulator's folder), made from the package's defaults ("GamePadCfg",
// "KeyBoardCfg") on first use. Before a run the user copy is put where the emulator reads it; after
// the run the emulator's files are taken back. Every step is best effort: what cannot be copied is
// skipped, the run goes on.
//
// Names in the record's KeyConfig and SetConfig lists take '\' and '/' as separators. In a name, a
// "$" stands for the Documents folder (everything up to and including the first "$" is replaced by
// it) and, in a name without "$", the first "~" stands for the game's name (the game file's name
// without its extension). A name that would leave its base folder (absolute, ".." climbing out) is
// skipped with a trace. A "$" name has to be a plain relative name of a file inside a folder of its
// own in the Documents folder ("$\Emu\keys.cfg"), its first folder not hidden; other "$" names are
// skipped with a trace. When the Documents folder is the home folder (or above it), "Documents"
// inside the home folder stands in for it, so "$" never reaches the desktop's own files.
//
// Every file copy is written to a temporary file in the target's folder and renamed over the target,
// so a process killed mid-copy leaves the old file or the new one, never a cut one. Copies into the
// user copy (taking a run's changes back) are each flushed to the disk before their rename. Copies
// put in place before a run, and the user copy made from the defaults, are flushed together once all
// are written (PendingWrites): the first are made again from the user copy before every run, and the
// second takes its folder's name only after the flush.
namespace emulator_config {

// Files written without being flushed to the disk one by one, to be flushed together: one flush of a
// batch costs about what one file's flush does, where twenty in a row cost twenty. Whoever fills it
// makes sure that nothing on disk (the launcher's run record) leads to the files being read back
// after the machine went down before the flush. Not thread-safe.
class PendingWrites {
public:
    PendingWrites() = default;
    PendingWrites(const PendingWrites&) = delete;
    PendingWrites& operator=(const PendingWrites&) = delete;

    void Add(std::string path);
    // Flushes every file added to the disk (writeback of all is started first, then each is waited
    // for) and forgets them. False when one of them could not be opened or flushed; the others are
    // flushed all the same.
    bool Flush();
    const std::vector<std::string>& Paths() const { return m_paths; }

private:
    std::vector<std::string> m_paths;
};

// Fills the control method's user folder from the defaults when it holds no byte.
void EnsureUserDirectory(const EmulatorRecord& record, int controlMethod);
// User copy -> emulator ("Configtype" "0": files; "1": .reg imports into the emulated registry,
// done before this returns, so the emulator sees them). `gamePath` gives the "~" in names (empty
// for a run without a game). The files written are flushed to the disk before this returns; with
// `pending` they are added to it instead, for the caller to flush.
void TransferBeforeLaunch(const EmulatorRecord& record, int controlMethod, const std::string& gamePath);
void TransferBeforeLaunch(const EmulatorRecord& record, int controlMethod, const std::string& gamePath,
                          PendingWrites& pending);
// Emulator -> user copy, the mirror image ("Configtype" "1": the target keys exported to the .reg
// files of the user copy).
void TransferAfterExit(const EmulatorRecord& record, int controlMethod, const std::string& gamePath);
// Throws the control method's user copy away, so the next run starts from the defaults. Control
// methods other than 1 and 2 remove nothing.
void RestoreDefaults(const EmulatorRecord& record, int controlMethod);
// Gamepad runs: the attached pads into the emulator's own file (the first KeyConfig target) for the
// FC ("1250001"), N64 ("1300001") and MD ("1220001") emulators; others are left alone. `gamePath`
// gives the "~" of the target's name, as in the transfers. The file written is flushed to the disk
// before this returns; with `pending` it is added to it instead.
void WriteControllers(const EmulatorRecord& record);
void WriteControllers(const EmulatorRecord& record, const std::string& gamePath,
                      PendingWrites* pending = nullptr);

// The folder that "$" stands for; empty (the default) means platform::DocumentsFolder(). For tests.
void SetDocumentsFolder(const std::string& folder);

// The user folder of a control method inside the emulator's folder ("UserGamePadCfg" for 1,
// "UserKeyBoardCfg" for 2), ending with '/'; empty for any other method or an emulator without a
// folder.
std::string UserDirectory(const EmulatorRecord& record, int controlMethod);

// Copies `source` over `target` through a temporary file beside `target` that is synced and
// renamed over it; missing folders of `target` are made. False, with `target` untouched, when
// `source` is not a readable regular file or the copy cannot be written. Native paths.
bool CopyFileWhole(const std::string& source, const std::string& target);

} // namespace emulator_config
