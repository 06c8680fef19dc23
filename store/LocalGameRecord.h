#pragma once

#include <map>
#include <string>

// A game file found in the library folder: one row of the LocalGame table, its columns after Id in
// table order. Texts are narrow strings in the process code page, stored as they are.
struct LocalGameRecord {
    std::string GameName;
    std::string Icon;
    std::string Size;
    std::string EmulatorShortName;
    std::string IsPlay;
    std::string FilePath; // the key
    std::string FileName;
    std::string EmulatorId;
    std::string PlayUrl;

    bool operator==(const LocalGameRecord&) const = default;
};

// LocalGame rows by FilePath; when the table holds a key twice, the first row read is kept.
using LocalGameMap = std::map<std::string, LocalGameRecord>;
