#pragma once

#include <map>
#include <string>

// The part of a download task that survives a restart: one row of the DownloadInfo table. The
// download engine keeps its running state (worker, progress, window items) beside it; the store
// knows only these fields. Texts are narrow strings in the process code page, stored as they are.
//
// The tables are stored as list texts (see StoreListFormat.h). A plain list keeps the values in key
// order but not their keys: reading numbers them again from 0, except the volume sizes, which are
// numbered from 1 as volumes are. A ';' inside any listed text cannot be kept (the stored format
// has no escape), nor a volume entry text that holds '|', digits and '\' in a row, nor a '|' in a
// file size text; quotes, other '|', '@' and '\' bytes and every other byte come back as written.
struct DownloadTaskRecord {
    std::string GameId; // the key
    std::string Icon;
    std::string GameName;
    std::string EmulatorShortName;
    std::string CategoryShortName;
    std::string EmulatorId;
    std::string CategoryId;
    std::string PlayUrl;
    std::string FilePath;  // the download folder, ending with the separator
    std::string FileName;  // the archive's file name inside it
    std::string NeedUnZip; // extract flag: "1" to extract after the download
    std::string Volume;    // "1" when the game comes as volumes

    std::map<int, std::string> UrlList;                             // own single archive URLs
    std::map<int, std::string> PanUrlList;                          // cloud single share links
    std::map<int, std::string> PanRealUrlList;                      // resolved share links
    std::map<int, std::map<int, std::string>> VolumeUrlList;        // own volume sets: set -> volume -> URL
    std::map<int, std::map<int, std::string>> VolumePanUrlList;     // cloud volume sets
    std::map<int, std::map<int, std::string>> VolumePanRealUrlList; // resolved cloud volume sets
    std::string FileLenth;                                          // the column keeps its spelling
    std::map<int, std::string> VolumeFileLenth;                     // volume number (from 1) -> length text
    std::map<std::string, std::string> FileList;                    // file sizes: relative path -> size text
    std::string TotalSize;                                          // megabytes as text
    std::string CurrentSize;                                        // downloaded megabytes, "%.2f"
    std::map<int, std::string> NoZipUrlList;                        // column Reserved1
    int Source = 0;      // column Reserved2: 1 share link, 4 own server, 8 no zip
    std::string FileMd5; // column Reserved3: the archive's MD5 as the descriptor gave it, or empty

    bool operator==(const DownloadTaskRecord&) const = default;
};

// DownloadInfo rows by GameId; when the table holds a key twice, the first row read is kept.
using DownloadTaskMap = std::map<std::string, DownloadTaskRecord>;
