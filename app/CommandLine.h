#pragma once

#include <cstdio>
#include <optional>

// What a start of the program is asked on its command line, answered before any Qt object exists,
// so `quokka --help` and `quokka --version` work without a display:
//   -h, --help      the usage on stdout, status 0;
//   --version       "quokka <QuokkaVersion()>" on stdout, status 0;
//   -session NAME   the argument a desktop session manager adds when it restores the program:
//                   accepted and ignored, so a restored session starts the program as before;
//   anything else   "quokka: unknown option ..." and the usage on stderr, status 2.
// Returns the exit status when the program is not to start, nullopt when it starts.
std::optional<int> AnswerCommandLine(int argc, const char* const argv[], std::FILE* out, std::FILE* err);

// Whether Qt can open the program's windows on the platform QT_QPA_PLATFORM names (a list separated
// by ';', each name possibly followed by ":options"; unset or empty is the desktop's default). The
// X11 and Wayland platforms need a display in DISPLAY, WAYLAND_DISPLAY or WAYLAND_SOCKET; the others
// (offscreen, minimal, vnc, framebuffers) need none, and any of them in the list is enough. Empty
// values count as unset.
bool DisplayAvailable(const char* platform, const char* display, const char* waylandDisplay,
                      const char* waylandSocket);

// The line written to stderr when no display is available; the program then ends with status 1.
inline constexpr char kNoDisplayText[] =
    "quokka: no display found (DISPLAY and WAYLAND_DISPLAY are not set); start Quokka from a desktop "
    "session, or set QT_QPA_PLATFORM=offscreen to run it without one\n";
