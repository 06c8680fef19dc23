#include "tests/store/StoreTestHelpers.h"

GameinfoRecord SampleGameinfo(const std::string& gameId, const std::string& name)
{
    return {gameId,
            "icon/" + gameId + ".png",
            "12.50",
            name,
            "FC",
            "ACT",
            "0",
            "0",
            "/roms/FC/" + gameId + "/",
            "game.zip",
            "125",
            "1",
            "http://play/" + gameId};
}

LocalGameRecord SampleLocalGame(const std::string& filePath, const std::string& name)
{
    return {name, "icon.png", "3.2", "GBA", "0", filePath, "file.gba", "120", "http://play/local"};
}

DownloadTaskRecord SampleDownload(const std::string& gameId, const std::string& text)
{
    DownloadTaskRecord r;
    r.GameId = gameId;
    r.Icon = "icon/" + gameId + ".png";
    r.GameName = text + " 'name'";
    r.EmulatorShortName = "PS";
    r.CategoryShortName = "RPG";
    r.EmulatorId = "119";
    r.CategoryId = "10";
    r.PlayUrl = "http://play/" + gameId;
    r.FilePath = "/roms/PS/" + gameId + "/";
    r.FileName = gameId + ".zip";
    r.NeedUnZip = "1";
    r.Volume = "1";
    r.UrlList = {{0, "http://dl/a.zip"}, {1, "http://dl/b.zip?x='" + text + "'"}};
    r.PanUrlList = {{0, "http://pan/s/" + text}};
    r.PanRealUrlList = {{0, "http://real/1"}, {1, ""}, {2, "http://real/3@x"}};
    r.VolumeUrlList = {{0, {{1, "http://dl/v1|" + text}, {2, "http://dl/v2"}}}};
    r.VolumePanUrlList = {{0, {{1, "http://pan/v1"}}}, {1, {{1, text + "\\v1"}, {2, "\"v2\""}}}};
    r.VolumePanRealUrlList = {{3, {}}};
    r.FileLenth = "123456789";
    r.VolumeFileLenth = {{1, "1048576"}, {2, "524288"}};
    r.FileList = {{"disc/" + text + ".bin", "700000000"}, {"disc/game.cue", "120"}};
    r.TotalSize = "667.5";
    r.CurrentSize = "12.25";
    r.NoZipUrlList = {{0, "http://nozip/" + text}};
    r.Source = 4;
    return r;
}

EmulatorRecord SampleEmulator(const std::string& emulatorId, const std::string& name)
{
    EmulatorRecord r;
    r.EmulatorId = emulatorId;
    r.Name = name;
    r.Version = "1.2.3";
    r.Downloadurl = "http://dl/emu/" + emulatorId + ".zip";
    r.UpdateDate = "2024-01-02";
    r.Description = "It's a \"test\" emulator";
    r.Emulatortype = 125;
    r.System = "win32";
    r.Execute = {"fceux.exe", "bin/fallback.exe"};
    r.Executeparam = "\"%s\" -fullscreen";
    r.Configtype = "1";
    r.KeyConfig = {{"keys/pad.cfg", "cfg/input.cfg", "keys/default.cfg"}, {"a|b", "c;d", "e\\f"}};
    r.SetConfig = {{"set/video.cfg", "cfg/video.cfg"}};
    r.IsDefault = "0";
    return r;
}

std::vector<std::vector<std::string>> Rows(CppSQLite3DB& db, const char* sql)
{
    std::vector<std::vector<std::string>> rows;
    CppSQLite3Query query = db.Query(sql);
    for (; !query.AtEnd(); query.Step()) {
        std::vector<std::string> row;
        for (int i = 0; i < query.ColumnCount(); ++i)
            row.push_back(query.ColumnString(i));
        rows.push_back(std::move(row));
    }
    return rows;
}
