#pragma once

#include <string>
#include <vector>

namespace platform {
class Registry;
}

// Whether the runtime libraries that emulators need are present, read from the emulated registry
// and its system folder. Each check reads the registry file once and never changes anything; a
// registry that cannot be read counts as one without entries. Safe from any thread.

// One program entry under HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall.
// Each text is UTF-16, cut at 1024 characters; a missing value is empty.
struct UninstallEntry {
    std::u16string DisplayIcon;
    std::u16string DisplayName;
    std::u16string DisplayVersion;
    std::u16string InstallLocation;
    std::u16string Publisher;
};

// The entries of every subkey of the uninstall key, in the registry's order of subkeys (by name
// without case). Empty when the key is missing or the registry cannot be read.
std::vector<UninstallEntry> ReadUninstallEntries(const platform::Registry& registry);

// True when some entry's DisplayName contains every one of `parts` (case-sensitive substrings).
bool HasUninstallEntry(const platform::Registry& registry, const std::vector<std::u16string>& parts);

// The six checks, on the registry of the current user (platform::WindowsFolder) and its system
// folder. The Visual C++ checks look for "Microsoft Visual C++ <year>" with "Redistributable" (2005,
// 2008, 2010) or "Additional Runtime" (2012); the controller driver for "Microsoft Xbox 360
// Accessories"; DirectX for all twenty files d3dx9_24.dll to d3dx9_43.dll in the system folder.
bool IsVc2005Installed();
bool IsVc2008Installed();
bool IsVc2010Installed();
bool IsVc2012Installed();
bool IsXinputInstalled();
bool IsDirectX9cInstalled();

// The same checks on a given registry or system folder (a folder ending with '/'). The DirectX check
// compares the ".dll" file names of the folder without regard to case.
bool IsVc2005Installed(const platform::Registry& registry);
bool IsVc2008Installed(const platform::Registry& registry);
bool IsVc2010Installed(const platform::Registry& registry);
bool IsVc2012Installed(const platform::Registry& registry);
bool IsXinputInstalled(const platform::Registry& registry);
bool IsDirectX9cInstalled(const std::string& systemFolder);

// All six checks at once, reading the registry file a single time.
struct RuntimeStates {
    bool vc2005 = false;
    bool vc2008 = false;
    bool vc2010 = false;
    bool vc2012 = false;
    bool directX9c = false;
    bool xinput = false;
};
RuntimeStates ReadRuntimeStates(const platform::Registry& registry, const std::string& systemFolder);
// The same on the registry of the current user and its system folder.
RuntimeStates ReadRuntimeStates();
