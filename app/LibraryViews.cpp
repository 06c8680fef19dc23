#include "app/LibraryViews.h"

#include "app/DropTileLayoutUI.h"
#include "app/LibraryFiles.h"
#include "app/LibraryText.h"
#include "app/ReNameFrame.h"
#include "catalogue/EmuFilterUI.h"
#include "catalogue/GameItemUI.h"
#include "catalogue/GameTypeFilterUI.h"
#include "catalogue/ImageLoader.h"
#include "emulator/PlatformTable.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "platform/ShowItem.h"
#include "platform/Trace.h"
#include "store/GameStore.h"
#include "store/LocalLibrary.h"
#include "store/StoreListFormat.h"
#include "ui/Container.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/WindowWnd.h"

#include <chrono>
#include <exception>

using namespace UiLib;

namespace {

constexpr char16_t kDownloadedTile[] = u"skin\\xmls\\MyGameItemNew.xml";
constexpr char16_t kLocalTile[] = u"skin\\xmls\\LocalGameItemNew.xml";
// How long one batch of tiles may keep the window from painting.
constexpr auto kBuildSlice = std::chrono::milliseconds(16);
// Where a local game's image sits inside the tile's icon control.
constexpr char kLocalIconDest[] = "' dest='18,18,50,50'";

// Queues a store request that owns its data; a store that cannot be opened is traced.
template <class T> void SubmitOwned(int operation, std::unique_ptr<T> data)
{
    try {
        CGameStore::Instance().Submit(operation, data.release(), true, true);
    } catch (const std::exception& e) {
        platform::TraceF("library: store request %d not made: %s", operation, e.what());
    }
}

} // namespace

CLibraryViews::CLibraryViews(CPaintManagerUI& pm, IDialogBuilderCallback* callback)
    : m_pm(pm), m_callback(callback)
{
    m_local.local = true;
}

CLibraryViews::~CLibraryViews() = default;

CLocalLibrary* CLibraryViews::Library()
{
    try {
        return &CLocalLibrary::Instance();
    } catch (const std::exception& e) {
        platform::TraceF("library: the game store cannot be opened: %s", e.what());
        return nullptr;
    }
}

void CLibraryViews::FindControls()
{
    m_downloaded.tiles = static_cast<CContainerUI*>(m_pm.FindControl(u"Tl_GameView_DownloadGame"));
    m_downloaded.label = static_cast<CLabelUI*>(m_pm.FindControl(u"Lb_GameLabel_DownloadGame"));
    m_downloaded.numbers = static_cast<CLabelUI*>(m_pm.FindControl(u"Lb_GameNumbers_DownloadGame"));
    m_downloaded.emu = static_cast<CEmuFilterUI*>(m_pm.FindControl(u"Ef_DownloadGame"));
    m_downloaded.type = static_cast<CGameTypeFilterUI*>(m_pm.FindControl(u"Gf_DownloadGame"));
    m_local.tiles = static_cast<CContainerUI*>(m_pm.FindControl(u"Tl_GameView_LocalGame"));
    m_local.label = static_cast<CLabelUI*>(m_pm.FindControl(u"Lb_GameLabel_LocalGame"));
    m_local.numbers = static_cast<CLabelUI*>(m_pm.FindControl(u"Lb_GameNumbers_LocalGame"));
    m_local.emu = static_cast<CEmuFilterUI*>(m_pm.FindControl(u"Ef_LocalGame"));
}

void CLibraryViews::Start(HWND window)
{
    m_window = window;
    for (View* view : {&m_downloaded, &m_local}) {
        view->emuFilter = 0;
        view->typeFilter = 0;
        Restart(*view);
    }
}

void CLibraryViews::Restart(View& view)
{
    CLocalLibrary* library = Library();
    // The old filler ends before the view is emptied, so nothing it posted earlier can be taken
    // for the new filter's (its messages still waiting are checked against the new filter).
    if (library != nullptr) {
        if (view.local)
            library->StopLocalFiller();
        else
            library->StopDownloadedFiller();
    }
    if (view.tiles != nullptr)
        view.tiles->RemoveAll();
    view.byKey.clear();
    view.keyOf.clear();
    view.waiting.clear();
    view.waitingKeys.clear();
    ShowCount(view);
    ShowLabel(view);
    if (library == nullptr || m_window == nullptr)
        return;
    if (view.local)
        library->StartLocalFiller(m_window, view.emuFilter);
    else
        library->StartDownloadedFiller(m_window, view.emuFilter, view.typeFilter);
}

void CLibraryViews::ShowCount(View& view)
{
    if (view.numbers != nullptr)
        view.numbers->SetText(CDuiString::FromInt(static_cast<long long>(view.byKey.size())) + u"款游戏");
}

void CLibraryViews::ShowLabel(View& view)
{
    if (view.label == nullptr)
        return;
    // Named as the catalogue names its selection: the platform, and the genre in the downloaded view.
    CDuiString text = u"全部";
    if (view.emuFilter != 0 || view.typeFilter != 0) {
        text = CDuiString::FromUtf8(TypeIdToShortName(view.emuFilter));
        if (!view.local)
            text = text + u"/" + CDuiString::FromUtf8(GenreNumberToName(view.typeFilter)).Str();
    }
    view.label->SetText(text);
    SIZE size = CRenderEngine::GetTextSize(nullptr, &m_pm, text.Str(), view.label->GetFont(), DT_SINGLELINE);
    view.label->SetFixedWidth(size.cx + 4);
}

CGameItemUI* CLibraryViews::BuildTile(View& view, const std::string& key)
{
    if (view.tiles == nullptr)
        return nullptr;
    if (!view.builder.IsLoaded() && !view.builder.Load(view.local ? kLocalTile : kDownloadedTile))
        return nullptr;
    CControlUI* built = view.builder.Create(m_callback, &m_pm);
    auto* tile = built != nullptr ? static_cast<CGameItemUI*>(built->GetInterface(u"CGameItemUI")) : nullptr;
    if (tile == nullptr) {
        delete built;
        platform::Trace("library: the tile layout cannot be built");
        return nullptr;
    }
    view.tiles->Add(tile);
    view.byKey[key] = tile;
    view.keyOf[tile] = key;
    return tile;
}

void CLibraryViews::RemoveTile(View& view, const std::string& key)
{
    auto it = view.byKey.find(key);
    if (it == view.byKey.end())
        return;
    CGameItemUI* tile = it->second;
    view.byKey.erase(it);
    view.keyOf.erase(tile);
    view.tiles->Remove(tile); // may be the tile whose button is being clicked: nothing of it after
    ShowCount(view);
}

void CLibraryViews::AddDownloaded(const GameinfoRecord& game)
{
    CGameItemUI* tile = BuildTile(m_downloaded, game.GameId);
    if (tile == nullptr)
        return;
    // Names are shown through DisplayText: a name stored byte for byte may not convert as a whole.
    GameinfoRecord shown = game;
    shown.GameName.clear();
    shown.Size.clear();
    shown.CategoryShortName.clear();
    tile->FillFromInstalled(shown);
    if (CControlUI* name = tile->FindSubControl(u"Lb_GameName"))
        name->SetText(DisplayText(game.GameName));
    if (CControlUI* size = tile->FindSubControl(u"Lb_GameSize"))
        size->SetText(DisplayText(game.Size) + u"MB");
    if (CControlUI* type = tile->FindSubControl(u"Lb_GameType")) {
        CDuiString category = DisplayText(game.CategoryShortName);
        category.Replace(u"游戏", u"");
        type->SetText(category);
    }
    ShowCount(m_downloaded);

    const std::string cached = IconCachePath(game.Icon);
    if (!cached.empty() && IsCachedImage(cached))
        tile->SetIcon(CDuiString::FromUtf8(cached));
    else
        CImageLoader::Instance().Request(m_window, 1, 0, game.GameId, game.Icon);
}

void CLibraryViews::AddLocal(const LocalGameRecord& game)
{
    CGameItemUI* tile = BuildTile(m_local, game.FilePath);
    if (tile == nullptr)
        return;
    LocalGameRecord shown = game;
    shown.GameName.clear();
    shown.Size.clear();
    tile->FillFromLocal(shown);
    if (CControlUI* name = tile->FindSubControl(u"Lb_GameName"))
        name->SetText(DisplayText(game.GameName));
    if (CControlUI* size = tile->FindSubControl(u"Lb_GameSize"))
        size->SetText(DisplayText(game.Size) + u"MB");
    ShowCount(m_local);
    platform::TraceF("library: local tile %s", game.FilePath.c_str());
    CImageLoader::Instance().Request(m_window, 2, static_cast<int>(LeadingInt(game.EmulatorId)),
                                     game.FilePath, game.Icon);
}

void CLibraryViews::SetAnswerIcon(View& view, const std::string& key, const std::string& image)
{
    auto it = view.byKey.find(key);
    if (it == view.byKey.end())
        return; // the tile went meanwhile
    std::string attribute = image;
    if (view.local && image.rfind("file=", 0) != 0)
        attribute = "file='" + image + kLocalIconDest;
    it->second->SetIcon(CDuiString::FromUtf8(attribute)); // a native path, or a skin path
}

bool CLibraryViews::OnMessage(UINT uMsg, WPARAM, LPARAM lParam)
{
    switch (uMsg) {
    case WM_GAME_INSTALLED: {
        std::unique_ptr<GameinfoRecord> posted(reinterpret_cast<GameinfoRecord*>(lParam));
        CLocalLibrary* library = Library();
        if (!posted || library == nullptr)
            return true;
        // The set decides, not the message: a game deleted since it was posted adds nothing.
        std::optional<GameinfoRecord> game = library->FindGame(posted->GameId);
        if (!game)
            return true;
        if (onDownloadedChanged)
            onDownloadedChanged(game->GameId, true);
        if (library->MatchesDownloadedFilter(*game))
            Enqueue(m_downloaded, game->GameId);
        return true;
    }
    case WM_LOCAL_GAME_ADDED: {
        std::unique_ptr<LocalGameRecord> posted(reinterpret_cast<LocalGameRecord*>(lParam));
        CLocalLibrary* library = Library();
        if (!posted || library == nullptr)
            return true;
        std::optional<LocalGameRecord> game = library->FindLocalGame(posted->FilePath);
        if (game && library->MatchesLocalFilter(*game))
            Enqueue(m_local, game->FilePath);
        return true;
    }
    case kBuildTilesMessage:
        m_buildPosted = false;
        BuildWaitingTiles();
        return true;
    case WM_MYGAME_ICON:
    case WM_LOCAL_ICON: {
        std::unique_ptr<CImageAnswer> answer(reinterpret_cast<CImageAnswer*>(lParam));
        if (answer)
            SetAnswerIcon(uMsg == WM_LOCAL_ICON ? m_local : m_downloaded, answer->key, answer->image);
        return true;
    }
    default:
        return false;
    }
}

void CLibraryViews::Enqueue(View& view, const std::string& key)
{
    if (view.byKey.count(key) != 0 || !view.waitingKeys.insert(key).second)
        return; // one tile per key
    view.waiting.push_back(key);
    if (!m_buildPosted && m_window != nullptr)
        m_buildPosted = UiLib::PostMessage(m_window, kBuildTilesMessage);
}

void CLibraryViews::BuildWaitingTiles()
{
    CLocalLibrary* library = Library();
    if (library == nullptr)
        return;
    const auto deadline = std::chrono::steady_clock::now() + kBuildSlice;
    for (View* view : {&m_downloaded, &m_local}) {
        while (!view->waiting.empty() && std::chrono::steady_clock::now() < deadline) {
            const std::string key = std::move(view->waiting.front());
            view->waiting.pop_front();
            view->waitingKeys.erase(key);
            // The set decides again: a game deleted or renamed meanwhile is taken as it is now.
            if (view->local) {
                if (auto game = library->FindLocalGame(key); game && library->MatchesLocalFilter(*game))
                    AddLocal(*game);
            } else if (auto game = library->FindGame(key); game && library->MatchesDownloadedFilter(*game)) {
                AddDownloaded(*game);
            }
        }
    }
    // The rest follows the repaint that these tiles asked for: the request is queued behind it.
    if ((!m_downloaded.waiting.empty() || !m_local.waiting.empty()) && m_window != nullptr)
        m_buildPosted = UiLib::PostMessage(m_window, kBuildTilesMessage);
}

bool CLibraryViews::OnClick(TNotifyUI& msg)
{
    CControlUI* sender = msg.pSender;
    if (sender == nullptr)
        return false;
    const int chosen = static_cast<int>(msg.wParam);
    for (View* view : {&m_downloaded, &m_local}) {
        if (sender == view->emu) {
            view->emuFilter = chosen;
            Restart(*view);
            return true;
        }
        if (view->type != nullptr && sender == view->type) {
            view->typeFilter = chosen;
            Restart(*view);
            return true;
        }
        if (view->tiles != nullptr && sender->GetParent() == view->tiles) {
            OnTileClick(*view, msg);
            return true;
        }
    }
    if (sender == m_local.tiles && msg.lParam != 0) {
        // Files dropped on the local view, for the platform the view shows.
        const auto* paths = reinterpret_cast<const std::vector<std::string>*>(msg.lParam);
        if (onDropFiles && !paths->empty())
            onDropFiles(*paths, m_local.emuFilter);
        return true;
    }
    return false;
}

void CLibraryViews::OnTileClick(View& view, TNotifyUI& msg)
{
    auto it = view.keyOf.find(msg.pSender);
    if (it == view.keyOf.end())
        return;
    const std::string key = it->second; // a copy: the tile may go while it is used
    CLocalLibrary* library = Library();
    if (library == nullptr)
        return;
    switch (msg.wParam) {
    case 1:
        if (view.local) {
            if (auto game = library->FindLocalGame(key); game && onLaunchLocal)
                onLaunchLocal(*game);
        } else if (auto game = library->FindGame(key); game && onLaunchDownloaded) {
            onLaunchDownloaded(*game);
        }
        return;
    case 2:
        if (view.local)
            DeleteLocal(key);
        else
            DeleteDownloaded(key);
        return;
    case 3:
        OpenFolder(view, key);
        return;
    case 4:
        if (view.local)
            Rename(key);
        return;
    default:
        return;
    }
}

void CLibraryViews::DeleteDownloaded(const std::string& gameId)
{
    CLocalLibrary* library = Library();
    std::optional<GameinfoRecord> game = library->FindGame(gameId);
    SubmitOwned(kStoreRemoveGameinfo, std::make_unique<std::string>(gameId));
    if (game) {
        DeleteDownloadedGame(NativeOf(DownloadedGameFolder(game->FilePath)), NativeOf(game->GameId),
                             game->EmulatorShortName, RomDir(), LocalGameDir());
        library->RemoveGame(gameId);
    }
    RemoveTile(m_downloaded, gameId);
    if (onDownloadedChanged)
        onDownloadedChanged(gameId, false);
}

void CLibraryViews::DeleteLocal(const std::string& filePath)
{
    CLocalLibrary* library = Library();
    std::optional<LocalGameRecord> game = library->FindLocalGame(filePath);
    // A PC game's files are a program's whole folder, which the library never deletes. Any other
    // file goes to the trash; one that cannot keeps its game, tile and row, and the user is told.
    if (game && game->EmulatorShortName != "PC") {
        std::string trashError;
        DeleteLocalGame(NativeOf(filePath), game->EmulatorShortName, RomDir(), LocalGameDir(), &trashError);
        if (!trashError.empty()) {
            MessageBox(m_window, u"无法将游戏文件移到回收站，游戏未删除。", u"提示", MB_OK);
            return;
        }
    }
    SubmitOwned(kStoreRemoveLocalGame, std::make_unique<std::string>(filePath));
    library->RemoveLocalGame(filePath);
    RemoveTile(m_local, filePath);
}

void CLibraryViews::OpenFolder(View& view, const std::string& key)
{
    CLocalLibrary* library = Library();
    std::string path;
    if (view.local) {
        if (auto game = library->FindLocalGame(key))
            path = game->FilePath;
    } else if (auto game = library->FindGame(key)) {
        path = game->FilePath + game->FileName;
    }
    if (path.empty())
        return;
    platform::ShowItem(NativeOf(path)); // the helper runs on its own; its handle is not kept
}

void CLibraryViews::Rename(const std::string& filePath)
{
    CLocalLibrary* library = Library();
    std::optional<LocalGameRecord> game = library->FindLocalGame(filePath);
    if (!game)
        return;
    std::string newName;
    if (CReNameFrame::Run(m_window, game->GameName, newName) != CReNameFrame::kRenamed)
        return;
    // The game may have gone while the dialog was up (the watcher, a filter change cannot: the
    // dialog is modal); only what is still there is renamed.
    auto renamed = std::make_unique<LocalGameRecord>(*game);
    renamed->GameName = newName;
    if (!library->RenameLocalGame(filePath, newName))
        return;
    SubmitOwned(kStoreRenameLocalGame, std::move(renamed));
    auto tile = m_local.byKey.find(filePath);
    if (tile == m_local.byKey.end())
        return;
    if (CControlUI* name = tile->second->FindSubControl(u"Lb_GameName"))
        name->SetText(DisplayText(newName));
}

bool CLibraryViews::IsDownloaded(const std::string& gameId) const
{
    return FindDownloaded(gameId).has_value();
}

std::optional<GameinfoRecord> CLibraryViews::FindDownloaded(const std::string& gameId) const
{
    CLocalLibrary* library = Library();
    return library != nullptr ? library->FindGame(gameId) : std::nullopt;
}
