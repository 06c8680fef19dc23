#include "maintenance/EmulatorPopInstaller.h"

#include "emulator/EmulatorManager.h"
#include "maintenance/DownLoadPopFrame.h"
#include "platform/Trace.h"

bool CEmulatorPopInstaller::EmulatorFolder(const EmulatorRecord& record, std::string& folder)
{
    // The manager's folder, so what is unpacked is what launching, configuring and uninstalling use.
    const std::string directory = EmulatorManager::EmulatorDirectory(record);
    if (directory.empty())
        return false;
    folder = directory + "/";
    return true;
}

bool CEmulatorPopInstaller::InstallEmulator(const EmulatorRecord& record, platform::HWND owner, bool)
{
    PopEmulator emulator{record.Name, record.Version, record.Downloadurl, {}};
    if (!EmulatorFolder(record, emulator.folder)) {
        platform::TraceF("emulator %s not installed: unusable name", record.EmulatorId.c_str());
        return false;
    }
    CDownLoadPopFrame window(emulator);
    window.DoModal(owner, CDownLoadPopFrame::kTitle);
    return window.Finished();
}
