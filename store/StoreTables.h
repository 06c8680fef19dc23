#pragma once

#include "store/CppSQLite3DB.h"
#include "store/DownloadTaskRecord.h"
#include "store/EmulatorRecord.h"
#include "store/GameinfoRecord.h"
#include "store/LocalGameRecord.h"

#include <string>
#include <vector>

// The four tables of the game store and the conversions between their rows and the records. Every
// table starts with "Id integer PRIMARY KEY AUTOINCREMENT"; every other column is TEXT. Column
// order matters: rows are written by position and read by index.

// The columns after Id, in table order.
const std::vector<std::string>& GameinfoColumns();
const std::vector<std::string>& DownloadInfoColumns();
const std::vector<std::string>& LocalGameColumns();
const std::vector<std::string>& EmulatorInfoColumns();

// "CREATE TABLE <name> (Id integer PRIMARY KEY AUTOINCREMENT, <column> TEXT, ...);"
std::string CreateTableStatement(const std::string& table, const std::vector<std::string>& columns);

// Creates Gameinfo, DownloadInfo, LocalGame and EmulatorInfo, in this order, where missing. An
// existing table is left as it is. Throws CppSQLite3Exception.
void CreateMissingTables(CppSQLite3DB& db);

// The values of a row after Id, in table order.
std::vector<std::string> GameinfoValues(const GameinfoRecord& record);
std::vector<std::string> LocalGameValues(const LocalGameRecord& record);
std::vector<std::string> DownloadInfoValues(const DownloadTaskRecord& record); // Reserved3 and 4 empty
std::vector<std::string> EmulatorInfoValues(const EmulatorRecord& record);     // Reserved1 to 8 empty

// A record from the current row of a "select *" query (column 0 is Id). A row with fewer columns
// than the table's throws code 1000 "Invalid field index requested".
GameinfoRecord GameinfoFromRow(const CppSQLite3Query& row);
LocalGameRecord LocalGameFromRow(const CppSQLite3Query& row);
DownloadTaskRecord DownloadTaskFromRow(const CppSQLite3Query& row);
EmulatorRecord EmulatorFromRow(const CppSQLite3Query& row);
