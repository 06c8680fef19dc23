#include "foundation/AppPaths.h"

#include "foundation/FileSystem.h"
#include "foundation/StringConv.h"
#include "foundation/StringHelpers.h"
#include "platform/Paths.h"

#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <unistd.h>

namespace {

std::mutex& PathsMutex()
{
    static std::mutex mutex;
    return mutex;
}

AppPaths& Paths()
{
    static AppPaths paths;
    return paths;
}

template <std::string AppPaths::*Member> std::string Read()
{
    std::lock_guard lock(PathsMutex());
    return Paths().*Member;
}

} // namespace

std::string PrivateWorkFolder(const std::string& tempFolder)
{
    return platform::PrivateFolder(tempFolder, "QuokkaAppStore",
                                   "QuokkaAppStore-" + std::to_string(::geteuid()) + "-");
}

AppPaths GetAppPaths()
{
    std::lock_guard lock(PathsMutex());
    return Paths();
}

void SetAppPaths(const AppPaths& paths)
{
    std::lock_guard lock(PathsMutex());
    Paths() = paths;
}

std::string InstancePath()
{
    return Read<&AppPaths::InstancePath>();
}
std::string DataFolder()
{
    std::lock_guard lock(PathsMutex());
    return Paths().DataFolder.empty() ? Paths().InstancePath : Paths().DataFolder;
}
std::string ServersFilePath()
{
    std::lock_guard lock(PathsMutex());
    return Paths().ServersFilePath.empty() ? Paths().InstancePath + "servers.cfg" : Paths().ServersFilePath;
}
bool IsInstalledMode()
{
    std::lock_guard lock(PathsMutex());
    return Paths().Installed;
}
std::string WorkDir()
{
    return Read<&AppPaths::WorkDir>();
}
std::string ArcadeImageDir()
{
    return Read<&AppPaths::ArcadeImageDir>();
}
std::string MameImageDir()
{
    return Read<&AppPaths::MameImageDir>();
}
std::string PcImageDir()
{
    return Read<&AppPaths::PcImageDir>();
}
std::string ImageCacheDir()
{
    return Read<&AppPaths::ImageCacheDir>();
}
std::string ConfigFilePath()
{
    return Read<&AppPaths::ConfigFilePath>();
}
std::string RomDir()
{
    return Read<&AppPaths::RomDir>();
}
std::string LocalGameDir()
{
    return Read<&AppPaths::LocalGameDir>();
}

AppPaths MakeAppPaths(const std::string& instancePath, const std::string& workDir, const std::string& romDir)
{
    return MakeAppPaths(instancePath, instancePath, instancePath, instancePath + "servers.cfg", false,
                        workDir, romDir);
}

AppPaths MakeAppPaths(const std::string& instancePath, const std::string& configFolder,
                      const std::string& dataFolder, const std::string& serversFile, bool installed,
                      const std::string& workDir, const std::string& romDir)
{
    AppPaths paths;
    paths.InstancePath = instancePath;
    paths.DataFolder = dataFolder;
    paths.ServersFilePath = serversFile;
    paths.Installed = installed;
    paths.WorkDir = workDir;
    paths.ArcadeImageDir = workDir + "cache/image/arcade/";
    paths.MameImageDir = workDir + "cache/image/mame/";
    paths.PcImageDir = workDir + "cache/image/pc/";
    paths.ImageCacheDir = workDir + "/cache/image/";
    paths.ConfigFilePath = configFolder + "quokka.cfg";
    paths.RomDir = romDir;
    paths.LocalGameDir = romDir.empty() ? std::string() : romDir + "LocalGame/";
    return paths;
}

void SetRomDir(std::string_view ansiRomPath)
{
    std::string romDir;
    try {
        romDir = AnsiToUtf8(ansiRomPath);
    } catch (const std::runtime_error&) {
        romDir = std::string(ansiRomPath); // not valid in the code page: take the bytes as the name
    }
    std::lock_guard lock(PathsMutex());
    Paths().RomDir = romDir;
    Paths().LocalGameDir = romDir.empty() ? std::string() : romDir + "LocalGame/";
}

std::string DefaultLibraryFolder()
{
    if (!IsInstalledMode()) {
        const std::string drive = GetLargestFreeDrive();
        return drive.empty() ? drive : drive + "Games/";
    }
    try {
        return Utf8ToOem(DataFolder() + "Games/");
    } catch (const std::runtime_error&) {
        return {}; // a data folder the code page cannot name: the user picks one
    }
}

void CreatePlatformDirs()
{
    std::string localGameDir = LocalGameDir();
    if (localGameDir.empty())
        return;
    // Each folder is made with all its missing parents, like a shell's "create directory tree".
    for (const std::string& name : SplitString(PlatformDirNames, ",")) {
        std::error_code ignored;
        std::filesystem::create_directories(localGameDir + name + "/", ignored);
    }
}
