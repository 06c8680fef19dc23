#pragma once

#include <string>
#include <string_view>

// The process-wide paths that every part of the program reads. They are native file-system names
// (UTF-8) and every folder value ends with '/'. Start-up sets them once; the settings window sets
// the library folders again when the user picks another one. Reads and writes are safe from any
// thread (each returns or replaces a copy under one lock).
//
// Where the program writes is decided once, at start (platform::DecideProgramFolders): a portable
// folder keeps everything beside the executable, an installed program keeps it in the user's XDG
// folders. Code that writes a file of the program's own takes its folder from here (DataFolder,
// ConfigFilePath, WorkDir), never from InstancePath, which may be read-only.
struct AppPaths {
    std::string InstancePath;    // the program folder: the executable and read-only resources
    std::string DataFolder;      // database/, Emulator/, the default library; empty means InstancePath
    std::string ServersFilePath; // the servers.cfg read; empty means InstancePath + "servers.cfg"
    bool Installed = false;      // installed mode: the program folder is not the program's to write
    std::string WorkDir;         // <temp>/QuokkaAppStore/, or <cache>/quokka/ when installed
    std::string ArcadeImageDir;  // <WorkDir>cache/image/arcade/
    std::string MameImageDir;    // <WorkDir>cache/image/mame/
    std::string PcImageDir;      // <WorkDir>cache/image/pc/
    std::string ImageCacheDir;   // <WorkDir>/cache/image/ (the doubled separator is kept; file names are
                                 // appended to it unchanged)
    std::string ConfigFilePath;  // <InstancePath>quokka.cfg, or <config>/quokka/quokka.cfg when installed
    std::string RomDir;          // the RomPath setting; empty when no library folder is chosen
    std::string LocalGameDir;    // <RomDir>LocalGame/; empty when RomDir is
};

// The work folder under the temp folder `tempFolder` (ending with '/'): "QuokkaAppStore/" when it
// can be made or is already a private folder of this user (mode 0700, not a link), else a private
// "QuokkaAppStore-<uid>-XXXXXX" (see platform::PrivateFolder). It ends with '/'; empty when the temp
// folder allows no private folder at all.
std::string PrivateWorkFolder(const std::string& tempFolder);

// The paths of the program folder `instancePath` with the work folder `workDir` and the library
// folder `romDir` (each ending with '/'; `romDir` may be empty): the work folder's caches, the
// settings file beside the program and the library's LocalGame folder.
AppPaths MakeAppPaths(const std::string& instancePath, const std::string& workDir, const std::string& romDir);

// The paths of a run's decided folders (platform::ProgramFolders: program, config, data and servers
// file) with the work folder `workDir` and the library folder `romDir`, laid out as MakeAppPaths does.
AppPaths MakeAppPaths(const std::string& instancePath, const std::string& configFolder,
                      const std::string& dataFolder, const std::string& serversFile, bool installed,
                      const std::string& workDir, const std::string& romDir);

AppPaths GetAppPaths();
void SetAppPaths(const AppPaths& paths);

std::string InstancePath();
// The folder the program keeps its own data in (database/, Emulator/), ending with '/': DataFolder,
// or InstancePath when no data folder was set (the portable layout).
std::string DataFolder();
// The servers.cfg to read: ServersFilePath, or InstancePath() + "servers.cfg" when none was set.
std::string ServersFilePath();
// Whether the program runs installed: its folder is not its own to write, so it neither updates
// itself nor writes beside itself.
bool IsInstalledMode();
std::string WorkDir();
std::string ArcadeImageDir();
std::string MameImageDir();
std::string PcImageDir();
std::string ImageCacheDir();
std::string ConfigFilePath();
std::string RomDir();
std::string LocalGameDir();

// Sets RomDir from the RomPath setting (a narrow path in the process code page) and LocalGameDir
// from it; an empty setting empties both. A setting without a trailing separator is used as it is.
void SetRomDir(std::string_view ansiRomPath);

// The platform folders under LocalGameDir, in this order.
inline constexpr char PlatformDirNames[] =
    "FC,SFC,N64,WII,GBC,GBA,NDS,MD,DC,PS,PS2,PSP,WSC,ARCADE,MAME,PCE,MAMEPLUS";

// The library folder a first run proposes, in the process code page, ending with '/': installed,
// DataFolder() + "Games/"; portable, "Games/" on the drive with the most free space
// (GetLargestFreeDrive). Empty when there is none. Creates nothing.
std::string DefaultLibraryFolder();

// Creates LocalGameDir's platform folders; does nothing while LocalGameDir is empty. Errors (an
// existing folder included) are ignored.
void CreatePlatformDirs();
