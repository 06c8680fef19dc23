#pragma once

#include "ui/UiTypes.h"

#include <string>

// What start-up checks before the services run, each said to the user in a message box (the
// toolkit's, so tests answer it) instead of ending the program without a word or going on silently.

// Opens DataFolder() + "database/quokka.db" with OpenStoreForStartup and makes it the process-wide
// store, so no service ever meets an unopened store. A damaged file is moved aside and a box names
// the copy; the program goes on with an empty library, which the folder watcher fills with the local
// games again. Returns false when the database cannot be written: a box has named the folder, and
// the caller ends the program with status 1.
bool OpenGameStoreOrSay(UiLib::HWND owner);

// Why a settings file at `path` cannot be taken as it stands: empty when it is missing or sound.
// A sound file is a regular file that can be read, of at most CAppSettings::kMaxSettingsFileBytes,
// without NUL bytes, whose lines are blank, comments (';' or '#'), section headers or key=value.
std::string SettingsFileProblem(const std::string& path);

// Loads the server addresses from `path` (servers.cfg); a file that cannot be read (see
// SettingsFileProblem) is named in a box and the built-in addresses are used instead, all of them.
void LoadServerSettingsOrSay(UiLib::HWND owner, const std::string& path);

// When the settings file at `path` is damaged (see SettingsFileProblem) and holds no library folder,
// the first-run settings window is about to rewrite it: a copy is kept aside as
// "<path>.broken-<local time YYYYMMDD-HHMMSS>" first, so the identity in it can still be recovered,
// and a box names the copy. Returns the copy's path, empty when none was made.
std::string KeepDamagedSettingsAside(UiLib::HWND owner, const std::string& path);

// The box said to a second start of the program that finds its data folder (the program folder when
// portable) in use by a copy it cannot reach (a copy with another runtime folder, say).
void TellFolderInUse(UiLib::HWND owner, const std::string& folder, bool installed = false);
