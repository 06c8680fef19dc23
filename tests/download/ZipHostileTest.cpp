// Archives that are hostile, damaged or written by other archivers: what extraction refuses, what it
// accepts, and that a refused archive leaves the destination as it found it.
#include "download/Zip.h"
#include "foundation/StringConv.h"
#include "tests/download/ZipTestArchive.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::ReadFile;
using ziptest::Entry;

namespace {

class ZipHostileTest : public ::testing::Test {
protected:
    int Extract(CZip& zip, const std::vector<Entry>& entries)
    {
        std::string archive = m_dir.Path() + "in" + std::to_string(m_archives++) + ".zip";
        EXPECT_TRUE(ziptest::WriteArchive(archive, entries));
        return zip.ZipExtract(Utf8ToUtf16(archive), Utf8ToUtf16(Dest()));
    }
    int Extract(const std::vector<Entry>& entries)
    {
        CZip zip;
        return Extract(zip, entries);
    }
    std::string Dest() const { return m_dir.Path() + "out/"; }

    // Names of everything under the destination, with the targets of links and the contents of files.
    std::map<std::string, std::string> Snapshot() const
    {
        std::map<std::string, std::string> seen;
        for (const auto& item : fs::recursive_directory_iterator(Dest())) {
            const std::string name = item.path().lexically_relative(Dest()).generic_string();
            if (item.is_symlink())
                seen[name] = "-> " + fs::read_symlink(item.path()).string();
            else if (item.is_directory())
                seen[name] = "/";
            else
                seen[name] = ReadFile(item.path().string());
        }
        return seen;
    }

    // A destination that already holds a file, a link and a folder, some of which an archive replaces.
    void FillDestination()
    {
        fs::create_directories(Dest() + "saves");
        testsupport::WriteFile(Dest() + "saves/slot1.sav", "old save");
        testsupport::WriteFile(Dest() + "keep.txt", "keep");
        fs::create_symlink("keep.txt", Dest() + "readme");
    }

    testsupport::TempDir m_dir;
    int m_archives = 0;
};

const uint64_t kGiB = 1ULL << 30;

} // namespace

TEST_F(ZipHostileTest, AnArchiveThatFailsLeavesTheDestinationAsItWas)
{
    FillDestination();
    const auto before = Snapshot();
    // Good entries that replace a file and a link and make folders, then one that fails.
    const std::vector<Entry> good = {{.rawName = "saves/slot1.sav", .data = "new save"},
                                     {.rawName = "readme", .data = "text"},
                                     {.rawName = "new/deep/", .data = ""},
                                     {.rawName = "new/deep/game.bin", .data = "game"}};
    auto with = [&good](Entry last) {
        std::vector<Entry> entries = good;
        entries.push_back(std::move(last));
        return entries;
    };
    const std::string bzip2 =
        "BZh91AY&SY\x4e\xec\xe8\x36\x00\x00\x02\x51\x80\x00\x10\x40\x00\x06\x44\x90\x80\x20";
    struct Case {
        const char* what;
        Entry last;
    };
    const std::vector<Case> cases = {
        {"a method that cannot be decoded (bzip2)", {.rawName = "b.bin", .data = bzip2, .rawMethod = 12u}},
        {"an unknown method", {.rawName = "u.bin", .data = "????", .rawMethod = 99u}},
        {"an encrypted entry", {.rawName = "e.bin", .data = "secret", .flag = 1}},
        {"a wrong CRC and an overstated size",
         {.rawName = "c.bin", .data = "payload", .declaredSize = 4000, .declaredCrc = 0x12345678}},
        {"a wrong CRC and the right size",
         {.rawName = "c.bin", .data = "payload", .declaredCrc = 0x12345678}},
        {"a name that leads out", {.rawName = "../x.txt", .data = "x"}},
        {"a second entry for one file", {.rawName = "readme", .data = "again"}},
    };
    for (const Case& c : cases) {
        CZip zip;
        EXPECT_EQ(Extract(zip, with(c.last)), 0) << c.what;
        EXPECT_EQ(Snapshot(), before) << c.what;
        EXPECT_FALSE(zip.LastFailure().empty()) << c.what;
    }
    // The failure names what could not be decoded.
    CZip zip;
    ASSERT_EQ(Extract(zip, with(cases[0].last)), 0);
    EXPECT_NE(zip.LastFailure().find("bzip2"), std::string::npos) << zip.LastFailure();

    // The same good entries on their own replace what was there.
    ASSERT_EQ(Extract(good), 1);
    EXPECT_EQ(ReadFile(Dest() + "saves/slot1.sav"), "new save");
    EXPECT_FALSE(fs::is_symlink(Dest() + "readme"));
    EXPECT_EQ(ReadFile(Dest() + "keep.txt"), "keep");
    EXPECT_EQ(Snapshot().size(), before.size() + 3) << "nothing beside the new folders and file is left";
}

TEST_F(ZipHostileTest, FoldersAndNamesAsOtherArchiversWriteThem)
{
    const std::string gbkName = "\xB4\xE6\xB5\xB5.sav"; // "存档.sav" in code page 936
    ASSERT_EQ(
        Extract(
            {// Folders marked by the DOS folder attribute or a Unix folder mode alone.
             {.rawName = "saves", .data = "", .dosAttributes = 0x10},
             {.rawName = "saves/slot1.sav", .data = "s"},
             {.rawName = "bin", .data = "", .host = 3, .unixMode = S_IFDIR | 0755},
             {.rawName = "bin/run", .data = "r"},
             // A folder's method is never used.
             {.rawName = "pics/", .data = "", .rawMethod = 99u},
             // The attribute on an entry holding data does not throw the data away.
             {.rawName = "odd", .data = "data", .dosAttributes = 0x10},
             // A Unicode Path field made for this header name gives the name.
             {.rawName = gbkName,
              .data = "unicode",
              .extra = ziptest::UnicodePathField(gbkName, "角色/存档.sav")},
             // One made for another header name, or of an unknown version, is passed over.
             {.rawName = "stale.txt",
              .data = "stale",
              .extra = ziptest::UnicodePathField("renamed.txt", "new.txt")},
             {.rawName = "v2.txt", .data = "v2", .extra = ziptest::UnicodePathField("v2.txt", "x.txt", 2)},
             // A field whose length runs past the extra data is passed over as well.
             {.rawName = "cut.txt",
              .data = "cut",
              .extra = ziptest::UnicodePathField("cut.txt", "other.txt").substr(0, 6) + "\x75\x70\xff\x00"}}),
        1);
    EXPECT_TRUE(fs::is_directory(Dest() + "saves"));
    EXPECT_EQ(ReadFile(Dest() + "saves/slot1.sav"), "s");
    EXPECT_TRUE(fs::is_directory(Dest() + "bin"));
    EXPECT_TRUE(fs::is_directory(Dest() + "pics"));
    EXPECT_EQ(ReadFile(Dest() + "odd"), "data");
    EXPECT_EQ(ReadFile(Dest() + "角色/存档.sav"), "unicode");
    EXPECT_EQ(ReadFile(Dest() + "stale.txt"), "stale");
    EXPECT_EQ(ReadFile(Dest() + "v2.txt"), "v2");
    EXPECT_EQ(ReadFile(Dest() + "cut.txt"), "cut");

    // The Unicode name is held to the same rules as any other.
    EXPECT_EQ(Extract({{.rawName = "safe.txt",
                        .data = "x",
                        .extra = ziptest::UnicodePathField("safe.txt", "../x.txt")}}),
              0);
    EXPECT_FALSE(fs::exists(m_dir.Path() + "x.txt"));
}

TEST_F(ZipHostileTest, ExtractionStopsAtItsBoundsWhateverTheEntriesClaim)
{
    FillDestination();
    const auto before = Snapshot();
    auto limited = [](int64_t ratio, int64_t floor, int64_t cap) {
        auto zip = std::make_unique<CZip>();
        zip->SetLimits({.ratio = ratio, .floorBytes = floor, .hardCapBytes = cap});
        return zip;
    };
    const std::string zeros(400000, '\0'); // deflates to well under 1 KB
    struct Case {
        const char* what;
        std::vector<Entry> entries;
    };
    const std::vector<Case> cases = {
        {"one entry", {{.rawName = "keep.txt", .data = "x"}, {.rawName = "bomb.bin", .data = zeros}}},
        {"a zip64 entry", {{.rawName = "bomb.bin", .data = zeros, .zip64 = true}}},
        {"entries that pass one by one",
         {{.rawName = "a.bin", .data = zeros.substr(0, 150000)},
          {.rawName = "b.bin", .data = zeros.substr(0, 150000)},
          {.rawName = "c.bin", .data = zeros.substr(0, 150000)}}},
        {"sizes that add up past every number",
         {{.rawName = "a.bin", .data = "a", .zip64 = true, .declaredSize = ~0ULL >> 1},
          {.rawName = "b.bin", .data = "b", .zip64 = true, .declaredSize = ~0ULL >> 1},
          {.rawName = "c.bin", .data = "c", .zip64 = true, .declaredSize = ~0ULL >> 1}}},
    };
    for (const Case& c : cases) {
        // The multiple of the archive's size with its floor, then the hard cap, is the bound.
        for (auto& zip : {limited(2, 300000, kGiB), limited(1000, kGiB, 300000)}) {
            EXPECT_EQ(Extract(*zip, c.entries), 0) << c.what;
            EXPECT_EQ(Snapshot(), before) << c.what;
            EXPECT_FALSE(zip->LastFailure().empty()) << c.what;
        }
    }
    // Up to the bound, it extracts.
    EXPECT_EQ(Extract(*limited(2, 300000, kGiB), {{.rawName = "fits.bin", .data = zeros.substr(0, 290000)}}),
              1);
    EXPECT_EQ(fs::file_size(Dest() + "fits.bin"), 290000u);
}

TEST_F(ZipHostileTest, RunningOutOfSpaceIsAResultOfItsOwn)
{
    FillDestination();
    const auto before = Snapshot();
    int64_t freeBytes = 100000;
    CZip zip;
    zip.SetLimits({.freeBytes = [&freeBytes](const std::string&) { return freeBytes; }});
    const std::vector<Entry> entries = {{.rawName = "saves/slot1.sav", .data = "new"},
                                        {.rawName = "big.bin", .data = std::string(150000, 'b')}};
    EXPECT_EQ(Extract(zip, entries), kZipExtractNoSpace);
    EXPECT_EQ(Snapshot(), before);

    // Other failures keep their result while space is short.
    EXPECT_EQ(Extract(zip, {{.rawName = "../x", .data = "x"}}), 0);

    freeBytes = 200000;
    EXPECT_EQ(Extract(zip, entries), 1);
    EXPECT_EQ(fs::file_size(Dest() + "big.bin"), 150000u);
}

// A disk that fills up under the extraction: a small file system mounted in a child process's own mount
// namespace, so that nothing outside the child sees it.
TEST_F(ZipHostileTest, ADiskFoundFullIsNoSpaceToo)
{
    const std::string archive = m_dir.Path() + "big.zip";
    ASSERT_TRUE(ziptest::WriteArchive(archive, {{.rawName = "small.bin", .data = "s"},
                                                {.rawName = "big.bin", .data = std::string(1 << 20, 'z')}}));
    const std::string mountPoint = m_dir.Path() + "small/";
    fs::create_directory(mountPoint);
    constexpr int kCannotMount = 100;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0)
            ::_exit(kCannotMount);
        CZip zip;
        // Free space unknown, so only the writes find the disk full.
        zip.SetLimits({.freeBytes = [](const std::string&) { return int64_t{-1}; }});
        const int result = zip.ZipExtract(Utf8ToUtf16(archive), Utf8ToUtf16(mountPoint + "out/"));
        std::error_code ec;
        ::_exit(result == kZipExtractNoSpace ? (fs::is_empty(mountPoint + "out/", ec) ? 0 : 50)
                                             : 10 + result);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kCannotMount)
        GTEST_SKIP() << "no mount namespace for a small file system here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 + the result, or 50 when files were left behind";
}

TEST_F(ZipHostileTest, DefaultBoundsFollowTheArchiveSize)
{
    // A few hundred bytes claiming more than the floor and a hundred times their size are refused
    // before anything is written, whatever the free space.
    EXPECT_EQ(
        Extract(
            {{.rawName = "claims.bin", .data = "small", .zip64 = true, .declaredSize = kGiB + (1 << 20)}}),
        0);
    EXPECT_FALSE(fs::exists(Dest() + "claims.bin"));
    // An archive of ordinary ratio that is this small fits the floor.
    EXPECT_EQ(Extract({{.rawName = "zeros.bin", .data = std::string(8 << 20, '\0')}}), 1);
    EXPECT_EQ(fs::file_size(Dest() + "zeros.bin"), 8u << 20);
}
