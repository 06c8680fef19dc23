#include "catalogue/GameInfo.h"

void CGameInfo::BindFields()
{
    CGame::BindFields();
    Bind("description", description);
    Bind("commentcount", commentcount);
    Bind("screens", screens);
}

void CGameInfoObj::BindFields()
{
    Bind("status", status);
    Bind("gameinfo", gameinfo);
    Bind("count", count);
    Bind("msg", msg);
    Bind("_run_time", _run_time);
}
