#pragma once

#include <string>
#include <string_view>

// File-system helpers over narrow paths in the process code page. Separators are '/'; a doubled
// separator stands for one.

// The native (UTF-8) form of a narrow path. Throws like AnsiToUtf8 on text invalid in the code page.
std::string NativePath(std::string_view ansiPath);

// The path with every run of separators reduced to one ("a//b///c" gives "a/b/c").
std::string CollapseSeparators(std::string_view path);

// Joins `relative` (a path named by a server, a package or a configuration) to `base` (a folder
// ending with '/'). Both '/' and '\\' separate; doubled separators collapse. False, with `joined`
// untouched, when `relative` is empty, absolute ('/', '\\', a drive "C:"), holds a ".." component or a
// NUL, or would otherwise leave `base`. "." components are dropped, separators in the result are '/',
// and a trailing separator of `relative` is kept (a folder stays a folder).
bool JoinInsideFolder(const std::string& base, const std::string& relative, std::string& joined);

// A free name beside `path` to keep a damaged file under: "<path>.broken-<local time>" (the time as
// YYYYmmdd-HHMMSS), with "-2", "-3", ... added while that name is taken.
std::string BrokenFileName(const std::string& path);

// Whether a file, folder or link exists at the path. Invalid text gives false.
bool PathExists(std::string_view ansiPath);

// Creates every missing folder of the path's directory part, one level at a time; a trailing file
// name is ignored, so a path ending with '/' creates its last folder too. Errors are ignored.
void EnsureDirectoryTree(std::string_view ansiPath);

// The writable place with the most free space available to the user, as a folder ending with '/'
// in the process code page. The home folder stands for the root file system; other candidates are
// the writable mount points of real file systems, looked at in path order (the first of equal
// values wins). Empty when none can be measured.
//
// QUOKKA_TEST_LARGEST_DRIVE, when set to a folder, is the answer instead (with a trailing '/'): tests
// of the first run point it at a temporary folder, so the library folder that run makes never lands
// on the machine's real drives.
std::string GetLargestFreeDrive();
