#pragma once

#include <string>

// Deleting a game's files from the library. The library holds paths that came from the database,
// the folder watcher and drops, so nothing here trusts them: only what lies strictly inside the
// library folder is deleted, a symbolic link is removed itself and never what it points to, and
// everything that is refused is traced and left on disk. Paths are native file-system names; a
// folder value ends with '/'.

// Deletes a local game's file at `path` when it lies strictly inside `romDir` (its folders
// resolved, its own last component not followed). A folder at that path is not deleted. Returns
// whether something was removed.
bool DeleteLocalGameFile(const std::string& path, const std::string& romDir);

// Deletes a downloaded game's folder `folder` (with everything in it) when it is a game's folder
// below a platform folder of `romDir`: at least two levels inside `romDir`, and not inside
// `localGameDir` (the local games' platform folders). A link at `folder` is removed itself.
// Returns whether something was removed.
bool DeleteDownloadedGameFolder(const std::string& folder, const std::string& romDir,
                                const std::string& localGameDir);

// The folder of a downloaded game's FilePath: the text up to and including its last separator.
std::string DownloadedGameFolder(const std::string& filePath);
