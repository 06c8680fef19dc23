#pragma once

#include "foundation/JsonObjectBase.h"

#include <cstdint>
#include <string>

// One catalogue game as the catalogue API describes it. Every text is in the process code page.
// Members are named after their JSON keys; the keys the program does not interpret are carried.
class CGame : public CJsonObjectBase {
public:
    CGame() : CGame(true) {}
    CGame(const CGame& other);
    CGame& operator=(const CGame& other);

    void BindFields() override;

    std::string gameid;       // catalogue id: key of details, library rows and download tasks
    std::string orgname;      // title in the game's own language
    std::string icon;         // icon path on the image server; also its name in the image cache
    std::string tv_icon;
    std::string storeurl;
    std::string fee;
    std::string size;         // download size in MB, decimal text
    std::string package_name;
    std::string updatedtime;
    std::string version;
    std::string categoryid;
    std::string emulatorid;   // platform type id as decimal text
    std::string start_sell_time;
    std::string playurl;
    std::string uid;
    std::string is_pk;
    std::string is_handle;
    std::string is_control;
    std::string min;
    std::string max;
    std::string video_thumbnail;
    std::string video_url;
    std::string gamename;     // display name
    std::string language;
    std::string downloads;
    std::string emulatorshortname;
    std::string categoryshortname;
    std::string good;
    std::string bad;
    std::string rating;       // 0 to 5 in steps of 0.5, decimal text
    std::string username;
    int64_t needsize = 0;     // space needed after unpacking
    std::string isrootdir;
    std::string pcver;
    std::string directx;
    std::string dotnet;
    std::string vcver;

    // Two texts that no key fills; the program keeps its own notes in them.
    std::string extra1;
    std::string extra2;

protected:
    // Derived models bind everything in their own BindFields, so they construct without binding.
    explicit CGame(bool bind);

private:
    void CopyFrom(const CGame& other);
};
