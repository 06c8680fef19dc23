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

// Start-up: deletes "<exe>.new" beside the running executable, the copy an interrupted update left.
// Call it before the main window is made.
void RemoveStaleUpdateCopy();

// Once the main window exists: deletes "<exe>.old", the kept old program, which tells a waiting
// updater that the new program came up (and makes the update final).
void ConfirmProgramStarted();

// The running executable's full path; empty when /proc/self/exe cannot be read.
std::string RunningExecutable();
