#pragma once

// The program's version text ("0.0.14" in a normal build). It comes from the build's
// QUOKKA_VERSION cache variable and lives in a source file of its own, so a second executable can
// be linked from the same sources with another version (quokka-next, which the update tests
// install over quokka).
const char* QuokkaVersion();
