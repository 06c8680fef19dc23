#include "maintenance/UpdateVersion.h"

#ifndef QUOKKA_VERSION_TEXT
#error "QUOKKA_VERSION_TEXT must be set by the build"
#endif

const char* QuokkaVersion()
{
    return QUOKKA_VERSION_TEXT;
}
