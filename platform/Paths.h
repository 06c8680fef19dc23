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

// Per-user folder for sockets and locks: $XDG_RUNTIME_DIR, else /tmp/quokka-<uid>/ (created 0700).
std::string RuntimeFolder();

// Finds `name` inside `folder` ignoring ASCII letter case, for file names the program builds (a
// game id with an extension, say). Returns the full path of the existing entry, the exact name
// first; nullopt when nothing matches.
std::optional<std::string> FindNoCase(const std::string& folder, const std::string& name);

// Case-insensitive existence test on a full path: only the last component's case is ignored.
bool ExistsNoCase(const std::string& path);

} // namespace platform
