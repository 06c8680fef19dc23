#pragma once

#include <json/json.h>

#include <string>
#include <vector>

// One page request of the game list, with the filter values as numbers (0 = all).
struct GameQuery {
    int categoryId = 0;
    int emulatorId = 0;
    std::string order; // "recommend" (catalogue order), "new" (updatedtime, newest first), "hot" (downloads)
    std::string keyword; // UTF-8; matched without regard to ASCII case in "gamename" and "orgname"
    int page = 1;        // 1 = first page; values below 1 count as 1
    int pageSize = 32;   // kept within 1..200
};

// The catalogue the server answers from: the file catalogue.json of the data folder, read once.
//
//   {"categories": [{"id": "1", "name": "动作"}, ...],
//    "platforms":  [{"id": "125", "name": "FC"}, ...],
//    "games": [{ every key of a catalogue game, plus "description", "commentcount", "screens" }]}
//
// "games" is in recommended order. Keys of a game that the list answer carries are the catalogue
// game keys; "description", "commentcount" and "screens" appear only in the detail answer.
class CCatalogueData {
public:
    // Reads the file. A missing file gives an empty catalogue and true; a file that is not such JSON
    // gives false and `error`.
    bool Load(const std::string& path, std::string& error);

    // The game list answer for a query: "status", "gamelist", "count", "categorygroup",
    // "emulatorgroup", "languagegroup", "msg", "_run_time".
    Json::Value GameList(const GameQuery& query) const;

    // The detail answer: "status", "gameinfo", "count", "msg", "_run_time"; an unknown id answers
    // status 0 without "gameinfo".
    Json::Value GameInfo(const std::string& gameId) const;

    size_t GameCount() const { return m_games.size(); }

private:
    std::vector<Json::Value> m_games;
    Json::Value m_categories{Json::arrayValue};
    Json::Value m_platforms{Json::arrayValue};
};
