#pragma once

#include "store/CppSQLite3DB.h"
#include "store/DownloadTaskRecord.h"
#include "store/EmulatorRecord.h"
#include "store/GameinfoRecord.h"
#include "store/LocalGameRecord.h"

#include <string>
#include <vector>

// Records with every field set, so that a lost or moved column shows.
GameinfoRecord SampleGameinfo(const std::string& gameId, const std::string& name = "Game");
LocalGameRecord SampleLocalGame(const std::string& filePath, const std::string& name = "Local");
DownloadTaskRecord SampleDownload(const std::string& gameId, const std::string& text);
EmulatorRecord SampleEmulator(const std::string& emulatorId, const std::string& name = "Emu");

// The rows of a query as texts, column 0 included.
std::vector<std::vector<std::string>> Rows(CppSQLite3DB& db, const char* sql);
