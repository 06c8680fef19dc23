#include "download/BaiduPanResponse.h"

void CBaiduPanResponse::BindFields()
{
    Bind("errno", errnum);
    Bind("request_id", request_id);
    Bind("dlink", dlink);
    Bind("img", img);
    Bind("vcode", vcode);
}
