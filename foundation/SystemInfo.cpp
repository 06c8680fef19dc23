#include "foundation/SystemInfo.h"

#include <cstdio>
#include <cstring>
#include <sys/utsname.h>

int GetOsBits()
{
    utsname info{};
    if (::uname(&info) != 0)
        return sizeof(void*) == 8 ? 64 : 32;
    const char* machine = info.machine;
    if (std::strstr(machine, "64") || std::strcmp(machine, "s390x") == 0)
        return 64;
    return 32;
}

std::string GetOsVersionText()
{
    utsname info{};
    int major = 0;
    int minor = 0;
    if (::uname(&info) == 0)
        std::sscanf(info.release, "%d.%d", &major, &minor);
    char text[10];
    std::snprintf(text, sizeof(text), "%d.%d", major, minor);
    return text;
}
