#pragma once

#include <optional>
#include <string>

namespace platform {

// Paths here are native file-system names (UTF-8 bytes). Every folder value ends with '/'.

// The folder that holds the running executable (from /proc/self/exe).
std::string ProgramFolder();

// $TMPDIR when set and not empty, else /tmp; always with a trailing separator.
std::string TempFolder();

// The user's Documents folder: XDG_DOCUMENTS_DIR from the user-dirs file, else ~/Documents.
std::string DocumentsFolder();

// The user's home folder ($HOME, else the password database).
std::string HomeFolder();

// The XDG base folders: the variable's value when it is an absolute path, else the default under the
// home folder (~/.config/, ~/.local/share/, ~/.cache/). Relative or empty values are ignored, as the
// XDG rules say.
std::string XdgConfigHome();
std::string XdgDataHome();
std::string XdgCacheHome();

// How a run keeps its files.
//   Portable: the program's own folder can be written; settings, database, emulators and the
//   default library live beside the executable, working files in the temp folder, as they always
//   have. A "portable" marker file there changes nothing.
//   Installed: the program's folder cannot be written (a package under /usr or /opt) and holds no
//   marker; everything the program writes goes to the user's XDG folders.
//   Refused: the folder holds a "portable" marker but cannot be written; the program must say so
//   and end without writing anywhere.
enum class FolderMode { Portable, Installed, Refused };

// What the folders are decided from, so that the decision can be made for any environment without
// touching the real home.
struct FolderEnvironment {
    std::string configHome; // XdgConfigHome()
    std::string dataHome;   // XdgDataHome()
    std::string cacheHome;  // XdgCacheHome()
    std::string tempFolder; // TempFolder()
    std::string systemConfigFolder = "/etc/quokka/";
    bool programFolderWritable = false;
};

// The environment of this process for the program folder `programFolder`. The folder counts as
// writable when this user may create files in it. QUOKKA_TEST_READONLY_PROGRAM_FOLDER, when set and
// not empty, makes it count as not writable whatever its permissions: root may write everywhere, so
// tests of the installed mode cannot rely on a folder's mode.
FolderEnvironment CurrentFolderEnvironment(const std::string& programFolder);

// Every folder a run uses; each ends with '/'.
struct ProgramFolders {
    FolderMode mode = FolderMode::Portable;
    std::string programFolder; // the executable, its helper programs and read-only resources (res/...)
    std::string configFolder;  // quokka.cfg
    std::string dataFolder;    // database/, Emulator/, the default library Games/, the instance lock
    std::string workFolder;    // working files and caches: wanted as a private folder of this user
    std::string serversFile;   // the servers.cfg to read (it need not exist)
};

// The folders for the executable's folder `programFolder` (ending with '/') in `environment`.
// Portable: config and data folders are the program folder, the work folder
// <temp>QuokkaAppStore/, servers.cfg beside the program. Installed: <config>quokka/,
// <data>quokka/, <cache>quokka/, and servers.cfg beside the program when one is there, else
// <systemConfigFolder>servers.cfg. Refused: only programFolder is filled. Reads whether the marker
// and servers.cfg exist; creates nothing.
ProgramFolders DecideProgramFolders(const std::string& programFolder, const FolderEnvironment& environment);

// The name of the marker file that keeps a folder portable.
inline constexpr char kPortableMarker[] = "portable";

// Per-user folder for sockets and locks: $XDG_RUNTIME_DIR when it is a private folder of this user,
// else PrivateFolder("/tmp/", "quokka-<uid>", "quokka-<uid>-"). Empty when none can be made.
std::string RuntimeFolder();

// Whether `path` is a real folder (not a link) owned by this user that no one else may enter.
bool IsPrivateFolder(const std::string& path);

// A folder that only this user can reach, inside `parent` (a folder ending with '/'):
// `parent + name + "/"`, made now with mode 0700 or already there as a private folder (see
// IsPrivateFolder). When that name is taken by something else (another user's folder, a link, a
// folder others may enter) the first private folder named `fallbackPrefix` + six characters in
// `parent` is used, or a new one is made with mkdtemp; the fallback is traced. Later calls with the
// same arguments find the same folder as long as it stays private. Empty when none can be made.
std::string PrivateFolder(const std::string& parent, const std::string& name,
                          const std::string& fallbackPrefix);

// Finds `name` inside `folder` ignoring ASCII letter case, for file names the program builds (a
// game id with an extension, say). Returns the full path of the existing entry, the exact name
// first; nullopt when nothing matches.
std::optional<std::string> FindNoCase(const std::string& folder, const std::string& name);

// Case-insensitive existence test on a full path: only the last component's case is ignored.
bool ExistsNoCase(const std::string& path);

} // namespace platform
