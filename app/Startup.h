#pragma once

#include "platform/Paths.h"

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

// The same for a run's decided folders (portable or installed; see platform::DecideProgramFolders):
// installed, the config and data folders and the work folder's parent are created first, and the
// work folder is a private "quokka/" in the cache folder.
void PrepareAppPaths(const platform::ProgramFolders& folders);

// The line written to stderr when the program folder holds a "portable" marker but cannot be
// written; the program then ends with status 1 without writing anywhere.
inline constexpr char kReadOnlyPortableText[] =
    "quokka: %s holds a \"portable\" marker but cannot be written; remove the marker to keep the "
    "settings in your home folder, or move Quokka to a folder you can write\n";

// Takes the process's locale from the environment (the code page of its texts, among others),
// except for numbers: they keep the "C" conventions, so "%.2f" always writes "1.50" and what the
// program formats for files and servers reads back the same everywhere.
void PrepareLocale();

// The whole life of the program: its folders (1 after a line on stderr and a box, having written
// nothing, when a portable folder cannot be written), single instance, per user and per program folder (a
// second start asks the first to show its window and returns 0; one that cannot reach a copy running on the
// same program folder says so in a box and returns 0), network set-up (-1 when it fails), paths and settings,
// the database (1 after a box when the data folder cannot be written), the main loop, shutdown. SIGTERM,
// SIGINT and SIGHUP end the main loop, and any modal dialog open above it, and the program shuts down
// normally (0). A lost display ends the process with kDisplayLostExitCode after the same shutdown of the
// services.
int QuokkaMain();
