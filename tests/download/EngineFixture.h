#pragma once

#include "download/DownloadManager.h"
#include "store/GameStore.h"
#include "tests/account/IdentityServer.h"
#include "tests/support/MessageRecorder.h"

#include <json/json.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace enginetest {

inline platform::HWND const kMainWindow = reinterpret_cast<platform::HWND>(0x1001);
inline platform::HWND const kListWindow = reinterpret_cast<platform::HWND>(0x1002);
inline platform::HWND const kOwnerWindow = reinterpret_cast<platform::HWND>(0x1003);

// Answers every source question with one choice.
class FixedChooser : public IDownloadSourceChooser {
public:
    int ChooseDownloadSource(platform::HWND, int offerMask) override
    {
        lastMask = offerMask;
        return answer;
    }
    std::atomic<int> answer{kSourceOwnServer};
    std::atomic<int> lastMask{-1};
};

// One message the engine posted, with its game id text when it carried one.
struct Seen {
    platform::HWND hwnd = nullptr;
    platform::UINT message = 0;
    platform::WPARAM wParam = 0;
    std::string gameId;
    int progressKind = 0;
    int errorCode = 0;
    double done = 0;
    double total = 0;
    int volume = 0;
};

// Pseudo-random bytes (they do not compress), the same for the same seed.
std::string RandomBytes(size_t size, unsigned seed);

// The MD5 of `bytes` as 32 upper-case hexadecimal digits (the engine takes either case).
std::string Md5Hex(const std::string& bytes);

// A real engine on a real store, with the stand-in server on a loopback port serving the games the
// test makes, and the posted messages recorded.
class EngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void TearDown() override;

    std::string RomRoot() const { return m_server.Dir() + "roms/"; }
    std::string Origin() { return m_server.Server().Origin(); }
    // Writes `bytes` as the served file download/<relative>.
    void ServeFile(const std::string& relative, const std::string& bytes);
    // Writes the game's descriptor.
    void ServeDescriptor(const std::string& gameId, const Json::Value& descriptor);
    // A zip archive of the given entries (name, data).
    static std::string MakeArchive(const std::vector<std::pair<std::string, std::string>>& entries);
    // A single-archive game on the own server: an archive of `entries` at games/<id>.zip.
    std::string ServeSingleGame(const std::string& gameId,
                                const std::vector<std::pair<std::string, std::string>>& entries);
    DownloadGameFields Game(const std::string& gameId, const std::string& emulatorId = "119") const;

    void MakeEngine(int sliceMs = 15000);
    void MakeEngineWith(std::shared_ptr<IDownloadSourceChooser> chooser, int sliceMs = 15000);
    void StopEngine();

    // Takes posted messages until `match` holds for one (true) or `timeoutMs` pass (false).
    bool WaitFor(const std::function<bool(const Seen&)>& match, int timeoutMs = 20000);
    bool WaitStatus(const std::string& gameId, int status, int timeoutMs = 20000);
    // Waits until every game has reached `status`, in whatever order they get there.
    bool WaitStatusAll(const std::vector<std::string>& gameIds, int status, int timeoutMs = 20000);
    // Every message taken so far, in order.
    const std::vector<Seen>& SeenMessages() const { return m_seen; }
    // The status messages (to the main window) of one game, in order.
    std::vector<int> Statuses(const std::string& gameId) const;

    // Stores a task row of a single-archive game of the own server in `folder`, as an earlier run
    // left it (the store is made when there is none yet).
    void StoreRow(const std::string& gameId, const std::string& shortName, const std::string& folder);
    DownloadTaskMap StoredDownloads();
    GameinfoMap StoredGames();
    // The Range headers of the GETs of a path, in order ("" for a GET without one).
    std::vector<std::string> Ranges(const std::string& path) const;
    bool Faults(const std::string& json) { return m_server.Faults(json); }

    // The library folder MakeEngine gives the engine; empty for RomRoot().
    std::string m_libraryFolder;
    // The free space MakeEngine gives the engine; empty for the file system's.
    std::function<int64_t(const std::string&)> m_freeBytes;
    testsupport::IdentityServer m_server;
    std::unique_ptr<CGameStore> m_store;
    testsupport::MessageRecorder m_messages;
    std::shared_ptr<FixedChooser> m_chooser = std::make_shared<FixedChooser>();
    std::mutex m_libraryMutex;
    std::vector<GameinfoRecord> m_library;
    std::unique_ptr<DownloadManager> m_engine;
    std::vector<Seen> m_seen;
};

} // namespace enginetest
