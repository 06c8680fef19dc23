#pragma once

#include "platform/WindowMessages.h"

#include <string>

class CGame;

// What the game detail window asks of the rest of the program: the library, the download engine,
// the emulator manager and the launcher. The program implements it over those services; the window
// knows nothing else of them. Every member is called on the UI thread.
class IGameInfoActions {
public:
    // Requests for RequestTaskState.
    static constexpr int kResume = 1;
    static constexpr int kPause = 2;

    virtual ~IGameInfoActions() = default;

    // Whether the local library holds the downloaded game.
    virtual bool IsInLibrary(const std::string& gameId) = 0;
    // The display status of the game's download task; false when it has none.
    virtual bool GetDisplayStatus(const std::string& gameId, int& status) = 0;
    // Makes sure the emulator of the platform is installed, installing it with `owner` as the owner
    // of the installer window when it is missing. False when there is none and none could be
    // installed (or the platform has no emulator).
    virtual bool EnsureEmulator(int platformId, platform::HWND owner) = 0;
    // Adds a download task for the game; the engine reports its status to `owner` with
    // WM_DOWNLOAD_STATUS.
    virtual void AddTask(const CGame& game, platform::HWND owner) = 0;
    // Asks the download engine to resume (kResume) or pause (kPause) the game's task.
    virtual void RequestTaskState(const std::string& gameId, int request) = 0;
    // Starts the downloaded game of the local library.
    virtual void LaunchLibraryGame(const std::string& gameId) = 0;
    // Names the detail window that receives WM_DOWNLOAD_STATUS besides the main window; null when
    // none is open.
    virtual void SetDetailWindow(platform::HWND window) = 0;
};
