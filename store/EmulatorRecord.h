#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One key-mapping entry of an emulator: what the program copies from where to where (the
// emulator configuration code gives the meaning).
struct KeyConfigEntry {
    std::string Source;
    std::string Target;
    std::string DefaultSource;

    bool operator==(const KeyConfigEntry&) const = default;
};

// One settings-file entry of an emulator.
struct SetConfigEntry {
    std::string Source;
    std::string Target;

    bool operator==(const SetConfigEntry&) const = default;
};

// One emulator, listed or installed; an installed one is a row of the EmulatorInfo table, whose
// columns the fields follow in order (Execute is the column Executet; the eight reserved columns
// are written empty and not read). Texts are narrow strings in the process code page.
//
// The three lists are stored as list texts in which '\' escapes the separators ';' and '|' and
// itself, so any value comes back exactly as written.
struct EmulatorRecord {
    std::string EmulatorId; // the key
    std::string Name;
    std::string Version; // dotted decimal, 1.2.3
    std::string Downloadurl;
    std::string UpdateDate;
    std::string Description;
    int32_t Emulatortype = 0; // platform type id; stored as decimal text
    std::string System;
    std::vector<std::string> Execute; // executable paths relative to the emulator's folder, in order
    std::string Executeparam;         // command-line template
    std::string Configtype;
    std::vector<KeyConfigEntry> KeyConfig;
    std::vector<SetConfigEntry> SetConfig;
    std::string IsDefault;

    bool operator==(const EmulatorRecord&) const = default;
};

// EmulatorInfo rows by EmulatorId (byte-wise order); when the table holds a key twice, the first
// row read is kept.
using EmulatorMap = std::map<std::string, EmulatorRecord>;
