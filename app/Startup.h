#pragma once

#include <string>

// The name of the single-instance lock and socket.
inline constexpr char kInstanceName[] = "quokkaapp";

// The main window's title.
inline constexpr char kMainWindowTitle[] = "Quokka模拟器";

// The exit status of a run that ended because its display went away (the X server ended, the
// session logged out). The services were shut down in their usual order first; stderr has a line
// saying so. Every other run ends with the statuses QuokkaMain documents.
inline constexpr int kDisplayLostExitCode = 3;

// Lays out the working folders and the process-wide paths: InstancePath is the program folder,
// WorkDir "QuokkaAppStore/" under the temp folder, the three image folders and ImageCacheDir under
// it (all created), ConfigFilePath; then reads RomPath from the settings file into RomDir and
// LocalGameDir and, when it is set, creates the platform folders. Both arguments end with '/'.
void PrepareAppPaths(const std::string& instancePath, const std::string& tempFolder);

// Takes the process's locale from the environment (the code page of its texts, among others),
// except for numbers: they keep the "C" conventions, so "%.2f" always writes "1.50" and what the
// program formats for files and servers reads back the same everywhere.
void PrepareLocale();

// The whole life of the program: single instance, per user and per program folder (a second start
// asks the first to show its window and returns 0; one that cannot reach a copy running on the same
// program folder says so in a box and returns 0), network set-up (-1 when it fails), paths and
// settings, the database (1 after a box when the program folder cannot be written), the main loop,
// shutdown. SIGTERM, SIGINT and SIGHUP end the main loop, and any modal dialog open above it, and the
// program shuts down normally (0). A lost display ends the process with kDisplayLostExitCode after
// the same shutdown of the services.
int QuokkaMain();
