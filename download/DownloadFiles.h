#pragma once

#include <cstdint>
#include <string>

class CGameStore;
struct DownloadTaskRecord;

// Small helpers the engine's parts share about the files and texts of a task. Paths are held narrow
// (the process code page) everywhere in the engine and converted to native paths only where a file is
// opened.
namespace downloadfiles {

// The native form of a narrow path; empty when it cannot be converted (nothing is opened then).
std::string Native(const std::string& ansiPath);

// `folder` ending with one '/', its repeated separators collapsed; empty stays empty.
std::string WithSeparator(std::string folder);

// The length text of a table, -1 when it holds no number.
int64_t ParseLength(const std::string& text);

// Megabytes as the tables keep them: two decimals.
std::string Megabytes(int64_t bytes);

// The length of the regular file at the narrow path, 0 when absent or not a regular file.
int64_t FileSize(const std::string& ansiPath);

// Hands a copy of the task's row to the store and waits for it. False when there is no store or it
// did not take the row.
bool StoreTaskRecord(CGameStore* store, const DownloadTaskRecord& record);

} // namespace downloadfiles
