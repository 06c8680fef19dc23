#include "tests/download/EngineFixture.h"

#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "foundation/NetGlobal.h"
#include "tests/download/ZipTestArchive.h"

#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace enginetest {

std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xff);
    return bytes;
}

std::string Md5Hex(const std::string& bytes)
{
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), value, &length, EVP_md5(), nullptr);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", value[i]);
        hex += pair;
    }
    return hex;
}

void EngineTest::SetUpTestSuite()
{
    ASSERT_TRUE(NetGlobalInit());
}

void EngineTest::TearDownTestSuite()
{
    NetGlobalCleanup();
}

void EngineTest::TearDown()
{
    StopEngine();
    if (m_store)
        m_store->Shutdown();
}

void EngineTest::ServeFile(const std::string& relative, const std::string& bytes)
{
    std::filesystem::path path = m_server.DataDir() + "download/" + relative;
    std::filesystem::create_directories(path.parent_path());
    ASSERT_TRUE(WriteFile(path.string(), bytes)) << relative;
}

void EngineTest::ServeDescriptor(const std::string& gameId, const Json::Value& descriptor)
{
    ASSERT_TRUE(WriteFile(m_server.DataDir() + "descriptors/" + gameId + ".json",
                          Json::writeString(Json::StreamWriterBuilder(), descriptor)));
}

std::string EngineTest::MakeArchive(const std::vector<std::pair<std::string, std::string>>& entries)
{
    testsupport::TempDir dir;
    std::vector<ziptest::Entry> zipEntries;
    for (const auto& [name, data] : entries) {
        ziptest::Entry entry;
        entry.rawName = name;
        entry.data = data;
        entry.flag = 0x800;
        zipEntries.push_back(entry);
    }
    EXPECT_TRUE(ziptest::WriteArchive(dir.Path() + "a.zip", zipEntries));
    return ReadFile(dir.Path() + "a.zip");
}

std::string EngineTest::ServeSingleGame(const std::string& gameId,
                                        const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string archive = MakeArchive(entries);
    ServeFile("games/" + gameId + ".zip", archive);
    Json::Value descriptor;
    descriptor["status"] = 1;
    descriptor["fileurl"] = "{{origin}}/download/games/" + gameId + ".zip";
    descriptor["volume"] = "0";
    ServeDescriptor(gameId, descriptor);
    return archive;
}

DownloadGameFields EngineTest::Game(const std::string& gameId, const std::string& emulatorId) const
{
    DownloadGameFields game;
    game.gameid = gameId;
    game.icon = "icons/" + gameId + ".png";
    game.gamename = "游戏" + gameId;
    game.emulatorshortname = "PS";
    game.categoryshortname = "act";
    game.emulatorid = emulatorId;
    game.categoryid = "7";
    game.playurl = "http://example.invalid/play/" + gameId;
    game.size = "1.00";
    return game;
}

void EngineTest::MakeEngine(int sliceMs)
{
    MakeEngineWith(m_chooser, sliceMs);
}

void EngineTest::MakeEngineWith(std::shared_ptr<IDownloadSourceChooser> chooser, int sliceMs)
{
    if (!m_store)
        m_store = std::make_unique<CGameStore>(m_server.Dir() + "database/quokka.db");
    DownloadEngineOptions options;
    options.store = m_store.get();
    options.chooser = std::move(chooser);
    options.romDir = m_libraryFolder.empty() ? RomRoot() : m_libraryFolder;
    options.pictureFolder = m_server.Dir() + "pictures/";
    options.sliceMs = sliceMs;
    options.freeBytes = m_freeBytes;
    options.addToLibrary = [this](const GameinfoRecord& game) {
        std::lock_guard lock(m_libraryMutex);
        m_library.push_back(game);
    };
    m_engine = std::make_unique<DownloadManager>(std::move(options));
    m_engine->Start(kMainWindow, kListWindow);
}

void EngineTest::StopEngine()
{
    if (m_engine)
        m_engine->Shutdown();
    m_engine.reset();
}

bool EngineTest::WaitFor(const std::function<bool(const Seen&)>& match, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        auto message = m_messages.Next(static_cast<int>(left.count()));
        if (!message)
            return false;
        Seen seen;
        seen.hwnd = message->hwnd;
        seen.message = message->message;
        seen.wParam = message->wParam;
        if ((message->message == WM_DOWNLOAD_STATUS || message->message == WM_DOWNLOAD_ACTIVE) &&
            message->lParam)
            seen.gameId = *message->Payload<std::string>();
        if (message->message == WM_DOWNLOAD_ADDED && message->lParam)
            seen.gameId = message->Payload<DownloadTask>()->GameId();
        if (message->message == WM_GAME_INSTALLED && message->lParam)
            seen.gameId = message->Payload<GameinfoRecord>()->GameId;
        if (message->message == WM_DOWNLOAD_PROGRESS && message->lParam) {
            auto* progress = message->Payload<DownloadProgress>();
            seen.progressKind = progress->kind;
            seen.errorCode = progress->errorCode;
            seen.done = progress->done;
            seen.total = progress->total;
            seen.volume = progress->currentVolume;
        }
        m_seen.push_back(seen);
        if (match(seen))
            return true;
    }
}

bool EngineTest::WaitStatus(const std::string& gameId, int status, int timeoutMs)
{
    return WaitFor(
        [&](const Seen& seen) {
            return seen.message == WM_DOWNLOAD_STATUS && seen.hwnd == kMainWindow && seen.gameId == gameId &&
                   static_cast<int>(seen.wParam) == status;
        },
        timeoutMs);
}

bool EngineTest::WaitStatusAll(const std::vector<std::string>& gameIds, int status, int timeoutMs)
{
    std::set<std::string> waiting(gameIds.begin(), gameIds.end());
    bool reached = WaitFor(
        [&](const Seen& seen) {
            if (seen.message == WM_DOWNLOAD_STATUS && seen.hwnd == kMainWindow &&
                static_cast<int>(seen.wParam) == status)
                waiting.erase(seen.gameId);
            return waiting.empty();
        },
        timeoutMs);
    for (const std::string& gameId : waiting)
        ADD_FAILURE() << gameId << " never reached status " << status;
    return reached;
}

std::vector<int> EngineTest::Statuses(const std::string& gameId) const
{
    std::vector<int> statuses;
    for (const Seen& seen : m_seen)
        if (seen.message == WM_DOWNLOAD_STATUS && seen.hwnd == kMainWindow && seen.gameId == gameId)
            statuses.push_back(static_cast<int>(seen.wParam));
    return statuses;
}

void EngineTest::StoreRow(const std::string& gameId, const std::string& shortName, const std::string& folder)
{
    if (!m_store)
        m_store = std::make_unique<CGameStore>(m_server.Dir() + "database/quokka.db");
    DownloadTaskRecord record;
    record.GameId = gameId;
    record.GameName = "游戏" + gameId;
    record.EmulatorShortName = shortName;
    record.EmulatorId = "119";
    record.FilePath = folder;
    record.FileName = gameId + ".zip";
    record.NeedUnZip = "1";
    record.Source = kSourceOwnServer;
    record.TotalSize = "1.00";
    record.UrlList[0] = Origin() + "/download/games/" + gameId + ".zip";
    ASSERT_TRUE(m_store->Submit(kStoreAddDownload, &record, false, false));
}

DownloadTaskMap EngineTest::StoredDownloads()
{
    DownloadTaskMap rows;
    EXPECT_TRUE(m_store->Submit(kStoreReadDownloads, &rows, false, false));
    return rows;
}

GameinfoMap EngineTest::StoredGames()
{
    GameinfoMap rows;
    EXPECT_TRUE(m_store->Submit(kStoreReadGameinfo, &rows, false, false));
    return rows;
}

std::vector<std::string> EngineTest::Ranges(const std::string& path) const
{
    std::vector<std::string> ranges;
    std::istringstream in(ReadFile(m_server.Dir() + "requests.log"));
    std::string text;
    while (std::getline(in, text)) {
        Json::Value line;
        std::istringstream(text) >> line;
        if (line["method"].asString() == "GET" && line["path"].asString() == path)
            ranges.push_back(line["range"].asString());
    }
    return ranges;
}

} // namespace enginetest
