#pragma once

#include <string>

// Deleting a game's files from the library. The library holds paths that came from the database,
// the folder watcher and drops, so nothing here trusts them: only what lies strictly inside the
// library folder, or is a game's own folder or file under an earlier one, is deleted, a symbolic
// link is never followed, and everything that is refused is traced and left on disk. Paths are native
// file-system names; a folder value ends with '/'.
//
// A local game's file is the user's own, so it goes to the desktop's trash (platform::MoveToTrash),
// from where a wrong click can be undone; it is never unlinked. A downloaded game's folder is the
// program's own download and is deleted.

// Moves a local game's file at `path` to the trash when it lies strictly inside `romDir` (its folders
// resolved, its own last component not followed; a link goes itself). A folder at that path is not
// touched. Returns whether the file went. When it was to go but could not be moved to the trash, it
// stays where it is and `trashError`, when given, receives the reason; it stays empty otherwise.
bool DeleteLocalGameFile(const std::string& path, const std::string& romDir,
                         std::string* trashError = nullptr);

// Deletes a downloaded game's folder `folder` (with everything in it) when it is a game's folder
// below a platform folder of `romDir`: at least two levels inside `romDir`, and not inside
// `localGameDir` (the local games' platform folders). A link at `folder` is removed itself.
// Returns whether something was removed.
bool DeleteDownloadedGameFolder(const std::string& folder, const std::string& romDir,
                                const std::string& localGameDir);

// Deletes the folder `folder` of the downloaded game `gameId` of platform `platform` (the row's
// EmulatorShortName). Inside `romDir` the rule of DeleteDownloadedGameFolder applies. Elsewhere the
// game was installed under an earlier library folder, and the folder goes only when it is where the
// download engine puts that game, <library folder>/<platform>/<gameId>/, as stored and once its
// folders are resolved: a known platform, no "." or "..", not a link, not below a "LocalGame" folder,
// neither inside nor above `romDir` or `localGameDir`. Returns whether something was removed.
bool DeleteDownloadedGame(const std::string& folder, const std::string& gameId, const std::string& platform,
                          const std::string& romDir, const std::string& localGameDir);

// Deletes the local game file `path` of platform `platform` (the row's EmulatorShortName). Inside
// `romDir` the rule of DeleteLocalGameFile applies. Elsewhere the file was found under an earlier
// library folder's local games, or was dropped from wherever the user keeps it, and it goes only when
// it is where the folder watcher finds that platform's games, <library folder>/LocalGame/<platform>/<file>,
// as stored and once its folders are resolved: a platform folder the watcher scans, a name with one
// of the platform's extensions, no "." or "..", a regular file (not a link), neither inside nor
// above `romDir` or `localGameDir`. The file goes to the trash, with `trashError` as in
// DeleteLocalGameFile. Returns whether it went.
bool DeleteLocalGame(const std::string& path, const std::string& platform, const std::string& romDir,
                     const std::string& localGameDir, std::string* trashError = nullptr);

// The folder of a downloaded game's FilePath: the text up to and including its last separator.
std::string DownloadedGameFolder(const std::string& filePath);
