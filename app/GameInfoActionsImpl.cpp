#include "app/GameInfoActionsImpl.h"

#include "app/LibraryViews.h"
#include "catalogue/Game.h"
#include "download/DownloadManager.h"
#include "emulator/EmulatorManager.h"
#include "store/LocalLibrary.h"

bool CGameInfoActionsImpl::IsInLibrary(const std::string& gameId)
{
    CLocalLibrary* library = CLibraryViews::Library();
    return library != nullptr && library->FindGame(gameId).has_value();
}

bool CGameInfoActionsImpl::GetDisplayStatus(const std::string& gameId, int& status)
{
    DownloadManager& engine = DownloadManager::Instance();
    return engine.Started() && engine.GetDisplayStatus(gameId, status);
}

bool CGameInfoActionsImpl::EnsureEmulator(int platformId, platform::HWND owner)
{
    return EmulatorManager::Instance().EnsureEmulator(platformId, owner) != nullptr;
}

void CGameInfoActionsImpl::AddTask(const CGame& game, platform::HWND owner)
{
    DownloadManager::Instance().AddTask(game, owner);
}

int CGameInfoActionsImpl::EngineState(int request)
{
    if (request == kResume)
        return kTaskReady;
    if (request == kPause)
        return kTaskPauseRequested;
    return -1;
}

void CGameInfoActionsImpl::RequestTaskState(const std::string& gameId, int request)
{
    const int state = EngineState(request);
    if (state >= 0)
        DownloadManager::Instance().RequestState(gameId, state);
}

void CGameInfoActionsImpl::LaunchLibraryGame(const std::string& gameId)
{
    CLocalLibrary* library = CLibraryViews::Library();
    if (library == nullptr || !m_launch)
        return;
    if (std::optional<GameinfoRecord> game = library->FindGame(gameId))
        m_launch(*game);
}

void CGameInfoActionsImpl::SetDetailWindow(platform::HWND window)
{
    DownloadManager::Instance().SetDetailWindow(window);
}
