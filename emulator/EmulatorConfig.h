#pragma once

#include "store/EmulatorRecord.h"

#include <string>

// Moving an emulator's configuration in and out around a run. The program keeps one user copy of
// the emulator's configuration per control method (1 gamepad: "UserGamePadCfg", 2 keyboard:
// "UserKeyBoardCfg", inside the emulator's folder), made from the package's defaults ("GamePadCfg",
// "KeyBoardCfg") on first use. Before a run the user copy is put where the emulator reads it; after
// the run the emulator's files are taken back. Every step is best effort: what cannot be copied is
// skipped, the run goes on.
namespace emulator_config {

// Fills the control method's user folder from the defaults when it holds no byte.
void EnsureUserDirectory(const EmulatorRecord& record, int controlMethod);
// User copy -> emulator ("Configtype" "0": files; "1": .reg imports into the emulated registry).
// `gamePath` gives the "~" in names (empty for a run without a game).
void TransferBeforeLaunch(const EmulatorRecord& record, int controlMethod, const std::string& gamePath);
// Emulator -> user copy, the mirror image.
void TransferAfterExit(const EmulatorRecord& record, int controlMethod, const std::string& gamePath);
// Throws the control method's user copy away, so the next run starts from the defaults.
void RestoreDefaults(const EmulatorRecord& record, int controlMethod);
// Gamepad runs: the attached pads into the emulator's own file (the first KeyConfig target) for the
// FC ("1250001"), N64 ("1300001") and MD ("1220001") emulators; others are left alone.
void WriteControllers(const EmulatorRecord& record);

} // namespace emulator_config
