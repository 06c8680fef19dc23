#include "store/StoreTables.h"

#include "store/StoreListFormat.h"

const std::vector<std::string>& GameinfoColumns()
{
    static const std::vector<std::string> columns = {
        "GameId", "Icon",     "Size",     "GameName",   "EmulatorShortName", "CategoryShortName", "IsPlay",
        "IsPK",   "FilePath", "FileName", "EmulatorId", "CategoryId",        "PlayUrl",
    };
    return columns;
}

const std::vector<std::string>& DownloadInfoColumns()
{
    static const std::vector<std::string> columns = {
        "GameId",
        "Icon",
        "GameName",
        "EmulatorShortName",
        "CategoryShortName",
        "EmulatorId",
        "CategoryId",
        "PlayUrl",
        "FilePath",
        "FileName",
        "NeedUnZip",
        "Volume",
        "UrlList",
        "PanUrlList",
        "PanRealUrlList",
        "VolumeUrlList",
        "VolumePanUrlList",
        "VolumePanRealUrlList",
        "FileLenth",
        "VolumeFileLenth",
        "FileList",
        "TotalSize",
        "CurrentSize",
        "Reserved1",
        "Reserved2",
        "Reserved3",
        "Reserved4",
    };
    return columns;
}

const std::vector<std::string>& LocalGameColumns()
{
    static const std::vector<std::string> columns = {
        "GameName", "Icon",     "Size",       "EmulatorShortName", "IsPlay",
        "FilePath", "FileName", "EmulatorId", "PlayUrl",
    };
    return columns;
}

const std::vector<std::string>& EmulatorInfoColumns()
{
    static const std::vector<std::string> columns = {
        "EmulatorId",   "Name",      "Version",   "Downloadurl",  "UpdateDate", "Description",
        "Emulatortype", "System",    "Executet",  "Executeparam", "Configtype", "KeyConfig",
        "SetConfig",    "IsDefault", "Reserved1", "Reserved2",    "Reserved3",  "Reserved4",
        "Reserved5",    "Reserved6", "Reserved7", "Reserved8",
    };
    return columns;
}

std::string CreateTableStatement(const std::string& table, const std::vector<std::string>& columns)
{
    std::string sql = "CREATE TABLE " + table + " (Id integer PRIMARY KEY AUTOINCREMENT";
    for (const std::string& column : columns)
        sql += ", " + column + " TEXT";
    sql += ");";
    return sql;
}

void CreateMissingTables(CppSQLite3DB& db)
{
    const std::pair<const char*, const std::vector<std::string>&> tables[] = {
        {"Gameinfo", GameinfoColumns()},
        {"DownloadInfo", DownloadInfoColumns()},
        {"LocalGame", LocalGameColumns()},
        {"EmulatorInfo", EmulatorInfoColumns()},
    };
    for (const auto& [name, columns] : tables) {
        int count = db.QueryInt("select count(*) from sqlite_master where type='table' and name=?;", {name});
        if (count <= 0)
            db.Execute(CreateTableStatement(name, columns).c_str());
    }
}

std::vector<std::string> GameinfoValues(const GameinfoRecord& r)
{
    return {r.GameId, r.Icon, r.Size,     r.GameName, r.EmulatorShortName, r.CategoryShortName,
            r.IsPlay, r.IsPK, r.FilePath, r.FileName, r.EmulatorId,        r.CategoryId,
            r.PlayUrl};
}

std::vector<std::string> LocalGameValues(const LocalGameRecord& r)
{
    return {r.GameName, r.Icon,       r.Size,   r.EmulatorShortName, r.IsPlay, r.FilePath,
            r.FileName, r.EmulatorId, r.PlayUrl};
}

std::vector<std::string> DownloadInfoValues(const DownloadTaskRecord& r)
{
    return {r.GameId,
            r.Icon,
            r.GameName,
            r.EmulatorShortName,
            r.CategoryShortName,
            r.EmulatorId,
            r.CategoryId,
            r.PlayUrl,
            r.FilePath,
            r.FileName,
            r.NeedUnZip,
            r.Volume,
            FormatPlainList(r.UrlList),
            FormatPlainList(r.PanUrlList),
            FormatPlainList(r.PanRealUrlList),
            FormatVolumeList(r.VolumeUrlList),
            FormatVolumeList(r.VolumePanUrlList),
            FormatVolumeList(r.VolumePanRealUrlList),
            r.FileLenth,
            FormatPlainList(r.VolumeFileLenth),
            FormatKeyedList(r.FileList),
            r.TotalSize,
            r.CurrentSize,
            FormatPlainList(r.NoZipUrlList),
            std::to_string(r.Source),
            r.FileMd5,
            std::string()};
}

std::vector<std::string> EmulatorInfoValues(const EmulatorRecord& r)
{
    std::vector<std::string> values = {r.EmulatorId,
                                       r.Name,
                                       r.Version,
                                       r.Downloadurl,
                                       r.UpdateDate,
                                       r.Description,
                                       std::to_string(r.Emulatortype),
                                       r.System,
                                       FormatExecuteList(r.Execute),
                                       r.Executeparam,
                                       r.Configtype,
                                       FormatKeyConfigList(r.KeyConfig),
                                       FormatSetConfigList(r.SetConfig),
                                       r.IsDefault};
    values.resize(EmulatorInfoColumns().size());
    return values;
}

GameinfoRecord GameinfoFromRow(const CppSQLite3Query& row)
{
    GameinfoRecord r;
    int i = 1;
    for (std::string* field :
         {&r.GameId, &r.Icon, &r.Size, &r.GameName, &r.EmulatorShortName, &r.CategoryShortName, &r.IsPlay,
          &r.IsPK, &r.FilePath, &r.FileName, &r.EmulatorId, &r.CategoryId, &r.PlayUrl})
        *field = row.ColumnString(i++);
    return r;
}

LocalGameRecord LocalGameFromRow(const CppSQLite3Query& row)
{
    LocalGameRecord r;
    int i = 1;
    for (std::string* field : {&r.GameName, &r.Icon, &r.Size, &r.EmulatorShortName, &r.IsPlay, &r.FilePath,
                               &r.FileName, &r.EmulatorId, &r.PlayUrl})
        *field = row.ColumnString(i++);
    return r;
}

DownloadTaskRecord DownloadTaskFromRow(const CppSQLite3Query& row)
{
    DownloadTaskRecord r;
    int i = 1;
    for (std::string* field :
         {&r.GameId, &r.Icon, &r.GameName, &r.EmulatorShortName, &r.CategoryShortName, &r.EmulatorId,
          &r.CategoryId, &r.PlayUrl, &r.FilePath, &r.FileName, &r.NeedUnZip, &r.Volume})
        *field = row.ColumnString(i++);
    r.UrlList = ParsePlainList(row.ColumnString(i++));
    r.PanUrlList = ParsePlainList(row.ColumnString(i++));
    r.PanRealUrlList = ParsePlainList(row.ColumnString(i++));
    r.VolumeUrlList = ParseVolumeList(row.ColumnString(i++));
    r.VolumePanUrlList = ParseVolumeList(row.ColumnString(i++));
    r.VolumePanRealUrlList = ParseVolumeList(row.ColumnString(i++));
    r.FileLenth = row.ColumnString(i++);
    r.VolumeFileLenth = ParsePlainList(row.ColumnString(i++), 1);
    r.FileList = ParseKeyedList(row.ColumnString(i++));
    r.TotalSize = row.ColumnString(i++);
    r.CurrentSize = row.ColumnString(i++);
    r.NoZipUrlList = ParsePlainList(row.ColumnString(i++));
    r.Source = LeadingInt(row.ColumnString(i++));
    r.FileMd5 = row.ColumnString(i++);
    return r;
}

EmulatorRecord EmulatorFromRow(const CppSQLite3Query& row)
{
    EmulatorRecord r;
    r.EmulatorId = row.ColumnString(1);
    r.Name = row.ColumnString(2);
    r.Version = row.ColumnString(3);
    r.Downloadurl = row.ColumnString(4);
    r.UpdateDate = row.ColumnString(5);
    r.Description = row.ColumnString(6);
    r.Emulatortype = LeadingInt(row.ColumnString(7));
    r.System = row.ColumnString(8);
    r.Execute = ParseExecuteList(row.ColumnString(9));
    r.Executeparam = row.ColumnString(10);
    r.Configtype = row.ColumnString(11);
    r.KeyConfig = ParseKeyConfigList(row.ColumnString(12));
    r.SetConfig = ParseSetConfigList(row.ColumnString(13));
    r.IsDefault = row.ColumnString(14);
    return r;
}
