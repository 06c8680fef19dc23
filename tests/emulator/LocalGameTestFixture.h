#pragma once

// The parts the local import tests share: a library folder with the platform folders in a temporary
// folder, a real store file, the library set read from it, the resources folder, and a recorder
// standing in for the main window.

#include "emulator/LocalGameImport.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/StringHelpers.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Rows print by column in failures.
inline void PrintTo(const LocalGameRecord& r, std::ostream* out)
{
    *out << "{" << r.GameName << " | " << r.Icon << " | " << r.Size << " | " << r.EmulatorShortName << " | "
         << r.IsPlay << " | " << r.FilePath << " | " << r.FileName << " | " << r.EmulatorId << " | "
         << r.PlayUrl << "}";
}

namespace localgametest {

inline platform::HWND MainWindow()
{
    return reinterpret_cast<platform::HWND>(uintptr_t{0x1141});
}

class LocalGameFixture : public ::testing::Test {
protected:
    LocalGameFixture()
        : m_localGameDir(m_dir.Path() + "roms/LocalGame/"), m_store(m_dir.Path() + "database/quokka.db"),
          m_library(std::make_unique<CLocalLibrary>(m_store))
    {
        for (const std::string& name : SplitString(PlatformDirNames, ","))
            std::filesystem::create_directories(m_localGameDir + name);
        std::filesystem::create_directories(m_dir.Path() + "outside");
        m_resources = {m_dir.Path() + "app/", m_dir.Path() + "cache/mame/", m_dir.Path() + "cache/arcade/"};
        std::filesystem::create_directories(m_resources.MameImageDir);
        std::filesystem::create_directories(m_resources.ArcadeImageDir);
    }

    // A path under LocalGameDir, written with `content` (its folders made first).
    std::string Put(const std::string& relative, const std::string& content = "rom")
    {
        std::string path = m_localGameDir + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        EXPECT_TRUE(testsupport::WriteFile(path, content)) << path;
        return path;
    }

    std::string Outside(const std::string& relative, const std::string& content = "rom")
    {
        std::string path = m_dir.Path() + "outside/" + relative;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        EXPECT_TRUE(testsupport::WriteFile(path, content)) << path;
        return path;
    }

    // The paths of the next `count` messages, each checked to be a 1141 for the main window. Waits
    // for them however long they take.
    std::vector<std::string> NextPaths(size_t count)
    {
        std::vector<std::string> paths;
        while (paths.size() < count) {
            auto message = m_recorder.Next(std::numeric_limits<int>::max());
            if (!message) {
                ADD_FAILURE() << "after " << paths.size() << " of " << count << " messages nothing came";
                break;
            }
            EXPECT_EQ(message->message, WM_LOCAL_GAME_ADDED);
            EXPECT_EQ(message->hwnd, MainWindow());
            EXPECT_EQ(message->wParam, 0u);
            paths.push_back(message->Payload<LocalGameRecord>()->FilePath);
        }
        return paths;
    }

    // What the LocalGame table holds; the read queues behind every insert made before it.
    LocalGameMap StoredRows()
    {
        LocalGameMap rows;
        EXPECT_TRUE(m_store.Submit(kStoreReadLocalGames, &rows, false, false));
        return rows;
    }

    static LocalGameRecord Row(const std::string& name, const std::string& size, const char* shortName,
                               int typeId, const std::string& path, const std::string& icon = "")
    {
        return {name,
                icon,
                size,
                shortName,
                "",
                path,
                std::filesystem::path(path).filename().string(),
                std::to_string(typeId),
                ""};
    }

    testsupport::TempDir m_dir;
    std::string m_localGameDir;
    CGameStore m_store;
    std::unique_ptr<CLocalLibrary> m_library;
    LocalGameResources m_resources;
    testsupport::MessageRecorder m_recorder;
};

} // namespace localgametest
