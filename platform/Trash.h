#pragma once

#include <functional>
#include <string>

namespace platform {

// Moving the user's files to the desktop's trash, laid out as the desktop's file managers expect, so
// that a deletion can be undone there. A trash folder holds files/<name> (the item itself) and
// info/<name>.trashinfo:
//
//   [Trash Info]
//   Path=<the item's absolute path, every byte outside the unreserved characters and '/' as %XX>
//   DeletionDate=<local time, YYYY-MM-DDThh:mm:ss>
//
// A file goes to the home trash, $XDG_DATA_HOME/Trash (XDG_DATA_HOME when it is an absolute path,
// otherwise $HOME/.local/share), when it lies on the home trash's file system, and otherwise to
// $topdir/.Trash-<uid> at the top of its own file system; the folders are made with mode 0700 when
// missing, and a top-folder trash that is a link or belongs to another user is refused. Names are
// made unique in the trash: "name", then "stem.2.ext", "stem.3.ext", ...; the info file is created
// first and exclusively, so two deletions never share a name.
//
// The item is only ever renamed, never copied and never unlinked: whatever fails (no home, for there
// is no trash without one; a trash that cannot be made; the move itself), it stays where it was, no
// info file is left behind, and false comes back with the reason. Blocks on the file system only;
// callable from any thread.

// Moves the file, link or folder at `path` (a native, absolute path; a link goes itself, never its
// target) to the trash. Returns whether it moved; otherwise `error`, when given, receives the reason.
bool MoveToTrash(const std::string& path, std::string* error = nullptr);

// The home trash folder (without a trailing '/'), or empty when neither XDG_DATA_HOME nor HOME gives
// an absolute path.
std::string HomeTrashFolder();

// MoveToTrash with its two choices given: `homeTrash` as the home trash, and `topDirOf`, which names
// the top folder of the file system holding a path (where .Trash-<uid> is made). Tests use it to place
// a second file system's trash inside their own folders.
bool MoveToTrashWith(const std::string& path, const std::string& homeTrash,
                     const std::function<std::string(const std::string& path)>& topDirOf, std::string* error);

} // namespace platform
