#include "catalogue/Game.h"

CGame::CGame(bool bind)
{
    if (bind)
        CGame::BindFields();
}

CGame::CGame(const CGame& other) : CJsonObjectBase(other)
{
    CopyFrom(other);
    CGame::BindFields();
}

CGame& CGame::operator=(const CGame& other)
{
    if (this != &other)
        CopyFrom(other);
    return *this;
}

void CGame::CopyFrom(const CGame& o)
{
    gameid = o.gameid, orgname = o.orgname, icon = o.icon, tv_icon = o.tv_icon, storeurl = o.storeurl;
    fee = o.fee, size = o.size, package_name = o.package_name, updatedtime = o.updatedtime;
    version = o.version, categoryid = o.categoryid, emulatorid = o.emulatorid;
    start_sell_time = o.start_sell_time, playurl = o.playurl, uid = o.uid, is_pk = o.is_pk;
    is_handle = o.is_handle, is_control = o.is_control, min = o.min, max = o.max;
    video_thumbnail = o.video_thumbnail, video_url = o.video_url, gamename = o.gamename;
    language = o.language, downloads = o.downloads, emulatorshortname = o.emulatorshortname;
    categoryshortname = o.categoryshortname, good = o.good, bad = o.bad, rating = o.rating;
    username = o.username, needsize = o.needsize, isrootdir = o.isrootdir, pcver = o.pcver;
    directx = o.directx, dotnet = o.dotnet, vcver = o.vcver, extra1 = o.extra1, extra2 = o.extra2;
}

void CGame::BindFields()
{
    Bind("gameid", gameid);
    Bind("orgname", orgname);
    Bind("icon", icon);
    Bind("tv_icon", tv_icon);
    Bind("storeurl", storeurl);
    Bind("fee", fee);
    Bind("size", size);
    Bind("package_name", package_name);
    Bind("updatedtime", updatedtime);
    Bind("version", version);
    Bind("categoryid", categoryid);
    Bind("emulatorid", emulatorid);
    Bind("start_sell_time", start_sell_time);
    Bind("playurl", playurl);
    Bind("uid", uid);
    Bind("is_pk", is_pk);
    Bind("is_handle", is_handle);
    Bind("is_control", is_control);
    Bind("min", min);
    Bind("max", max);
    Bind("video_thumbnail", video_thumbnail);
    Bind("video_url", video_url);
    Bind("gamename", gamename);
    Bind("language", language);
    Bind("downloads", downloads);
    Bind("emulatorshortname", emulatorshortname);
    Bind("categoryshortname", categoryshortname);
    Bind("good", good);
    Bind("bad", bad);
    Bind("rating", rating);
    Bind("username", username);
    Bind("needsize", needsize);
    Bind("isrootdir", isrootdir);
    Bind("pcver", pcver);
    Bind("directx", directx);
    Bind("dotnet", dotnet);
    Bind("vcver", vcver);
}
