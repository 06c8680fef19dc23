#pragma once

#include <map>
#include <string>

// A game added from the catalogue (a downloaded game): one row of the Gameinfo table, its columns
// after Id in table order. Texts are narrow strings in the process code page, stored as they are.
struct GameinfoRecord {
    std::string GameId;
    std::string Icon;
    std::string Size; // megabytes as text, "%.2f"
    std::string GameName;
    std::string EmulatorShortName;
    std::string CategoryShortName;
    std::string IsPlay;
    std::string IsPK;
    std::string FilePath; // the game's folder
    std::string FileName;
    std::string EmulatorId;
    std::string CategoryId;
    std::string PlayUrl;

    bool operator==(const GameinfoRecord&) const = default;
};

// Gameinfo rows by GameId; when the table holds a key twice, the first row read is kept.
using GameinfoMap = std::map<std::string, GameinfoRecord>;
