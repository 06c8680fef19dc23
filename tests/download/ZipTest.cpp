#include "download/Zip.h"
#include "foundation/StringConv.h"
#include "platform/CodePage.h"
#include "platform/Event.h"
#include "tests/download/ZipTestArchive.h"
#include "tests/support/TempDir.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;
using testsupport::ReadFile;
using ziptest::Entry;

namespace {

std::u16string U16(const std::string& utf8)
{
    return Utf8ToUtf16(utf8);
}

// Runs the body of a test under another process code page and puts the old one back.
class CodePageScope {
public:
    explicit CodePageScope(const std::string& name) : m_saved(platform::ProcessCodePage())
    {
        platform::SetProcessCodePage(name);
    }
    ~CodePageScope() { platform::SetProcessCodePage(m_saved); }

private:
    std::string m_saved;
};

class ZipExtractTest : public ::testing::Test {
protected:
    int Extract(CZip& zip, const std::vector<Entry>& entries)
    {
        std::string archive = m_dir.Path() + "in" + std::to_string(m_archives++) + ".zip";
        EXPECT_TRUE(ziptest::WriteArchive(archive, entries));
        return zip.ZipExtract(U16(archive), U16(Dest()));
    }
    int Extract(const std::vector<Entry>& entries)
    {
        CZip zip;
        return Extract(zip, entries);
    }
    std::string Dest() const { return m_dir.Path() + "out/"; }

    testsupport::TempDir m_dir;
    int m_archives = 0;
};

} // namespace

TEST_F(ZipExtractTest, NamesAreUtf8WhenFlaggedAndInTheCodePageOtherwise)
{
    ASSERT_EQ(Extract({{.rawName = "游戏/读我.txt", .data = "utf8", .flag = 0x800}}), 1);
    EXPECT_EQ(ReadFile(Dest() + "游戏/读我.txt"), "utf8");

    {
        CodePageScope gbk("GBK");
        // "游戏/存档.sav" and "乗.txt" in GBK; the second byte of 乗 is the code of '\', which must not
        // split the name.
        ASSERT_EQ(Extract({{.rawName = "\xD3\xCE\xCF\xB7/\xB4\xE6\xB5\xB5.sav", .data = "gbk"},
                           {.rawName = "\x81\x5C.txt", .data = "trail"}}),
                  1);
    }
    EXPECT_EQ(ReadFile(Dest() + "游戏/存档.sav"), "gbk");
    EXPECT_EQ(ReadFile(Dest() + "乗.txt"), "trail");

    // An unflagged name that the code page cannot decode still extracts, with stand-ins for the bytes.
    {
        CodePageScope utf8("UTF-8");
        ASSERT_EQ(Extract({{.rawName = "bad\xFF.txt", .data = "x"}}), 1);
    }
    EXPECT_EQ(ReadFile(Dest() + "bad\xEF\xBF\xBD.txt"), "x");
}

TEST_F(ZipExtractTest, UnflaggedNamesAreUtf8OrChineseWindowsWhateverTheLocale)
{
    // "存档/读我.txt" in code page 936, unflagged, on a UTF-8 machine.
    {
        CodePageScope utf8("UTF-8");
        ASSERT_EQ(Extract({{.rawName = "\xB4\xE6\xB5\xB5/\xB6\xC1\xCE\xD2.txt", .data = "936"}}), 1);
    }
    EXPECT_EQ(ReadFile(Dest() + "存档/读我.txt"), "936");

    // An unflagged UTF-8 name stays UTF-8 on a GBK machine.
    {
        CodePageScope gbk("GBK");
        ASSERT_EQ(Extract({{.rawName = "关卡/第一关.map", .data = "utf8"}}), 1);
    }
    EXPECT_EQ(ReadFile(Dest() + "关卡/第一关.map"), "utf8");
}

TEST_F(ZipExtractTest, TwoEntriesLeadingToOneFileFailTheArchive)
{
    // A repeated name.
    EXPECT_EQ(Extract({{.rawName = "save.dat", .data = "first"}, {.rawName = "save.dat", .data = "second"}}),
              0);
    EXPECT_FALSE(fs::exists(Dest() + "save.dat"));
    // Names that differ only in what extraction drops: a leading separator, "." segments, backslashes.
    EXPECT_EQ(Extract({{.rawName = "d/x.txt", .data = "1"}, {.rawName = "/d/./x.txt", .data = "2"}}), 0);
    EXPECT_EQ(Extract({{.rawName = "e/y.txt", .data = "1"}, {.rawName = "e\\y.txt", .data = "2"}}), 0);
    // Two undecodable names that become the same stand-in text.
    EXPECT_EQ(Extract({{.rawName = "bad\xFF.txt", .data = "1"}, {.rawName = "bad\xFE.txt", .data = "2"}}), 0);

    // Repeated folder entries are harmless, and the same names in a later archive are a new extraction.
    CZip zip;
    EXPECT_EQ(Extract(zip, {{.rawName = "f/", .data = ""},
                            {.rawName = "f/", .data = ""},
                            {.rawName = "f/z.txt", .data = "a"}}),
              1);
    EXPECT_EQ(Extract(zip, {{.rawName = "f/z.txt", .data = "b"}}), 1);
    EXPECT_EQ(ReadFile(Dest() + "f/z.txt"), "b");
}

TEST_F(ZipExtractTest, NestedEntriesCreateTheirFoldersAndKeepTheirTimes)
{
    ASSERT_EQ(Extract({{.rawName = "a/b/c.bin", .data = "nested"},
                       {.rawName = "win\\dir\\d.bin", .data = "backslashes"},
                       {.rawName = "empty/", .data = ""}}),
              1);
    EXPECT_TRUE(fs::is_directory(Dest() + "a/b"));
    EXPECT_EQ(ReadFile(Dest() + "a/b/c.bin"), "nested");
    EXPECT_EQ(ReadFile(Dest() + "win/dir/d.bin"), "backslashes");
    EXPECT_TRUE(fs::is_directory(Dest() + "empty"));

    std::tm date = Entry::DefaultDate();
    date.tm_isdst = -1;
    struct stat st;
    ASSERT_EQ(::stat((Dest() + "a/b/c.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, std::mktime(&date));
}

TEST_F(ZipExtractTest, MissingArchiveFailsButCreatesTheDestination)
{
    CZip zip;
    EXPECT_EQ(zip.ZipExtract(U16(m_dir.Path() + "missing.zip"), U16(Dest())), 0);
    EXPECT_TRUE(fs::is_directory(Dest()));
    EXPECT_EQ(zip.m_bytesTotal.load(), 0);

    // Bytes that are not an archive fail the same way.
    testsupport::WriteFile(m_dir.Path() + "junk.zip", "this is not a zip archive");
    EXPECT_EQ(zip.ZipExtract(U16(m_dir.Path() + "junk.zip"), U16(Dest())), 0);
}

TEST_F(ZipExtractTest, EmptyArchiveSucceeds)
{
    EXPECT_EQ(Extract(std::vector<Entry>{}), 1);
    EXPECT_TRUE(fs::is_directory(Dest()));
}

TEST_F(ZipExtractTest, ByteCountersAccumulateAcrossExtractions)
{
    CZip zip;
    ASSERT_EQ(Extract(zip, {{.rawName = "one.bin", .data = std::string(10000, 'a')},
                            {.rawName = "two.bin", .data = std::string(5000, 'b')}}),
              1);
    EXPECT_EQ(zip.m_bytesTotal.load(), 15000);
    EXPECT_EQ(zip.m_bytesDone.load(), 15000);

    ASSERT_EQ(Extract(zip, {{.rawName = "three.bin", .data = std::string(7000, 'c')}}), 1);
    EXPECT_EQ(zip.m_bytesTotal.load(), 7000);
    EXPECT_EQ(zip.m_bytesDone.load(), 22000);
}

TEST_F(ZipExtractTest, DamagedEntryFailsAndRemovesWhatWasWritten)
{
    std::string archive = m_dir.Path() + "damaged.zip";
    const std::string payload(20000, 'p');
    ASSERT_TRUE(ziptest::WriteArchive(archive, {{.rawName = "first.txt", .data = "fine"},
                                                {.rawName = "second.bin", .data = payload, .stored = true}}));
    std::string bytes = ReadFile(archive);
    size_t at = bytes.find(payload);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 100] = 'X';
    testsupport::WriteFile(archive, bytes);

    CZip zip;
    EXPECT_EQ(zip.ZipExtract(U16(archive), U16(Dest())), 0);
    EXPECT_TRUE(fs::is_empty(Dest()));
}

TEST_F(ZipExtractTest, NamesNeverLeadOutOfTheDestination)
{
    // Absolute names and drive prefixes land inside the folder.
    ASSERT_EQ(Extract({{.rawName = "/abs/x.txt", .data = "abs"},
                       {.rawName = "C:\\win\\y.txt", .data = "drive"},
                       {.rawName = "\\\\server\\share\\z.txt", .data = "unc"},
                       {.rawName = "./dot/./w.txt", .data = "dots"}}),
              1);
    EXPECT_EQ(ReadFile(Dest() + "abs/x.txt"), "abs");
    EXPECT_EQ(ReadFile(Dest() + "win/y.txt"), "drive");
    EXPECT_EQ(ReadFile(Dest() + "server/share/z.txt"), "unc");
    EXPECT_EQ(ReadFile(Dest() + "dot/w.txt"), "dots");

    // A ".." segment fails the extraction, whatever separator or position it has.
    for (const char* name : {"../evil.txt", "a/../../evil.txt", "..\\evil.txt", "a/b/../../../evil.txt"}) {
        EXPECT_EQ(Extract({{.rawName = name, .data = "evil"}}), 0) << name;
    }
    EXPECT_EQ(Extract({{.rawName = "../evil.txt", .data = "evil", .flag = 0x800}}), 0);
    EXPECT_FALSE(fs::exists(m_dir.Path() + "evil.txt"));

    // No destination at all does not mean the root folder.
    ASSERT_TRUE(
        ziptest::WriteArchive(m_dir.Path() + "plain.zip", {{.rawName = "quokka-zip-test.txt", .data = "x"}}));
    CZip zip;
    EXPECT_EQ(zip.ZipExtract(U16(m_dir.Path() + "plain.zip"), u""), 0);
    EXPECT_FALSE(fs::exists("/quokka-zip-test.txt"));
}

TEST_F(ZipExtractTest, LinksStayInsideTheDestination)
{
    const uint32_t link = S_IFLNK | 0777;
    // Links whose targets stay inside are made.
    ASSERT_EQ(Extract({{.rawName = "lib/libgame.so.1", .data = "code", .host = 3, .unixMode = S_IFREG | 0644},
                       {.rawName = "lib/libgame.so", .data = "libgame.so.1", .host = 3, .unixMode = link},
                       {.rawName = "bin/game", .data = "../lib/libgame.so.1", .host = 3, .unixMode = link}}),
              1);
    EXPECT_TRUE(fs::is_symlink(Dest() + "lib/libgame.so"));
    EXPECT_EQ(ReadFile(Dest() + "lib/libgame.so"), "code");
    EXPECT_EQ(ReadFile(Dest() + "bin/game"), "code");

    // Links that would lead out fail, and nothing is written through them.
    const std::vector<std::string> outward = {"/tmp", "..", "../..", "a/../../..", "sub/../.."};
    for (const std::string& target : outward) {
        EXPECT_EQ(Extract({{.rawName = "escape", .data = target, .host = 3, .unixMode = link},
                           {.rawName = "escape/owned.txt", .data = "owned"}}),
                  0)
            << target;
        EXPECT_FALSE(fs::is_symlink(Dest() + "escape")) << target;
    }
    EXPECT_FALSE(fs::exists(m_dir.Path() + "owned.txt"));

    // A link may point at the destination itself, but no link is made under a linked folder, where
    // ".." would climb from the link's target instead.
    EXPECT_EQ(Extract({{.rawName = "top/here", .data = "..", .host = 3, .unixMode = link},
                       {.rawName = "top/here/up", .data = "..", .host = 3, .unixMode = link}}),
              0);
    EXPECT_FALSE(fs::exists(Dest() + "up"));
    EXPECT_FALSE(fs::exists(Dest() + "top")) << "the first link goes with the refused archive";

    // A file entry replaces a link of the same name instead of writing through it.
    ASSERT_EQ(Extract({{.rawName = "lib/libgame.so", .data = "plain"}}), 1);
    EXPECT_FALSE(fs::is_symlink(Dest() + "lib/libgame.so"));
    EXPECT_EQ(ReadFile(Dest() + "lib/libgame.so.1"), "code");
}

TEST_F(ZipExtractTest, UnixPermissionsAreRestored)
{
    ASSERT_EQ(Extract({{.rawName = "run.sh", .data = "#!/bin/sh\n", .host = 3, .unixMode = S_IFREG | 0755},
                       {.rawName = "data.txt", .data = "d", .host = 3, .unixMode = S_IFREG | 0640},
                       {.rawName = "dos.txt", .data = "d"}}),
              1);
    struct stat st;
    ASSERT_EQ(::stat((Dest() + "run.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(::stat((Dest() + "data.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_EQ(::stat((Dest() + "dos.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0u);
}

namespace {

// A long extraction driven from its own progress reports: the test decides in the callback what the
// extractor does next and learns about it through events.
struct PauseProbe {
    CZip* zip = nullptr;
    std::atomic<int> reports{0};
    int64_t doneAtPause = -1;
    bool exitOnSecondReport = false;
    std::chrono::steady_clock::time_point lastReport{};
    std::atomic<int64_t> shortestGapMs{1 << 30};
    platform::Event paused;
    platform::Event reportedAgain;

    static void OnProgress(int64_t done, int64_t, void* user)
    {
        auto* self = static_cast<PauseProbe*>(user);
        auto now = std::chrono::steady_clock::now();
        if (self->reports > 0) {
            auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - self->lastReport).count();
            self->shortestGapMs = std::min<int64_t>(self->shortestGapMs, gap);
        }
        self->lastReport = now;
        int n = ++self->reports;
        if (n == 1) {
            self->zip->Pause(1);
            self->doneAtPause = done;
            self->paused.Set();
        } else {
            if (self->exitOnSecondReport)
                self->zip->Exit();
            self->reportedAgain.Set();
        }
    }
};

class ZipPauseTest : public ::testing::Test {
protected:
    // Large enough that extracting it takes well over the 50 ms before the first report, cheap to
    // make because it is all zeros.
    static constexpr int64_t kSize = 512LL << 20;

    static void SetUpTestSuite()
    {
        s_archiveDir = std::make_unique<testsupport::TempDir>();
        s_archive = s_archiveDir->Path() + "big.zip";
        s_archiveOk = ziptest::WriteZeroArchive(s_archive, "big.bin", kSize);
    }
    static void TearDownTestSuite() { s_archiveDir.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(s_archiveOk);
        m_archive = s_archive;
        m_probe.zip = &m_zip;
        m_zip.SetPUser(&m_probe);
        m_zip.SetExtractProgressFun(&PauseProbe::OnProgress);
    }

    void Start()
    {
        m_worker =
            std::thread([this] { m_result = m_zip.ZipExtract(U16(m_archive), U16(m_dir.Path() + "out/")); });
    }
    void Join()
    {
        if (m_worker.joinable())
            m_worker.join();
    }
    void TearDown() override
    {
        m_zip.Exit();
        Join();
    }

    static inline std::unique_ptr<testsupport::TempDir> s_archiveDir;
    static inline std::string s_archive;
    static inline bool s_archiveOk = false;

    testsupport::TempDir m_dir;
    std::string m_archive;
    CZip m_zip;
    PauseProbe m_probe;
    std::thread m_worker;
    std::atomic<int> m_result{-1};
};

} // namespace

TEST_F(ZipPauseTest, PauseHoldsTheExtractionUntilResumed)
{
    m_probe.exitOnSecondReport = true;
    Start();
    ASSERT_TRUE(m_probe.paused.Wait(30000)) << "no progress report";

    // Held: no further report comes and the file stays at what had been written when it paused.
    EXPECT_FALSE(m_probe.reportedAgain.Wait(200));
    EXPECT_EQ(m_zip.m_bytesDone.load(), m_probe.doneAtPause);
    EXPECT_EQ(static_cast<int64_t>(fs::file_size(m_dir.Path() + "out/big.bin")), m_probe.doneAtPause);

    // Resumed, it goes on until the next report stops it (or, on a machine fast enough to finish
    // within 50 ms, to the end).
    m_zip.Pause(0);
    Join();
    if (m_probe.reports.load() >= 2) {
        EXPECT_EQ(m_result.load(), 0);
        EXPECT_GE(m_probe.shortestGapMs.load(), 50);
        EXPECT_LT(m_zip.m_bytesDone.load(), kSize);
    } else {
        EXPECT_EQ(m_result.load(), 1);
        EXPECT_EQ(m_zip.m_bytesDone.load(), kSize);
    }
    // A stopped extraction removes what it wrote; a finished one holds exactly the bytes counted.
    if (m_result.load() == 0)
        EXPECT_FALSE(fs::exists(m_dir.Path() + "out/big.bin"));
    else
        EXPECT_EQ(static_cast<int64_t>(fs::file_size(m_dir.Path() + "out/big.bin")), kSize);
    EXPECT_EQ(m_zip.m_bytesTotal.load(), kSize);
}

TEST_F(ZipPauseTest, ExitWhilePausedReturnsZeroPromptly)
{
    Start();
    ASSERT_TRUE(m_probe.paused.Wait(30000)) << "no progress report";
    auto asked = std::chrono::steady_clock::now();
    m_zip.Exit();
    Join();
    auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - asked);
    EXPECT_EQ(m_result.load(), 0);
    EXPECT_FALSE(fs::exists(m_dir.Path() + "out/big.bin"));
    // Woken by Exit itself; the 10 ms poll is only the fallback for flags stored directly.
    std::printf("the paused extraction ended %lld ms after Exit\n", static_cast<long long>(took.count()));
    EXPECT_EQ(m_probe.reports.load(), 1);
}

TEST_F(ZipPauseTest, ExitFlagStoredDirectlyIsSeenWhilePaused)
{
    Start();
    ASSERT_TRUE(m_probe.paused.Wait(30000)) << "no progress report";
    m_zip.m_exit = 1; // as an embedding caller does, without waking the extractor
    Join();
    EXPECT_EQ(m_result.load(), 0);
}

TEST(ZipCompressTest, FolderRoundTripKeepsNamesModesAndTimes)
{
    testsupport::TempDir dir;
    const std::string src = dir.Path() + "src/";
    fs::create_directories(src + "sub/deeper");
    fs::create_directories(src + "empty");
    testsupport::WriteFile(src + "top.txt", "top");
    testsupport::WriteFile(src + "sub/存档.sav", std::string(100000, 's'));
    testsupport::WriteFile(src + "sub/deeper/run.sh", "#!/bin/sh\n");
    ::chmod((src + "sub/deeper/run.sh").c_str(), 0755);
    struct stat before;
    ASSERT_EQ(::stat((src + "top.txt").c_str(), &before), 0);

    CZip zip;
    ASSERT_EQ(zip.ZipCompress(U16(src), U16(dir.Path() + "packed.zip"), true), 1);
    auto entries = ziptest::ListEntries(dir.Path() + "packed.zip");
    ASSERT_EQ(entries.size(), 6u); // three files and three folders
    for (const auto& [name, flag] : entries)
        EXPECT_EQ(flag & 0x800, 0x800u) << name;

    ASSERT_EQ(zip.ZipExtract(U16(dir.Path() + "packed.zip"), U16(dir.Path() + "copy")), 1);
    EXPECT_EQ(ReadFile(dir.Path() + "copy/top.txt"), "top");
    EXPECT_EQ(ReadFile(dir.Path() + "copy/sub/存档.sav"), std::string(100000, 's'));
    EXPECT_TRUE(fs::is_directory(dir.Path() + "copy/empty"));
    struct stat after;
    ASSERT_EQ(::stat((dir.Path() + "copy/sub/deeper/run.sh").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, 0755u);
    ASSERT_EQ(::stat((dir.Path() + "copy/top.txt").c_str(), &after), 0);
    // DOS times have a two-second resolution.
    EXPECT_LE(std::abs(after.st_mtime - before.st_mtime), 2);
}

TEST(ZipCompressTest, CodePageNamesAndSingleFiles)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.Path() + "存档.sav", "save");
    CZip zip;
    {
        CodePageScope gbk("GBK");
        ASSERT_EQ(zip.ZipCompress(U16(dir.Path() + "存档.sav"), U16(dir.Path() + "one.zip"), false), 1);
    }
    auto entries = ziptest::ListEntries(dir.Path() + "one.zip");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first, "\xB4\xE6\xB5\xB5.sav");
    EXPECT_EQ(entries[0].second & 0x800, 0u);

    EXPECT_EQ(zip.ZipCompress(U16(dir.Path() + "absent"), U16(dir.Path() + "two.zip"), true), 0);
    EXPECT_EQ(zip.ZipCompress(U16(dir.Path() + "存档.sav"), U16(dir.Path() + "no/such/dir.zip"), true), 0);
}
