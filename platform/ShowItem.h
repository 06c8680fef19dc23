#pragma once

#include "platform/Process.h"

#include <string>

namespace platform {

// Shows a file in the desktop's file manager, selected where the file manager can do that: the
// file manager's ShowItems call on the session bus (org.freedesktop.FileManager1, through
// dbus-send) when a session bus and dbus-send are there and the call succeeds; otherwise xdg-open
// on the folder that holds the file. Both run in one helper process, so the caller never waits
// for the bus or the file manager.
//
// `path` is a native file-system name; a path ending with '/' names a folder, which is then shown
// itself. Returns the helper's handle (callers may drop it; tests wait on it), or an empty handle
// when `path` is empty or relative, or nothing could be started.
ProcessHandle ShowItem(const std::string& path);

// The file URI of an absolute native path: "file://" and the path with every byte outside the
// unreserved characters and '/' written as %XX (so a comma never splits a dbus-send array).
std::string FileUri(const std::string& path);

// One argument quoted so that SplitCommandLine gives it back unchanged.
std::string QuoteCommandLineArgument(const std::string& argument);

} // namespace platform
