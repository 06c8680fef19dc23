#pragma once

#include <string>

// What one game-list request asks for. The catalogue client hands it back with every answer, so a
// window can tell which of its requests a page or a failure belongs to.
struct CGameListQuery {
    int categoryId = 0; // genre 0..15, 0 all
    int emulatorId = 0; // platform type id, 0 all
    int order = 0;      // 0 recommended, 1 newest, 2 most popular
    int page = 1;
    std::string keyword; // process code page; empty for browsing
    int pageSize = 32;

    bool IsSearch() const { return !keyword.empty(); }
    bool operator==(const CGameListQuery&) const = default;
};
