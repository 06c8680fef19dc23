#pragma once

#include <string>
#include <vector>

// The remembered library folders: a short text file of the program's own beside the database, naming
// the library folders that unfinished downloads lie in, one a line, so that a task begun under an
// earlier library folder is taken back after a restart. Nothing read from the file is trusted: it is
// read only when it is a small regular file, and each line only as a plain absolute folder.
namespace libraryfolders {

// The file's name inside the database folder.
inline constexpr char kRootsFileName[] = "library-folders.lst";

// Whether `folder` (ending with '/') lies strictly inside `root` (ending with '/').
bool InsideRoot(const std::string& root, const std::string& folder);

// A library folder as the remembered list may hold it: absolute, below the file-system root, with
// no "." or ".." component and no control character (a line break would split it in two lines).
// Returns it ending with '/', or empty when `text` is no such folder.
std::string CheckedRoot(const std::string& text);

// The remembered library folders, in the file's order (a native path; empty reads none). A missing,
// oversized or damaged file gives none; a line that is not a plain absolute folder is skipped, and so
// is every one beyond the bound.
std::vector<std::string> ReadRememberedRoots(const std::string& path);

// The file's text remembering `roots`: a folder the list could not give back as it is (a line break
// in its name) is left out, and so is every one beyond the bound.
std::string RememberedRootsText(const std::vector<std::string>& roots);

// Whether the two lists hold the same folders, in any order.
bool SameRoots(std::vector<std::string> a, std::vector<std::string> b);

} // namespace libraryfolders
