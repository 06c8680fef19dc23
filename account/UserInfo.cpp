#include "account/UserInfo.h"

void CUserInfo::BindFields()
{
    Bind("status", status);
    Bind("uid", uid);
    Bind("username", username);
    Bind("prohibited", prohibited);
    Bind("msg", msg);
    Bind("ticket", ticket);
    Bind("_run_time", _run_time);
}
