#pragma once

#include "catalogue/Game.h"
#include "catalogue/GameListQuery.h"
#include "foundation/JsonObjectBase.h"

#include <optional>
#include <string>
#include <vector>

// A group entry of a game-list answer: a category, a platform or a language with its count. The
// three classes share their keys; which one an element becomes depends on the list holding it.
class CGroupEntry : public CJsonObjectBase {
public:
    void BindFields() override;

    std::string count; // number of games, decimal text
    std::string id;
    std::string name;

protected:
    CGroupEntry() = default;
};

class CCategory : public CGroupEntry {
public:
    CCategory() { BindFields(); }
};

class CEmulator : public CGroupEntry {
public:
    CEmulator() { BindFields(); }
};

class CLanguage : public CGroupEntry {
public:
    CLanguage() { BindFields(); }
};

// One page of the catalogue. Owns its games and group entries.
class CGameList : public CJsonObjectBase {
public:
    CGameList() { BindFields(); }
    CGameList(const CGameList&) = delete;
    CGameList& operator=(const CGameList&) = delete;

    void BindFields() override;
    JsonObjectPtr NewArrayElement(const std::string& key) override;

    // The games of the page in server order (each a CGame).
    const CGame& GameAt(size_t index) const { return *JsonElementAs<CGame>(gamelist[index]); }
    size_t GameCount() const { return gamelist.size(); }

    // "count" as a number; 0 when it is missing or not a number.
    int TotalCount() const;

    int32_t status = 0;
    std::vector<JsonObjectPtr> gamelist;      // CGame
    std::string count;                        // games matching the request, decimal text
    std::vector<JsonObjectPtr> categorygroup; // CCategory
    std::vector<JsonObjectPtr> emulatorgroup; // CEmulator
    std::vector<JsonObjectPtr> languagegroup; // CLanguage
    std::string msg;
    float _run_time = 0.0f;

    // The request this page answers, set by the catalogue client (no JSON key fills it); empty for a
    // page that came from elsewhere.
    std::optional<CGameListQuery> request;
};
