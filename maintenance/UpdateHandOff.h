#pragma once

#include <string>
#include <sys/types.h>

// The self-update's hand-off to the updater and the running program's part in it.
//
// The installer window unpacks "Update.zip" (the new `quokka` and the updater "QuokkaUpdate.exe")
// into the work folder, writes "QuokkaUpdate.ini" there (section Update: Program, the running
// executable's full path; Pid, this process) and starts the updater detached, in a session of its
// own, so it outlives the program, which then ends. The updater waits for Pid to end, puts the new
// program in place (the old one kept as "<Program>.old"), starts it and waits for it to confirm
// that it came up by deleting "<Program>.old"; otherwise it puts the old program back.

// What the updater is told about the program it replaces.
struct UpdateHandOff {
    std::string program; // full path of the executable
    pid_t pid = 0;
};

inline constexpr char kUpdateIniName[] = "QuokkaUpdate.ini";
inline constexpr char kUpdateNewSuffix[] = ".new";
inline constexpr char kUpdateOldSuffix[] = ".old";
// What an update puts in the work folder: the downloaded package, the new program and the updater
// unpacked from it.
inline constexpr char kUpdatePackageName[] = "QuokkaUpdate.zip";
inline constexpr char kUpdateProgramName[] = "quokka";
inline constexpr char kUpdaterName[] = "QuokkaUpdate.exe";

// This process: its executable (from /proc/self/exe) and its id.
UpdateHandOff CurrentProgramHandOff();

// Writes workDir + "QuokkaUpdate.ini" whole (temporary file, then rename). False when it cannot.
bool WriteUpdateIni(const std::string& workDir, const UpdateHandOff& handOff);

// Starts `file` without arguments in the folder `dir`, detached: in a new session, with no parent
// left but init (the process in between ends at once, so nothing here has to reap it), every
// signal at its default and none blocked, this process's environment and standard streams, and no
// other descriptor of this process. True once the program was executed; false (with errno) when
// it could not be.
bool StartDetached(const std::string& file, const std::string& dir);

// Start-up: removes what an update that never finished (its updater killed, the machine gone down)
// left behind: beside `exe`, "<exe>.new" and "<exe>.old.part", the updater's half-made copies; in
// `workDir` (ending with '/'), the downloaded package, the unpacked program and updater and the
// hand-off file. Nothing else is touched: not "<exe>.old" (ConfirmProgramStarted's), not another
// file of either folder, and never `exe` itself, should the program run from its work folder.
// While an updater started from `workDir` still runs, it needs these files and removes them itself:
// nothing is removed then. Returns how many files were removed.
int RemoveInterruptedUpdate(const std::string& exe, const std::string& workDir);
// The same for the running executable and the program's work folder. Call it before the main window
// is made.
void RemoveStaleUpdateCopy();

// Once the main window exists: deletes "<exe>.old", the kept old program, which tells a waiting
// updater that the new program came up (and makes the update final).
void ConfirmProgramStarted();

// The running executable's full path; empty when /proc/self/exe cannot be read.
std::string RunningExecutable();
