// Volume games taken up again after a stop: the file cut below a volume boundary (as a power cut
// may leave it) resumes inside the volume that holds its size, and a file that holds every
// recorded volume is extracted without any request.

#include "tests/download/EngineFixture.h"

#include <filesystem>

using namespace enginetest;
using testsupport::ReadFile;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

class DownloadResumeTest : public EngineTest {
protected:
    std::string Folder(const std::string& gameId) const { return RomRoot() + "PS/" + gameId + "/"; }

    // Serves the archive of `entries` as three volumes; returns their contents.
    std::vector<std::string> ServeVolumes(const std::string& gameId, const Entries& entries)
    {
        std::string archive = MakeArchive(entries);
        size_t third = archive.size() / 3;
        std::vector<std::string> volumes = {archive.substr(0, third), archive.substr(third, third),
                                            archive.substr(2 * third)};
        std::string list;
        for (size_t i = 0; i < volumes.size(); ++i) {
            std::string name = "volumes/" + gameId + ".z0" + std::to_string(i + 1);
            ServeFile(name, volumes[i]);
            list += (i ? "," : "") + std::string("{{origin}}/download/") + name + "|" + std::to_string(i + 1);
        }
        Json::Value descriptor;
        descriptor["volume"] = "1";
        descriptor["volumeurl"] = list;
        ServeDescriptor(gameId, descriptor);
        return volumes;
    }
};

TEST_F(DownloadResumeTest, FileCutBelowAVolumeBoundaryResumesInTheVolumeThatHoldsIt)
{
    Entries entries = {{"game.bin", RandomBytes(900 * 1024, 71)}};
    std::vector<std::string> volumes = ServeVolumes("70001", entries);
    ASSERT_TRUE(
        Faults(R"([{"path": "/download/volumes/", "prefix": true, "method": "GET", "rateKiBps": 600}])"));
    MakeEngine();
    m_engine->AddTask(Game("70001"), kOwnerWindow);
    ASSERT_TRUE(WaitFor(
        [](const Seen& seen) { return seen.progressKind == 2 && seen.volume == 2 && seen.done > 50000; }));
    ASSERT_TRUE(m_engine->RequestState("70001", kTaskPauseRequested));
    ASSERT_TRUE(WaitStatus("70001", kDisplayPaused));
    StopEngine();
    DownloadTaskMap rows = StoredDownloads();
    ASSERT_EQ(rows["70001"].VolumeFileLenth.size(), 2u);
    EXPECT_EQ(rows["70001"].VolumeFileLenth[1], std::to_string(volumes[0].size()));

    // The power cut: the first volume's end was never written out.
    std::string archive = Folder("70001") + "70001.zip";
    int64_t cut = static_cast<int64_t>(volumes[0].size()) - 1000;
    std::filesystem::resize_file(archive, static_cast<uintmax_t>(cut));
    ASSERT_TRUE(Faults("[]"));
    MakeEngine();
    ASSERT_TRUE(m_engine->RequestState("70001", kTaskReady));
    ASSERT_TRUE(WaitStatus("70001", kDisplayInstalled));
    EXPECT_EQ(ReadFile(Folder("70001") + "game.bin"), entries[0].second);
    EXPECT_EQ(Ranges("/download/volumes/70001.z01").back(), "bytes=" + std::to_string(cut) + "-");
    EXPECT_EQ(Ranges("/download/volumes/70001.z02").back(), "");
}

TEST_F(DownloadResumeTest, FileHoldingEveryRecordedVolumeIsExtractedWithoutARequest)
{
    Entries entries = {{"game.bin", RandomBytes(200 * 1024, 72)}};
    std::vector<std::string> volumes = ServeVolumes("70002", entries);
    m_store = std::make_unique<CGameStore>(m_server.Dir() + "database/quokka.db");
    DownloadTaskRecord record;
    record.GameId = "70002";
    record.GameName = "游戏70002";
    record.EmulatorShortName = "PS";
    record.EmulatorId = "119";
    record.FilePath = Folder("70002");
    record.FileName = "70002.zip";
    record.NeedUnZip = "1";
    record.Volume = "1";
    record.Source = kSourceOwnServer;
    for (int i = 0; i < 3; ++i) {
        record.VolumeUrlList[0][i + 1] = Origin() + "/download/volumes/70002.z0" + std::to_string(i + 1);
        record.VolumeFileLenth[i + 1] = std::to_string(volumes[static_cast<size_t>(i)].size());
    }
    ASSERT_TRUE(m_store->Submit(kStoreAddDownload, &record, false, false));
    std::filesystem::create_directories(Folder("70002"));
    ASSERT_TRUE(testsupport::WriteFile(Folder("70002") + "70002.zip", volumes[0] + volumes[1] + volumes[2]));

    MakeEngine();
    ASSERT_TRUE(m_engine->RequestState("70002", kTaskReady));
    ASSERT_TRUE(WaitStatus("70002", kDisplayInstalled));
    EXPECT_EQ(ReadFile(Folder("70002") + "game.bin"), entries[0].second);
    for (int i = 1; i <= 3; ++i)
        EXPECT_TRUE(Ranges("/download/volumes/70002.z0" + std::to_string(i)).empty());
}

} // namespace
