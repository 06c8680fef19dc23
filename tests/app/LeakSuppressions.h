#pragma once

// What LeakSanitizer leaves out in the main window's test programs: allocations that the system
// libraries under Qt keep for the life of the process, and SDL's per-thread error buffer for threads
// it did not start (the pad poller's). Include in exactly one file of each test program.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:FcPattern\nleak:QFontDatabase\nleak:"
           "libSDL2\n";
}
