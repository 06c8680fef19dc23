#pragma once

#include "store/EmulatorRecord.h"

#include <string>

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
// without its extension). A name that would leave its base folder (absolute, ".." climbing out, a
// "$" name leaving the Documents folder) is skipped with a trace.
//
// Every file copy is written to a temporary file in the target's folder, synced and renamed over the
// target, so a process killed mid-copy leaves the old file or the new one, never a cut one.
namespace emulator_config {

// Fills the control method's user folder from the defaults when it holds no byte.
void EnsureUserDirectory(const EmulatorRecord& record, int controlMethod);
// User copy -> emulator ("Configtype" "0": files; "1": .reg imports into the emulated registry,
// done before this returns, so the emulator sees them). `gamePath` gives the "~" in names (empty
// for a run without a game).
void TransferBeforeLaunch(const EmulatorRecord& record, int controlMethod, const std::string& gamePath);
// Emulator -> user copy, the mirror image ("Configtype" "1": the target keys exported to the .reg
// files of the user copy).
void TransferAfterExit(const EmulatorRecord& record, int controlMethod, const std::string& gamePath);
// Throws the control method's user copy away, so the next run starts from the defaults. Control
// methods other than 1 and 2 remove nothing.
void RestoreDefaults(const EmulatorRecord& record, int controlMethod);
// Gamepad runs: the attached pads into the emulator's own file (the first KeyConfig target) for the
// FC ("1250001"), N64 ("1300001") and MD ("1220001") emulators; others are left alone. `gamePath`
// gives the "~" of the target's name, as in the transfers.
void WriteControllers(const EmulatorRecord& record);
void WriteControllers(const EmulatorRecord& record, const std::string& gamePath);

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
