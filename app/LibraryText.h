#pragma once

#include "ui/DuiString.h"

#include <string>

// Library texts (names, sizes, paths) are kept byte for byte as they were found, so some are not
// valid in the process code page. For the screen: the text converted where it can be, each byte
// that cannot shown as U+FFFD.
UiLib::CDuiString DisplayText(const std::string& ansi);

// A record's path as a native file-system name: converted from the process code page, or the bytes
// as they are when they are not valid in it (the folder watcher stores such names unchanged).
std::string NativeOf(const std::string& ansiPath);
