#pragma once

#include "store/LocalGameRecord.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

class CGameStore;
class CLocalLibrary;

namespace platform {
struct WindowHandle;
}

// Where the import finds the arcade names and icons: the program's resource folder and the two
// arcade image caches (native paths ending with '/').
struct LocalGameResources {
    std::string InstancePath;   // holds LocalGameRes/gamelist/arcade_ch.ini and LocalGameRes/icon/arcade.zip
    std::string MameImageDir;   // icons of MAME and MAMEPLUS games
    std::string ArcadeImageDir; // icons of ARCADE games

    // The process-wide paths as they are now.
    static LocalGameResources FromAppPaths();
};

// Whether the file name ends with one of the comma-separated extensions, compared without regard to
// ASCII letter case: ".ds.gba" matches "x.ds.gba", ".BIN" matches "game.Bin". An empty list matches
// nothing.
bool MatchesExtensionList(std::string_view fileName, std::string_view extensionList);

// A native name (UTF-8 bytes) as a text of the process code page. A name the code page cannot hold,
// or one that is not valid UTF-8, is kept byte for byte, so the file can still be found by it.
std::string NativeNameToAnsi(const std::string& native);
// The same for callers that looked the code page up once for many names: `utf8CodePage` tells
// whether the process code page is UTF-8.
std::string NativeNameToAnsi(const std::string& native, bool utf8CodePage);
// Whether the process code page is UTF-8 (names then stay as they are).
bool ProcessCodePageIsUtf8();

// The file name without its folder and without its last extension ("a/b.ds.gba" gives "b.ds").
std::string DisplayNameOf(std::string_view path);

// Makes the LocalGame row of the game file at `nativePath` for a platform of the table:
// GameName is the display name (for MAME, ARCADE and MAMEPLUS the "games" entry of arcade_ch.ini
// when there is a non-empty one, read as UTF-8); Icon is, for those three, the cached icon named
// after the game (".ico", ".png", ".jpg" in that order), extracted from arcade.zip into the cache
// when missing there, else empty; Size is megabytes, "%.2f"; FilePath and FileName are the path and
// its last component. Every other platform, PC included, has no icon. Returns nothing when the path
// is not a regular file (a link counts as what it points to) or the platform is not in the table.
std::optional<LocalGameRecord> MakeLocalGameRow(const std::string& nativePath, int platformTypeId,
                                                const LocalGameResources& resources);

// Walks a folder tree depth first, entries of each folder in byte order of their names, so that one
// tree always gives the same order. Links to folders are followed, but a folder already met in this
// walk (the same device and inode) is not entered again, so link loops end. A folder that cannot be
// read is traced once per walker and skipped. Blocks until the walk ends or `stop` returns true.
class CFolderWalker {
public:
    struct Callbacks {
        // A folder about to be entered (the root included); return false to skip it and its contents.
        std::function<bool(const std::string& folder)> onFolder;
        // An entry that is not a folder (nor a link to one): its full path and its name.
        std::function<void(const std::string& path, const std::string& name)> onFile;
        // Polled between entries; true ends the walk.
        std::function<bool()> stop;
    };

    explicit CFolderWalker(Callbacks callbacks);
    // Walks `root` (a folder path without trailing '/'); false when it could not be opened.
    bool Walk(const std::string& root);
    // Forgets the folders met, so the next Walk enters them again (reported unreadable ones stay
    // reported).
    void Reset();

private:
    void WalkFolder(const std::string& folder, int depth);

    Callbacks m_callbacks;
    std::set<std::pair<unsigned long, unsigned long>> m_seen; // device, inode
    std::set<std::string> m_reportedUnreadable;
};

// Adds a game to the library and tells the window: the row goes into the set and, when the set did
// not hold its path yet, into the store's LocalGame table (an asynchronous insert the store owns)
// and, as an owned copy, to `window` as WM_LOCAL_GAME_ADDED. Returns whether it was new.
bool AddImportedGame(const LocalGameRecord& row, CLocalLibrary& library, CGameStore& store,
                     platform::WindowHandle* window);
