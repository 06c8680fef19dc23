#pragma once

#include "emulator/EmulatorInstaller.h"

#include <string>

// The emulator installer the application gives the emulator manager: the installer window in
// emulator mode (kind 7), which fetches the record's Downloadurl as it stands into the work folder's
// "Emulator.zip" and unpacks it into the record's emulator directory.
class CEmulatorPopInstaller : public IEmulatorInstaller {
public:
    // The window is modal over `owner`; the dialog frame centres every dialog on its owner, so
    // `centred` changes nothing. Returns true only when the window reached its finished state.
    bool InstallEmulator(const EmulatorRecord& record, platform::HWND owner, bool centred) override;

    // The folder a record unpacks into: EmulatorManager::EmulatorDirectory with a trailing '/'. False
    // when the record has no folder there (a Name that could leave the platform's folder, one that
    // is not valid in the process code page).
    static bool EmulatorFolder(const EmulatorRecord& record, std::string& folder);
};
