#pragma once

#include <string>

// Writes the emulator list (update/emulators.json) and the packages it names into the data folder
// `dataDir`: launchers that start emulators from Debian's packages, with their default gamepad and
// keyboard configurations, and the stand-ins for the runtime packages that the installer window
// downloads (under download/, both architectures). Throws std::runtime_error when a file cannot be
// written.
void WriteDemoEmulators(const std::string& dataDir);
