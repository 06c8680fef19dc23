#include "catalogue/GameList.h"

#include <cstdlib>

void CGroupEntry::BindFields()
{
    Bind("count", count);
    Bind("id", id);
    Bind("name", name);
}

void CGameList::BindFields()
{
    Bind("status", status);
    Bind("gamelist", gamelist);
    Bind("count", count);
    Bind("categorygroup", categorygroup);
    Bind("emulatorgroup", emulatorgroup);
    Bind("languagegroup", languagegroup);
    Bind("msg", msg);
    Bind("_run_time", _run_time);
}

JsonObjectPtr CGameList::NewArrayElement(const std::string& key)
{
    if (key == "gamelist")
        return std::make_unique<CGame>();
    if (key == "categorygroup")
        return std::make_unique<CCategory>();
    if (key == "emulatorgroup")
        return std::make_unique<CEmulator>();
    if (key == "languagegroup")
        return std::make_unique<CLanguage>();
    return nullptr;
}

int CGameList::TotalCount() const { return std::atoi(count.c_str()); }
