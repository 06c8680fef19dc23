#pragma once

#include <string>

// The name of the single-instance lock and socket.
inline constexpr char kInstanceName[] = "quokkaapp";

// The main window's title.
inline constexpr char kMainWindowTitle[] = "Quokka模拟器";

// Lays out the working folders and the process-wide paths: InstancePath is the program folder,
// WorkDir "QuokkaAppStore/" under the temp folder, the three image folders and ImageCacheDir under
// it (all created), ConfigFilePath; then reads RomPath from the settings file into RomDir and
// LocalGameDir and, when it is set, creates the platform folders. Both arguments end with '/'.
void PrepareAppPaths(const std::string& instancePath, const std::string& tempFolder);

// The whole life of the program: single instance (a second start asks the first to show its window
// and returns 0), network set-up (-1 when it fails), paths and settings, the main loop, shutdown.
int QuokkaMain();
