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
