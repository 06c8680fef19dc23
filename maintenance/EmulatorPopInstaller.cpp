#include "maintenance/EmulatorPopInstaller.h"

#include "emulator/PlatformTable.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "maintenance/DownLoadPopFrame.h"
#include "platform/Trace.h"

#include <exception>

bool CEmulatorPopInstaller::EmulatorFolder(const EmulatorRecord& record, std::string& folder)
{
    const std::string& name = record.Name;
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos)
        return false;
    try {
        folder = InstancePath() + "Emulator/" + std::string(TypeIdToShortName(record.Emulatortype)) + "/" +
                 NativePath(name) + "/";
    } catch (const std::exception&) {
        return false;
    }
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
