#pragma once

// A downloaded FC game put in the library before a main-window test opens its window.

#include "store/GameStore.h"
#include "store/GameinfoRecord.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <string>

namespace apptest {

// Writes the game's cartridge file, named after its id, into `folder` (made when missing) and adds
// its row to the store; the row's file path is `folder`. False when either fails.
inline bool StoreDownloadedFcGame(const std::string& folder, const std::string& id, const std::string& name)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (!testsupport::WriteFile(folder + id + ".nes", "game"))
        return false;
    GameinfoRecord row;
    row.GameId = id;
    row.GameName = name;
    row.EmulatorShortName = "FC";
    row.CategoryShortName = "动作游戏";
    row.EmulatorId = "125";
    row.CategoryId = "1";
    row.FilePath = folder;
    row.FileName = id + ".zip";
    row.Size = "0.01";
    return CGameStore::Instance().Submit(kStoreAddGameinfo, &row, false, false);
}

} // namespace apptest
