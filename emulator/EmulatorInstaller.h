#pragma once

#include "platform/WindowMessages.h"
#include "store/EmulatorRecord.h"

// How the emulator manager has an emulator package downloaded and unpacked without knowing the
// window that does it. The application installs an implementation that runs the installer window in
// emulator mode; tests install their own.
class IEmulatorInstaller {
public:
    virtual ~IEmulatorInstaller() = default;

    // Downloads `record`'s Downloadurl and unpacks it into the record's emulator directory
    // (EmulatorManager::EmulatorDirectory), in a modal window over `owner`, centred on it when
    // `centred`. Blocks until the window has closed; called on the UI thread. Returns true only when
    // the package was fully downloaded and unpacked; false when it failed or the user closed or
    // cancelled the window.
    virtual bool InstallEmulator(const EmulatorRecord& record, platform::HWND owner, bool centred) = 0;
};
