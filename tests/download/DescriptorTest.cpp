// Download descriptors of every kind, served by the stand-in server with the installation's
// identity, turned into a task's source tables, offered to a chooser and stored in a real game store.

#include "download/DownLoadUrl.h"
#include "download/DownloadTaskPreparation.h"
#include "download/VolumeList.h"
#include "foundation/AppSettings.h"
#include "foundation/NetGlobal.h"
#include "store/GameStore.h"
#include "tests/account/IdentityServer.h"

#include <gtest/gtest.h>
#include <json/json.h>

using testsupport::ReadFile;
using testsupport::WriteFile;
using Map = std::map<int, std::string>;

namespace {

// Answers with a fixed choice and records what it was offered.
class RecordingChooser : public IDownloadSourceChooser {
public:
    explicit RecordingChooser(int answer) : m_answer(answer) {}
    int ChooseDownloadSource(platform::HWND owner, int offerMask) override
    {
        ++calls;
        lastOwner = owner;
        lastMask = offerMask;
        return m_answer;
    }
    int calls = 0;
    int lastMask = -1;
    platform::HWND lastOwner = nullptr;

private:
    int m_answer;
};

class DescriptorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }
    static void TearDownTestSuite() { NetGlobalCleanup(); }

    void Serve(const std::string& gameId, const std::string& json)
    {
        ASSERT_TRUE(WriteFile(m_server.DataDir() + "descriptors/" + gameId + ".json", json));
    }

    DownloadTaskRecord NewTask(const std::string& gameId, const std::string& emulatorId = "125")
    {
        DownloadTaskRecord task;
        task.GameId = gameId;
        task.GameName = "游戏" + gameId;
        task.EmulatorId = emulatorId;
        task.EmulatorShortName = "FC";
        task.FilePath = m_server.Dir() + "games/FC/" + gameId + "/";
        task.FileName = gameId + ".zip";
        task.NeedUnZip = "1";
        task.CurrentSize = "0.0";
        return task;
    }

    // Prepares a new task answering `choice`; the chooser's offered mask lands in `mask`.
    bool Prepare(DownloadTaskRecord& task, int choice, int& mask)
    {
        RecordingChooser chooser(choice);
        bool ready = PrepareDownloadTask(task, m_owner, chooser, *m_store) == PrepareOutcome::Ready;
        mask = chooser.lastMask;
        return ready;
    }

    DownloadTaskMap Stored()
    {
        DownloadTaskMap rows;
        EXPECT_TRUE(m_store->Submit(kStoreReadDownloads, &rows, false, false));
        return rows;
    }

    testsupport::IdentityServer m_server;
    std::unique_ptr<CGameStore> m_store = std::make_unique<CGameStore>(m_server.Dir() + "database/quokka.db");
    platform::HWND m_owner = reinterpret_cast<platform::HWND>(0x1234);
};

TEST(VolumeListTest, EntriesSplitAtBarsAndCommas)
{
    EXPECT_EQ(ParseVolumeUrlList("u1|1,u2|2,u3"), (Map{{1, "u1"}, {2, "u2"}}));
    EXPECT_EQ(ParseVolumeUrlList("a|3x,b|,|4,c|1|2,d|,,e|007"), (Map{{3, "a"}, {7, "e"}}));
    EXPECT_EQ(ParseVolumeUrlList("a|x"), (Map{{0, "a"}})) << "a number without digits is 0";
    EXPECT_EQ(ParseVolumeUrlList("a|1,b|1"), (Map{{1, "a"}})) << "the first of one number is kept";
    EXPECT_EQ(ParseVolumeUrlList("a|99999999999999999999"), (Map{{INT32_MAX, "a"}}));
    EXPECT_TRUE(ParseVolumeUrlList("").empty());
}

TEST_F(DescriptorTest, RequestSendsTheRegisteredIdentityAndFillsTheModel)
{
    Serve("7", R"({"filelist": ["m1", "m2"], "filelist2": [], "cloudurl": {"baidu": ["s1"]}, "status": 1,
                   "msg": "好", "fileurl": "f0", "fileurl2": "", "filename": "x.zip", "needsize": 5000000000,
                   "filemd5": "abc", "verify": [{"path": "a/b.nes", "size": "12", "verify": ""}, 3],
                   "_run_time": 0.5, "volume": "0", "volumeurl": ""})");
    CDownLoadUrl descriptor;
    ASSERT_TRUE(RequestDownloadDescriptor("7", descriptor));
    EXPECT_EQ(descriptor.filelist, (std::vector<std::string>{"m1", "m2"}));
    EXPECT_EQ(descriptor.cloudurl.baidu, (std::vector<std::string>{"s1"}));
    EXPECT_EQ(descriptor.fileurl, "f0");
    EXPECT_EQ(descriptor.needsize, 5000000000);
    ASSERT_EQ(descriptor.VerifyEntries().size(), 2u);
    EXPECT_EQ(descriptor.VerifyEntries()[0]->path, "a/b.nes");
    EXPECT_EQ(descriptor.VerifyEntries()[1]->path, "") << "an element that is no object fills nothing";

    UserIdentity user;
    CAppSettings(m_server.ConfigPath()).LoadUser(user);
    auto requests = m_server.Logged("downfile");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["body"].asString(),
              "model=user&action=downfile&uid=" + user.Uid + "&ticket=" + user.Ticket + "&gameid=7");
    EXPECT_EQ(m_server.Logged("register").size(), 1u);

    // A game without a descriptor answers status -1: still JSON, so the request itself succeeds.
    CDownLoadUrl missing;
    EXPECT_TRUE(RequestDownloadDescriptor("8", missing));
    EXPECT_EQ(missing.status, -1);
}

TEST_F(DescriptorTest, RequestFailsOnBrokenOrOversizeAnswers)
{
    CDownLoadUrl descriptor;
    ASSERT_TRUE(RequestDownloadDescriptor("8", descriptor)); // registers
    Serve("9", "not json");
    EXPECT_FALSE(RequestDownloadDescriptor("9", descriptor));
    Serve("9", R"({"fileurl": "x", "pad": ")" + std::string(kMaxDescriptorBytes, 'p') + "\"}");
    EXPECT_FALSE(RequestDownloadDescriptor("9", descriptor));
    EXPECT_EQ(descriptor.fileurl, "");
    ASSERT_TRUE(m_server.Faults(R"({"path": "/clientapi/", "status": 500})"));
    EXPECT_FALSE(RequestDownloadDescriptor("8", descriptor));
}

TEST_F(DescriptorTest, SingleArchiveWithMirrorShareAndNoZip)
{
    Serve("20001", R"({"fileurl": "http://h/g.zip", "filelist": ["http://h/m.zip"],
                       "fileurl2": "http://h/nz/b.nes", "filelist2": ["http://h/nz2/b.nes"],
                       "cloudurl": {"baidu": ["http://s/share/link/share-a", "http://s/share/link/share-b"]},
                       "verify": [{"path": "b.nes", "size": "40960"}, {"path": "a.txt", "size": "12"}],
                       "filename": "ignored.zip", "volume": "0"})");
    DownloadTaskRecord task = NewTask("20001");
    int mask = 0;
    ASSERT_TRUE(Prepare(task, kSourceOwnServer, mask));
    EXPECT_EQ(mask, kSourceBaiduPan | kSourceOwnServer | kSourceNoZip);
    EXPECT_EQ(task.UrlList, (Map{{0, "http://h/g.zip"}, {1, "http://h/m.zip"}}));
    EXPECT_EQ(task.NoZipUrlList, (Map{{0, "http://h/nz/b.nes"}, {1, "http://h/nz2/b.nes"}}));
    EXPECT_EQ(task.PanUrlList, (Map{{0, "http://s/share/link/share-a"}, {1, "http://s/share/link/share-b"}}));
    EXPECT_EQ(task.FileList, (std::map<std::string, std::string>{{"a.txt", "12"}, {"b.nes", "40960"}}));
    EXPECT_EQ(task.FileName, "20001.zip") << "filename is for the arcade emulators only";
    EXPECT_EQ(task.Source, kSourceOwnServer);
    EXPECT_EQ(task.NeedUnZip, "1");
    EXPECT_EQ(task.Volume, "0");

    // What was stored reads back the same.
    DownloadTaskMap rows = Stored();
    ASSERT_EQ(rows.count("20001"), 1u);
    EXPECT_EQ(rows["20001"], task);
}

TEST_F(DescriptorTest, NoZipChoiceSavesUnderTheFirstFileAndSkipsExtraction)
{
    Serve("5", R"({"fileurl": "u", "fileurl2": "n", "verify": [{"path": "z/b.nes", "size": "2"},
                   {"path": "a/c.nes", "size": "1"}]})");
    DownloadTaskRecord task = NewTask("5");
    int mask = 0;
    ASSERT_TRUE(Prepare(task, kSourceNoZip, mask));
    EXPECT_EQ(mask, kSourceOwnServer | kSourceNoZip);
    EXPECT_EQ(task.Source, kSourceNoZip);
    EXPECT_EQ(task.NeedUnZip, "0");
    EXPECT_EQ(task.FileName, "a/c.nes");
    EXPECT_EQ(Stored()["5"], task);
}

TEST_F(DescriptorTest, ListOnlyAnswerKeepsFileListKeys)
{
    Serve("6", R"({"fileurl": "", "filelist": ["l1", "l2"], "verify": []})");
    DownloadTaskRecord task = NewTask("6");
    int mask = 0;
    ASSERT_TRUE(Prepare(task, kSourceOwnServer, mask));
    EXPECT_EQ(mask, kSourceOwnServer);
    EXPECT_EQ(task.UrlList, (Map{{1, "l1"}, {2, "l2"}}));
    // The stored list keeps the order, not the keys.
    EXPECT_EQ(Stored()["6"].UrlList, (Map{{0, "l1"}, {1, "l2"}}));
}

TEST_F(DescriptorTest, VolumesNeverOfferNoZip)
{
    Serve("4", R"({"volume": "1", "volumeurl": "u1|1,u2|2,u3", "fileurl2": "nz", "fileurl": "ignored",
                   "cloudurl": {"baidu": ["s1|1,s2|2", "", "t1|1"]},
                   "verify": [{"path": "g.iso", "size": "99"}]})");
    DownloadTaskRecord task = NewTask("4");
    int mask = 0;
    ASSERT_TRUE(Prepare(task, kSourceBaiduPan, mask));
    EXPECT_EQ(mask, kSourceBaiduPan | kSourceOwnServer);
    EXPECT_EQ(task.Volume, "1");
    EXPECT_EQ(task.VolumeUrlList, (std::map<int, Map>{{0, {{1, "u1"}, {2, "u2"}}}}));
    EXPECT_EQ(task.VolumePanUrlList, (std::map<int, Map>{{0, {{1, "s1"}, {2, "s2"}}}, {2, {{1, "t1"}}}}));
    EXPECT_TRUE(task.UrlList.empty());
    EXPECT_TRUE(task.NoZipUrlList.empty());
    EXPECT_EQ(task.Source, kSourceBaiduPan);
    EXPECT_EQ(Stored()["4"].VolumeUrlList, task.VolumeUrlList);
}

TEST_F(DescriptorTest, ShareOnlyAndNoSourceAnswers)
{
    Serve("3", R"({"cloudurl": {"baidu": ["http://s/share/link/share-only"]}})");
    DownloadTaskRecord shareOnly = NewTask("3");
    int mask = 0;
    ASSERT_TRUE(Prepare(shareOnly, kSourceBaiduPan, mask));
    EXPECT_EQ(mask, kSourceBaiduPan);

    // Without any source the chooser is still asked, with nothing to offer; closing drops the task.
    Serve("2", R"({"status": 1, "verify": [{"path": "x", "size": "1"}]})");
    DownloadTaskRecord none = NewTask("2");
    EXPECT_FALSE(Prepare(none, kSourceClosed, mask));
    EXPECT_EQ(mask, 0);
    EXPECT_EQ(Stored().count("2"), 0u);
}

TEST_F(DescriptorTest, ArcadeEmulatorsSaveUnderTheAnswersFileName)
{
    for (const char* emulator : {"126", "123", "146", "125"}) {
        const std::string id = std::string("9") + emulator;
        Serve(id, R"({"fileurl": "u", "filename": "qkrom.zip"})");
        DownloadTaskRecord task = NewTask(id, emulator);
        int mask = 0;
        ASSERT_TRUE(Prepare(task, kSourceOwnServer, mask)) << emulator;
        EXPECT_EQ(task.FileName, std::string(emulator) == "125" ? id + ".zip" : "qkrom.zip") << emulator;
    }
}

TEST_F(DescriptorTest, ServerNamesThatWouldLeaveTheFolderAreRefused)
{
    // An arcade file name outside the folder refuses the descriptor before the chooser is asked,
    // whichever separator it uses, and so does one the emulator would take for an option.
    for (const char* name : {"../../evil.zip", "/etc/passwd", "", "dir/", "a/../../b.zip", "..\\\\evil.zip",
                             "a\\\\..\\\\..\\\\b.zip", "dir\\\\", "C:\\\\x.zip", "-rf.zip", "roms/-x.zip"}) {
        Serve("31", std::string(R"({"fileurl": "u", "filename": ")") + name + "\"}");
        DownloadTaskRecord task = NewTask("31", "123");
        RecordingChooser chooser(kSourceOwnServer);
        EXPECT_EQ(PrepareDownloadTask(task, m_owner, chooser, *m_store), PrepareOutcome::Refused) << name;
        EXPECT_EQ(chooser.calls, 0) << name;
    }
    // A no-zip source whose first file is outside the folder, or looks like an option, is not
    // offered.
    int mask = 0;
    for (const char* path : {"../x.nes", "-x.nes"}) {
        Serve("32", std::string(R"({"fileurl": "u", "fileurl2": "n", "verify": [{"path": ")") + path +
                        R"(", "size": "1"}]})");
        DownloadTaskRecord task = NewTask("32");
        ASSERT_TRUE(Prepare(task, kSourceOwnServer, mask)) << path;
        EXPECT_EQ(mask, kSourceOwnServer) << path;
    }

    // A game id that is not one plain name is dropped without a request.
    for (const char* id : {"../7", "a/b", "..", ""}) {
        DownloadTaskRecord bad = NewTask(id);
        EXPECT_FALSE(Prepare(bad, kSourceOwnServer, mask)) << id;
    }
    EXPECT_EQ(m_server.Logged("downfile").size(), 13u) << "eleven arcade answers and two no-zip answers";
    EXPECT_EQ(Stored().size(), 1u) << "the two no-zip answers were for one game";
}

TEST_F(DescriptorTest, NamesAreSavedInTheFormTheyWereCheckedIn)
{
    // A backslash separates as '/' does, for the check and for the name that is used.
    Serve("33", R"({"fileurl": "u", "filename": "roms\\.\\qk\\game.zip"})");
    DownloadTaskRecord arcade = NewTask("33", "146");
    int mask = 0;
    ASSERT_TRUE(Prepare(arcade, kSourceOwnServer, mask));
    EXPECT_EQ(arcade.FileName, "roms/qk/game.zip");
    EXPECT_EQ(Stored()["33"].FileName, "roms/qk/game.zip");

    Serve("34", R"({"fileurl2": "n", "verify": [{"path": "sub\\b.nes", "size": "7"}]})");
    DownloadTaskRecord noZip = NewTask("34");
    ASSERT_TRUE(Prepare(noZip, kSourceNoZip, mask));
    EXPECT_EQ(mask, kSourceNoZip);
    EXPECT_EQ(noZip.FileName, "sub/b.nes");
}

TEST_F(DescriptorTest, ListsPastTheirCeilingsRefuseTheDescriptor)
{
    auto urls = [](size_t count) {
        Json::Value list(Json::arrayValue);
        for (size_t i = 0; i < count; ++i)
            list.append("http://h/" + std::to_string(i));
        return list;
    };
    auto volumes = [](size_t count) {
        std::string list;
        for (size_t i = 1; i <= count; ++i)
            list += (i > 1 ? "," : "") + std::string("http://h/v|") + std::to_string(i);
        return list;
    };
    Json::Value files(Json::arrayValue);
    for (size_t i = 0; i <= kMaxDescriptorFiles; ++i) {
        Json::Value file;
        file["path"] = std::to_string(i);
        file["size"] = "1";
        files.append(file);
    }
    std::vector<Json::Value> past(6, Json::Value(Json::objectValue));
    past[0]["filelist"] = urls(kMaxDescriptorLinks + 1);
    past[1]["filelist2"] = urls(kMaxDescriptorLinks + 1);
    past[2]["cloudurl"]["baidu"] = urls(kMaxDescriptorLinks + 1);
    past[3]["volume"] = "1";
    past[3]["volumeurl"] = volumes(kMaxDescriptorVolumes + 1);
    past[4]["volume"] = "1";
    past[4]["cloudurl"]["baidu"].append(volumes(kMaxDescriptorVolumes + 1));
    past[5]["fileurl"] = "u";
    past[5]["verify"] = files;
    for (size_t i = 0; i < past.size(); ++i) {
        Serve("36", Json::writeString(Json::StreamWriterBuilder(), past[i]));
        DownloadTaskRecord task = NewTask("36");
        RecordingChooser chooser(kSourceOwnServer);
        EXPECT_EQ(PrepareDownloadTask(task, m_owner, chooser, *m_store), PrepareOutcome::Refused) << i;
        EXPECT_EQ(chooser.calls, 0) << i;
    }
    EXPECT_TRUE(Stored().empty());

    // At the ceilings the descriptor is taken.
    Json::Value full;
    full["volume"] = "1";
    full["volumeurl"] = volumes(kMaxDescriptorVolumes);
    full["cloudurl"]["baidu"] = urls(kMaxDescriptorLinks);
    Serve("37", Json::writeString(Json::StreamWriterBuilder(), full));
    DownloadTaskRecord task = NewTask("37");
    int mask = 0;
    ASSERT_TRUE(Prepare(task, kSourceOwnServer, mask));
    EXPECT_EQ(task.VolumeUrlList[0].size(), kMaxDescriptorVolumes);
}

TEST_F(DescriptorTest, ClosedChooserOrFailedRequestStoresNothing)
{
    Serve("11", R"({"fileurl": "u"})");
    DownloadTaskRecord closed = NewTask("11");
    int mask = 0;
    EXPECT_FALSE(Prepare(closed, kSourceClosed, mask));
    EXPECT_EQ(mask, kSourceOwnServer);

    // An answer that was not offered counts as closed.
    DownloadTaskRecord unoffered = NewTask("11");
    EXPECT_FALSE(Prepare(unoffered, kSourceNoZip, mask));

    ASSERT_TRUE(m_server.Faults(R"({"path": "/clientapi/", "status": 500})"));
    DownloadTaskRecord failed = NewTask("11");
    RecordingChooser chooser(kSourceOwnServer);
    EXPECT_EQ(PrepareDownloadTask(failed, m_owner, chooser, *m_store), PrepareOutcome::Dropped);
    EXPECT_EQ(chooser.calls, 0);
    EXPECT_TRUE(Stored().empty());
}

TEST_F(DescriptorTest, RegistrationFailureDropsTheTaskWithoutADescriptorRequest)
{
    testsupport::CannedServer canned(200, "");
    testsupport::PointApiAt(canned.ApiUrl());
    Serve("12", R"({"fileurl": "u"})");
    DownloadTaskRecord task = NewTask("12");
    RecordingChooser chooser(kSourceOwnServer);
    EXPECT_EQ(PrepareDownloadTask(task, m_owner, chooser, *m_store), PrepareOutcome::Dropped);
    EXPECT_EQ(chooser.calls, 0);
    EXPECT_TRUE(Stored().empty());
}

TEST_F(DescriptorTest, EntriesTheStoredListsCannotKeepAreLeftOut)
{
    Serve("13",
          R"({"fileurl": "a;b", "filelist": ["ok"], "fileurl2": "n", "verify": [{"path": "x;y", "size": "1"},
                    {"path": "b.nes", "size": "1|2"}, {"path": "c.nes", "size": "3"}]})");
    DownloadTaskRecord task = NewTask("13");
    int mask = 0;
    ASSERT_TRUE(Prepare(task, kSourceNoZip, mask));
    EXPECT_EQ(task.UrlList, (Map{{1, "ok"}}));
    EXPECT_EQ(task.FileList, (std::map<std::string, std::string>{{"c.nes", "3"}}));
    EXPECT_EQ(task.FileName, "c.nes");
}

TEST_F(DescriptorTest, InstalledChooserDefaultsToClosed)
{
    EXPECT_EQ(InstalledDownloadSourceChooser()->ChooseDownloadSource(nullptr, 13), kSourceClosed);
    auto chooser = std::make_shared<RecordingChooser>(kSourceNoZip);
    InstallDownloadSourceChooser(chooser);
    EXPECT_EQ(InstalledDownloadSourceChooser()->ChooseDownloadSource(m_owner, 12), kSourceNoZip);
    EXPECT_EQ(chooser->lastOwner, m_owner);
    InstallDownloadSourceChooser(nullptr);
    EXPECT_EQ(InstalledDownloadSourceChooser()->ChooseDownloadSource(nullptr, 13), kSourceClosed);
}

} // namespace
