#include "emulator/LocalGameWatcher.h"

#include "store/CppSQLite3DB.h"
#include "tests/emulator/LocalGameTestFixture.h"

#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <unistd.h>

namespace {

using localgametest::MainWindow;
namespace fs = std::filesystem;

class LocalGameWatcherTest : public localgametest::LocalGameFixture {
protected:
    CLocalGameWatcher& Watcher()
    {
        if (!m_watcher)
            m_watcher = std::make_unique<CLocalGameWatcher>(*m_library, m_store, m_resources);
        return *m_watcher;
    }

    // Starts on the test's library folder and waits for the initial scan.
    void StartAndScan()
    {
        const uint64_t before = Watcher().CompletedScans();
        ASSERT_TRUE(Watcher().Start(MainWindow(), m_localGameDir));
        ASSERT_TRUE(Watcher().WaitForScans(before + 1));
    }

    // Writes a file that must be found and takes messages up to it: every message before it is
    // returned, so a test sees that nothing else was announced meanwhile.
    std::vector<std::string> UpToSentinel(const std::string& relative)
    {
        const std::string sentinel = Put(relative);
        std::vector<std::string> before;
        for (;;) {
            std::vector<std::string> next = NextPaths(1);
            if (next.empty() || next[0] == sentinel)
                return before;
            before.push_back(next[0]);
        }
    }

    ~LocalGameWatcherTest() override { m_watcher.reset(); }

    std::unique_ptr<CLocalGameWatcher> m_watcher;
};

TEST_F(LocalGameWatcherTest, InitialScanFindsEveryGameInPlatformAndNameOrderWithWholeRows)
{
    const std::string b = Put("FC/b.nes", std::string(1572864, 'x'));
    const std::string a = Put("FC/a.NES");
    const std::string c = Put("FC/sub/c.nes");
    Put("FC/wrong.gba"); // a GBA file in the FC folder is not an FC game
    Put("FC/readme.txt");
    const std::string ps = Put("PS/disc.Bin");
    const std::string ds = Put("NDS/x.ds.gba");
    const std::string gba = Put("GBA/e.gba");
    Put("stray.nes"); // beside the platform folders, in no platform
    // A link loop and a second link to a folder: each folder is read once.
    fs::create_directory_symlink(m_localGameDir + "FC", m_localGameDir + "FC/sub/loop");
    fs::create_directory_symlink(m_localGameDir + "FC/sub", m_localGameDir + "FC/zz-again");

    StartAndScan();
    EXPECT_EQ(NextPaths(6), (std::vector<std::string>{a, b, c, gba, ds, ps}));
    EXPECT_EQ(m_recorder.Pending(), 0u);

    LocalGameMap rows = StoredRows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[b], Row("b", "1.50", "FC", 125, b));
    EXPECT_EQ(rows[a], Row("a", "0.00", "FC", 125, a));
    EXPECT_EQ(rows[c], Row("c", "0.00", "FC", 125, c));
    EXPECT_EQ(rows[ps], Row("disc", "0.00", "PS", 119, ps));
    EXPECT_EQ(rows[ds], Row("x.ds", "0.00", "NDS", 127, ds));
    EXPECT_EQ(rows[gba], Row("e", "0.00", "GBA", 120, gba));
    EXPECT_EQ(m_library->LocalGames(), rows);
}

TEST_F(LocalGameWatcherTest, FilesAppearingInEveryWayAreFoundOnceAndRemovedOnesKeepTheirRows)
{
    StartAndScan();
    EXPECT_EQ(m_recorder.Pending(), 0u);

    const std::string created = Put("FC/new.nes");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{created});

    const std::string moved = m_localGameDir + "GBA/moved.gba";
    fs::rename(Outside("moved.gba"), moved);
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{moved});

    // Folders made and filled at once: the new folders' files come whether they were written before
    // or after the watch reached them.
    fs::create_directories(m_localGameDir + "MD/deep/er");
    const std::string deep1 = Put("MD/deep/er/one.md");
    const std::string deep2 = Put("MD/deep/two.md");
    std::vector<std::string> deep = NextPaths(2);
    std::sort(deep.begin(), deep.end());
    EXPECT_EQ(deep, (std::vector<std::string>{deep1, deep2}));

    // A whole tree moved in.
    Outside("tree/sub/x.nes");
    Outside("tree/y.nes");
    fs::rename(m_dir.Path() + "outside/tree", m_localGameDir + "FC/tree");
    std::vector<std::string> tree = NextPaths(2);
    std::sort(tree.begin(), tree.end());
    EXPECT_EQ(tree, (std::vector<std::string>{m_localGameDir + "FC/tree/sub/x.nes",
                                              m_localGameDir + "FC/tree/y.nes"}));

    // A link made in a platform folder is complete at once.
    const std::string link = m_localGameDir + "FC/link.nes";
    fs::create_symlink(Outside("target.nes"), link);
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{link});

    // A link to a folder holding games.
    Outside("linked/w.nes");
    fs::create_directory_symlink(m_dir.Path() + "outside/linked", m_localGameDir + "FC/linked");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{m_localGameDir + "FC/linked/w.nes"});

    // Moved out, deleted, a wrong extension: nothing is announced and the rows stay.
    fs::rename(created, m_dir.Path() + "outside/gone.nes");
    fs::remove(moved);
    Put("FC/ignored.gba");
    EXPECT_EQ(UpToSentinel("FC/z.nes"), std::vector<std::string>{});
    LocalGameMap rows = StoredRows();
    EXPECT_EQ(rows.size(), 9u);
    EXPECT_TRUE(rows.count(created));
    EXPECT_TRUE(rows.count(moved));
    EXPECT_TRUE(m_library->HasLocalGame(created));

    // A platform folder removed and made again is watched again.
    fs::remove_all(m_localGameDir + "NDS");
    fs::create_directory(m_localGameDir + "NDS");
    const std::string nds = Put("NDS/again.nds");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{nds});

    // A folder renamed inside the library: its files are new paths, and the old path's watch is gone.
    fs::rename(m_localGameDir + "MD/deep", m_localGameDir + "MD/renamed");
    std::vector<std::string> renamed = NextPaths(2);
    std::sort(renamed.begin(), renamed.end());
    EXPECT_EQ(renamed, (std::vector<std::string>{m_localGameDir + "MD/renamed/er/one.md",
                                                 m_localGameDir + "MD/renamed/two.md"}));
    const std::string later = Put("MD/renamed/er/three.md");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{later});
    EXPECT_EQ(m_recorder.Pending(), 0u);
}

TEST_F(LocalGameWatcherTest, AFileStillBeingWrittenIsTakenWhenClosedWithItsWholeSize)
{
    // Found by the initial scan while a writer holds it open, then by a new folder's scan.
    const std::string path = m_localGameDir + "GBA/copying.gba";
    std::ofstream writer(path, std::ios::binary);
    writer << std::string(524288, 'a') << std::flush;
    StartAndScan();
    fs::create_directories(m_localGameDir + "GBA/new");
    const std::string second = m_localGameDir + "GBA/new/copying.gba";
    std::ofstream secondWriter(second, std::ios::binary);
    secondWriter << std::string(524288, 'b') << std::flush;
    EXPECT_EQ(UpToSentinel("FC/meanwhile.nes"), std::vector<std::string>{});

    writer << std::string(524288, 'a');
    writer.close();
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{path});
    secondWriter << std::string(1048576, 'b');
    secondWriter.close();
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{second});
    LocalGameMap rows = StoredRows();
    EXPECT_EQ(rows[path].Size, "1.00");
    EXPECT_EQ(rows[second].Size, "1.50");
    EXPECT_EQ(m_recorder.Pending(), 0u);
}

TEST_F(LocalGameWatcherTest, FilesAddedWhileStoppedAreFoundAtTheNextStart)
{
    const std::string first = Put("FC/first.nes");
    StartAndScan();
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{first});
    Watcher().Stop();
    EXPECT_FALSE(Watcher().Running());

    const std::string second = Put("SFC/second.sfc");
    EXPECT_EQ(m_recorder.Pending(), 0u);
    // A program run later: a new set read from the store, a new watcher.
    m_watcher.reset();
    m_library = std::make_unique<CLocalLibrary>(m_store);
    StartAndScan();
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{second});
    EXPECT_EQ(m_recorder.Pending(), 0u);
    EXPECT_EQ(StoredRows().size(), 2u);
}

TEST_F(LocalGameWatcherTest, FoldersWhoseWatchFailsAreScannedOnTheTimer)
{
    Put("FC/sub/old.nes");
    Watcher().SetPollInterval(50);
    // Watch 1 is LocalGameDir, watch 2 the FC folder (the first platform).
    Watcher().FailWatchAt(2, ENOSPC);
    StartAndScan();
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{m_localGameDir + "FC/sub/old.nes"});
    EXPECT_EQ(Watcher().PolledFolders(), std::vector<std::string>{m_localGameDir + "FC"});

    const std::string polled = Put("FC/sub/deeper/p.nes");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{polled});
    const std::string watched = Put("PCE/w.pce"); // the other folders still have their watches
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{watched});
    EXPECT_EQ(UpToSentinel("FC/last.nes"), std::vector<std::string>{});
}

TEST_F(LocalGameWatcherTest, WithoutInotifyEveryFolderIsScannedOnTheTimer)
{
    Watcher().SetPollInterval(50);
    Watcher().DisableInotify(true);
    StartAndScan();
    EXPECT_EQ(Watcher().PolledFolders().size(), 17u);
    const std::string one = Put("MAMEPLUS/sub/one.zip");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{one});
    EXPECT_EQ(UpToSentinel("WSC/two.ws"), std::vector<std::string>{});
    // Stopping does not wait for the next timed scan.
    Watcher().SetPollInterval(60 * 60 * 1000);
    const uint64_t scans = Watcher().CompletedScans();
    ASSERT_TRUE(Watcher().WaitForScans(scans + 1));
    Watcher().Stop();
}

TEST_F(LocalGameWatcherTest, AnOverflowRescansAndWatchesFoldersMadeMeanwhile)
{
    StartAndScan();
    const uint64_t scans = Watcher().CompletedScans();
    Watcher().SetDropEvents(true);
    const std::string lost = Put("FC/lost.nes");
    const std::string inNew = Put("GBC/new/lost.gbc");
    Watcher().InjectOverflow();
    ASSERT_TRUE(Watcher().WaitForScans(scans + 1));
    std::vector<std::string> found = NextPaths(2);
    EXPECT_EQ(found, (std::vector<std::string>{lost, inNew}));
    // The folder made while events were lost is watched now.
    const std::string after = Put("GBC/new/after.gbc");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{after});
    EXPECT_EQ(m_recorder.Pending(), 0u);
}

TEST_F(LocalGameWatcherTest, AnEmptyLibraryFolderScansNothingAndANewOneIsWatched)
{
    // Relative folders of the working folder must not be taken for the library.
    const fs::path saved = fs::current_path();
    fs::current_path(m_dir.Path());
    fs::create_directories("FC");
    testsupport::WriteFile("FC/cwd.nes", "rom");
    ASSERT_TRUE(Watcher().Start(MainWindow(), ""));
    ASSERT_TRUE(Watcher().WaitForScans(1));
    fs::current_path(saved);
    EXPECT_EQ(m_recorder.Pending(), 0u);

    const std::string there = Put("PSP/there.iso");
    Watcher().SetLocalGameDir(m_localGameDir);
    ASSERT_TRUE(Watcher().WaitForScans(2));
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{there});

    // Another library folder: the old one is no longer watched.
    const std::string other = m_dir.Path() + "other/LocalGame/";
    fs::create_directories(other + "N64");
    testsupport::WriteFile(other + "N64/o.n64", "rom");
    Watcher().SetLocalGameDir(other);
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{other + "N64/o.n64"});
    Put("PSP/old-folder.iso");
    testsupport::WriteFile(other + "N64/p.n64", "rom");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{other + "N64/p.n64"});
    EXPECT_EQ(m_recorder.Pending(), 0u);
}

TEST_F(LocalGameWatcherTest, UnreadableFoldersAndUnusualNamesAreHandled)
{
    const std::string odd = Put("FC/\xff\xfe odd.nes"); // not UTF-8: kept byte for byte
    const std::string locked = m_localGameDir + "FC/locked";
    Put("FC/locked/hidden.nes");
    fs::permissions(locked, fs::perms::none);
    const bool enforced = ::access((locked + "/hidden.nes").c_str(), F_OK) != 0; // not as root
    StartAndScan();
    std::vector<std::string> found = NextPaths(enforced ? 1 : 2);
    EXPECT_EQ(found.back(), odd);
    EXPECT_EQ(StoredRows()[odd], Row("\xff\xfe odd", "0.00", "FC", 125, odd));
    EXPECT_EQ(UpToSentinel("FC/next.nes"), std::vector<std::string>{});
    fs::permissions(locked, fs::perms::owner_all);
}

TEST_F(LocalGameWatcherTest, StopEndsAStartedWatcherAtOnceAndAllowsANewStart)
{
    ASSERT_TRUE(Watcher().Start(MainWindow(), m_localGameDir));
    EXPECT_FALSE(Watcher().Start(MainWindow(), m_localGameDir));
    Watcher().Stop();
    Watcher().Stop();
    EXPECT_FALSE(Watcher().Running());
    StartAndScan();
    const std::string file = Put("DC/game.cdi");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{file});
}

TEST_F(LocalGameWatcherTest, FoldersOnNetworkFileSystemsAreScannedOnTheTimer)
{
    // inotify accepts watches there but never hears of files another machine adds: here no event is
    // delivered at all, so only the timer can find them.
    const std::string fc = m_localGameDir + "FC";
    Watcher().SetRemoteCheck([fc](const std::string& folder) { return folder.rfind(fc, 0) == 0; });
    Watcher().SetPollInterval(50);
    StartAndScan();
    EXPECT_EQ(Watcher().PolledFolders(), std::vector<std::string>{fc});
    Watcher().SetDropEvents(true);
    const std::string remote = Put("FC/sub/from-elsewhere.nes");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{remote});

    // The whole library folder on a share: every platform folder is scanned on the timer, including
    // one made after the start.
    m_watcher.reset();
    const std::string root = m_localGameDir.substr(0, m_localGameDir.size() - 1);
    Watcher().SetRemoteCheck([root](const std::string& folder) { return folder.rfind(root, 0) == 0; });
    Watcher().SetPollInterval(50);
    fs::remove_all(m_localGameDir + "GBA");
    StartAndScan();
    EXPECT_EQ(Watcher().PolledFolders().size(), 17u);
    Watcher().SetDropEvents(true);
    const std::string later = Put("GBA/later.gba");
    EXPECT_EQ(NextPaths(1), std::vector<std::string>{later});
    EXPECT_EQ(m_recorder.Pending(), 0u);
}

TEST_F(LocalGameWatcherTest, ALongScanCommitsAsItGoesSoOtherConnectionsSeeItsRows)
{
    constexpr int kFiles = CStoreBatch::kMaxRows + 40;
    for (int i = 0; i < kFiles; ++i)
        Put("FC/game" + std::to_string(1000 + i) + ".nes");

    // The scan waits in the hook at its last file, before its pass ends. The gate opens again however
    // the test leaves, before the watcher is stopped.
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool paused = false;
        bool open = false;
        void Open()
        {
            std::lock_guard lock(mutex);
            open = true;
            changed.notify_all();
        }
    } gate;
    Watcher().SetAddedHook([&gate](uint64_t added) {
        if (added != kFiles)
            return;
        std::unique_lock lock(gate.mutex);
        gate.paused = true;
        gate.changed.notify_all();
        gate.changed.wait(lock, [&] { return gate.open; });
    });
    struct Opener {
        Gate& gate;
        CLocalGameWatcher& watcher;
        ~Opener()
        {
            gate.Open();
            watcher.Stop();
        }
    } opener{gate, Watcher()};
    ASSERT_TRUE(Watcher().Start(MainWindow(), m_localGameDir));
    {
        std::unique_lock lock(gate.mutex);
        gate.changed.wait(lock, [&] { return gate.paused; });
    }
    StoredRows(); // waits for every request the scan has queued so far
    EXPECT_EQ(Watcher().CompletedScans(), 0u);
    {
        CppSQLite3DB other;
        other.Open((m_dir.Path() + "database/quokka.db").c_str());
        const int committed = other.QueryInt("select count(*) from LocalGame;");
        EXPECT_GE(committed, CStoreBatch::kMaxRows);
        EXPECT_LE(committed, kFiles);
    }
    gate.Open();
    ASSERT_TRUE(Watcher().WaitForScans(1));
    EXPECT_EQ(NextPaths(kFiles).size(), static_cast<size_t>(kFiles));
    Watcher().Stop();
    EXPECT_EQ(StoredRows().size(), static_cast<size_t>(kFiles));
}

} // namespace
