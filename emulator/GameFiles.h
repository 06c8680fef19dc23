#pragma once

#include "platform/Event.h"
#include "store/GameinfoRecord.h"

#include <string>
#include <vector>

// Where a downloaded game's file is in its folder, and how its path is handed to an emulator. Names
// are looked up ignoring letter case; a game id or file name that is not one name inside the game's
// folder finds nothing. Paths are native (UTF-8).

// The game's file by its platform: disc-image platforms (PS, PSP, DC, WII, PS2) the game id with
// each extension of the platform, else the only file of an extension anywhere below the folder;
// cartridge platforms the game id with each extension; arcade platforms (MAME, ARCADE, MAMEPLUS) the
// row's file name; PC the folder itself, untested. Empty when not found and for other platforms.
std::string LocateDownloadedGame(const GameinfoRecord& row, int typeId);

// The discs of a multi-disc game on a disc-image platform: for "_A" to "_D" in order, the game id
// with the suffix and the first extension that exists. A missing suffix adds nothing, so the
// positions match the suffixes only when none is missing.
std::vector<std::string> CollectDiscs(const GameinfoRecord& row, int typeId);

// The path in double quotes, written so that platform::SplitCommandLine gives it back as one
// argument: quotes inside it are escaped, backslashes before a quote doubled.
std::string QuoteGamePath(const std::string& path);

// An emulator's parameter text from its template and the game's path: an empty template gives the
// quoted path; the first "~" becomes the game's name (its file name without the last extension);
// otherwise the first "@" becomes the path; otherwise the quoted path follows the template. The name
// or path is written so that platform::SplitCommandLine gives the argument it stands in as the
// template means it, holding the name or path whole: quoted where the template has it outside
// quotes, escaped where the template has it inside a quoted part.
std::string BuildLaunchParameters(const std::string& executeParam, const std::string& gamePath);

// Whether the game file's name begins with "-", so that an emulator given it (or its name for "~")
// would read it as an option of its own. Such games are not started.
bool StartsLikeAnOption(const std::string& gamePath);

// Copies the game file into the folder `roms` (made when missing) under its own name, for the
// emulators that look for their games there. A file already there stays. The copy is written in
// chunks under a name of its own and linked into place only when whole, so a copy cut short never
// takes the name. Looks at `stop` between chunks: once it is set, the copy ends within a chunk, and
// what was written for it is removed. True when the game is in `roms` afterwards.
bool CopyGameIntoRoms(const std::string& gamePath, const std::string& roms, const platform::Event& stop);
