#pragma once

#include "store/EmulatorRecord.h"

#include <optional>
#include <string>

// What the settings window does to the file system and the process list, apart from the window so
// that each step can be tested on its own. Paths are native (UTF-8) unless said otherwise.

// The library folder the user picked, made ready: a '/' added when it is missing, "Games/" appended
// to a drive root (a mount point, "/" or the home folder), and the folder created. Nullopt when the
// folder cannot be created or a file cannot be written in it: the window then keeps the folder it
// had, because downloads would fail under a folder shown as chosen.
std::optional<std::string> PrepareLibraryFolder(const std::string& picked);

// Whether `folder` (ending with '/') is a drive root: "/", the home folder, or a mount point (its
// device differs from its parent's).
bool IsDriveRoot(const std::string& folder);

// Whether a file can be created (and removed again) in `folder`.
bool IsWritableFolder(const std::string& folder);

// The autostart entry that starts the program at log-in: $XDG_CONFIG_HOME/autostart/QuokkaApp.desktop
// ($XDG_CONFIG_HOME defaults to ~/.config).
std::string AutostartEntryPath();

// The text of that entry for the executable `exePath`: Type=Application, Name=Quokka模拟器, the
// path as the one quoted argument of Exec (quoted and escaped by the desktop entry rules, so spaces,
// '$', '%', quotes and backslashes survive), Terminal=false.
std::string AutostartEntryText(const std::string& exePath);

// Writes the entry for the running executable (temporary file, then rename) when `enabled`, else
// removes it. Failures are not reported: they leave the entry as it was.
void ApplyAutostart(bool enabled);

// Whether some process runs the emulator's first Execute entry: a process whose executable's file
// name equals that entry's file name, a "#!" script run through /bin/sh whose script has that
// name, or a process working in the emulator's folder (a launcher that replaced itself with the
// emulator it starts leaves no process of its own name). False for a record without Execute
// entries.
bool IsEmulatorRunning(const EmulatorRecord& record);

// The same test for one executable file name.
bool IsProgramRunning(const std::string& fileName);

// Whether a process other than this one works in `folder` or a folder below it.
bool IsProcessInFolder(const std::string& folder);
