#pragma once

#include "catalogue/GameInfoActions.h"
#include "store/GameinfoRecord.h"

#include <functional>

// The detail window's requests carried out by the program's services: the local library set, the
// download engine, the emulator manager, and `launch` (the main window's start of a downloaded
// game). UI thread, as the window calls it.
class CGameInfoActionsImpl : public IGameInfoActions {
public:
    explicit CGameInfoActionsImpl(std::function<void(const GameinfoRecord&)> launch)
        : m_launch(std::move(launch))
    {
    }

    bool IsInLibrary(const std::string& gameId) override;
    bool GetDisplayStatus(const std::string& gameId, int& status) override;
    bool EnsureEmulator(int platformId, platform::HWND owner) override;
    void AddTask(const CGame& game, platform::HWND owner) override;
    void RequestTaskState(const std::string& gameId, int request) override;
    void LaunchLibraryGame(const std::string& gameId) override;
    void SetDetailWindow(platform::HWND window) override;

    // The engine's state for a detail window's request: kResume starts the task, kPause pauses it;
    // anything else asks nothing (-1).
    static int EngineState(int request);

private:
    std::function<void(const GameinfoRecord&)> m_launch;
};
