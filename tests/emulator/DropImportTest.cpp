#include "emulator/DropImport.h"

#include "tests/emulator/LocalGameTestFixture.h"

#include <algorithm>
#include <filesystem>

namespace {

using localgametest::MainWindow;
namespace fs = std::filesystem;

class DropImportTest : public localgametest::LocalGameFixture {
protected:
    DropImportTest() : m_import(*m_library, m_store, m_resources) { m_import.SetWindow(MainWindow()); }

    void DropAndWait(std::vector<std::string> paths, int platformTypeId)
    {
        m_import.QueueDrop(std::move(paths), platformTypeId);
        ASSERT_TRUE(m_import.WaitIdle(10000));
    }

    CDropImport m_import;
};

TEST_F(DropImportTest, FilesAndNestedFoldersOfOneDropAreImportedInOrderOnce)
{
    const std::string a = Outside("a.nes");
    const std::string unknown = Outside("notes.txt");
    const std::string e = Outside("d/e.NES");
    const std::string g = Outside("d/f/g.nes");
    Outside("d/f/h.gba");
    const std::string z = Outside("z.fds");
    DropAndWait({a, unknown, m_dir.Path() + "outside/d", z, m_dir.Path() + "outside/missing.nes"}, 125);
    EXPECT_EQ(NextPaths(4), (std::vector<std::string>{a, e, g, z}));
    EXPECT_EQ(m_recorder.Pending(), 0u);
    LocalGameMap rows = StoredRows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[e], Row("e", "0.00", "FC", 125, e));
    EXPECT_EQ(m_library->LocalGames(), rows);

    // The same drop again adds nothing.
    DropAndWait({a, m_dir.Path() + "outside/d/"}, 125);
    EXPECT_EQ(m_recorder.Pending(), 0u);
    EXPECT_EQ(StoredRows().size(), 4u);
}

TEST_F(DropImportTest, PlatformsWithoutFilesAndPcFoldersImportNothing)
{
    const std::string rom = Outside("a.nes");
    DropAndWait({rom}, 0);    // all platforms
    DropAndWait({rom}, 128);  // a platform without game files
    DropAndWait({rom}, 4242); // no platform at all
    DropAndWait({rom}, 120);  // not a GBA file
    Outside("pc/game/run.exe");
    DropAndWait({m_dir.Path() + "outside/pc"}, 138);
    EXPECT_EQ(m_recorder.Pending(), 0u);
    EXPECT_TRUE(StoredRows().empty());

    const std::string exe = m_dir.Path() + "outside/pc/game/run.exe";
    DropAndWait({exe}, 138);
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{exe});
    EXPECT_EQ(StoredRows()[exe], Row("run", "0.00", "PC", 138, exe));
}

TEST_F(DropImportTest, ADropDuringAnImportWaitsForItAndIsNotLost)
{
    std::vector<std::string> first;
    for (int i = 0; i < 300; ++i)
        first.push_back(Outside("many/" + std::to_string(1000 + i) + ".gba"));
    const std::string second = Outside("second.gba");
    const std::string third = Outside("third.nes");
    m_import.QueueDrop({m_dir.Path() + "outside/many"}, 120);
    m_import.QueueDrop({second}, 120);
    m_import.QueueDrop({third}, 125);
    ASSERT_TRUE(m_import.WaitIdle(20000));
    std::vector<std::string> expected = first;
    expected.push_back(second);
    expected.push_back(third);
    EXPECT_EQ(NextPaths(expected.size()), expected);
    EXPECT_EQ(StoredRows().size(), expected.size());
}

TEST_F(DropImportTest, StopEndsTheImportAndForgetsQueuedDrops)
{
    for (int i = 0; i < 2000; ++i)
        Outside("big/" + std::to_string(10000 + i) + ".nes");
    m_import.QueueDrop({m_dir.Path() + "outside/big"}, 125);
    m_import.QueueDrop({Outside("later.nes")}, 125);
    ASSERT_TRUE(m_recorder.Next()); // the import runs
    m_import.Stop();
    const size_t imported = m_library->LocalGameCount();
    EXPECT_LT(imported, 2001u);
    EXPECT_FALSE(m_library->HasLocalGame(m_dir.Path() + "outside/later.nes"));
    m_import.QueueDrop({Outside("after.nes")}, 125); // ignored once stopped
    EXPECT_TRUE(m_import.WaitIdle(1000));
    EXPECT_EQ(m_library->LocalGameCount(), imported);
}

} // namespace
