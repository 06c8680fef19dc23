#include "catalogue/GameInfoFrameNew.h"

#include "catalogue/CatalogueClient.h"
#include "catalogue/ImageLoader.h"
#include "foundation/AppMessages.h"
#include "foundation/StringConv.h"
#include "store/StoreListFormat.h"
#include "ui/Button.h"
#include "ui/Container.h"
#include "ui/Label.h"
#include "ui/RichEdit.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

using namespace UiLib;

namespace {

// A narrow text of the program for the toolkit; a text that does not convert shows nothing.
CDuiString ToUi(const std::string& text)
{
    try {
        return CDuiString(AnsiToUtf16(text));
    } catch (const std::exception&) {
        return CDuiString();
    }
}

bool IsFile(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

} // namespace

CGameInfoFrameNew::CGameInfoFrameNew(const CGame& game, IGameInfoActions& actions)
    : m_game(game), m_actions(actions)
{
}

CGameInfoFrameNew::~CGameInfoFrameNew()
{
    StopWorker();
}

int CGameInfoFrameNew::StarWidth(const std::string& rating)
{
    const double r = std::strtod(rating.c_str(), nullptr);
    const double tenths = std::trunc(r * 10.0);
    if (!std::isfinite(tenths) || tenths < 0.0 || tenths > 100.0)
        return kFullStarWidth;
    switch (static_cast<int>(tenths)) {
    case 45:
        return 100;
    case 40:
        return 90;
    case 35:
        return 78;
    case 30:
        return 69;
    case 25:
        return 55;
    case 20:
        return 44;
    case 15:
        return 32;
    case 10:
        return 22;
    case 5:
        return 9;
    default:
        return kFullStarWidth;
    }
}

CDuiString CGameInfoFrameNew::StarImage(const std::string& rating)
{
    const int width = StarWidth(rating);
    char text[128];
    std::snprintf(text, sizeof text,
                  "file='skin\\ui\\level_foreimage.png' source='0,0,%d,%d' dest='0,0,%d,%d'", width,
                  kStarHeight, width, kStarHeight);
    return CDuiString::FromUtf8(text);
}

const char16_t* CGameInfoFrameNew::ActionText(int state)
{
    switch (state) {
    case 0:
        return u"安装";
    case 2:
        return u"下载中";
    case 3:
        return u"下载暂停";
    case 4:
        return u"下载等待";
    case 5:
        return u"解压中";
    case 6:
        return u"解压暂停";
    case 8:
        return u"启动";
    default:
        return nullptr;
    }
}

void CGameInfoFrameNew::InitWindow()
{
    m_icon = m_pm.FindControl(u"Ctr_GameIcon");
    m_action = static_cast<CButtonUI*>(m_pm.FindControl(u"Btn_InstallGame"));
    m_screens = static_cast<CContainerUI*>(m_pm.FindControl(u"HL_GameScreenshot"));
    m_introduce = static_cast<CRichEditUI*>(m_pm.FindControl(u"Rd_GameIntroduce"));
    if (m_screens != nullptr)
        m_screens->SetScrollStepSize(kScreenshotScrollStep);

    // Status messages are asked for before the status is read, so a change between the two is
    // not lost.
    m_actions.SetDetailWindow(m_hWnd);
    FillFixedFields();

    // The worker gets its own copy of the game; the flag and the event stay the window's, which is
    // why every way out of the window joins the worker first.
    m_worker = std::thread([this, window = m_hWnd, game = m_game] {
        RunGameInfoRequest(window, game, m_closing, m_idle);
        m_detailEnded = true;
    });
}

void CGameInfoFrameNew::FillFixedFields()
{
    // The icon: from the image cache when it is there, else through the image loader. A path that
    // would leave the cache is neither shown nor asked for; the layout's default icon stays.
    const std::string cached = CachedImagePath(m_game.icon);
    if (!cached.empty()) {
        if (IsFile(cached))
            ShowIcon(cached);
        else
            CImageLoader::Instance().Request(m_hWnd, 0, 0, m_game.gameid, m_game.icon);
    }

    if (auto* stars = static_cast<CLabelUI*>(m_pm.FindControl(u"Opt_Level")))
        stars->SetForeImage(StarImage(m_game.rating));
    const std::pair<const char16_t*, std::string> fields[] = {
        {u"Lb_GameName1", m_game.gamename},
        {u"Lb_GameName2", m_game.orgname},
        {u"Lb_GameLang", m_game.language},
        {u"Lb_GameSize", m_game.size + "MB"},
        {u"Lb_GameClassify", m_game.categoryshortname},
        {u"Lb_EmulatorType", m_game.emulatorshortname},
    };
    for (const auto& [name, text] : fields)
        if (CControlUI* label = m_pm.FindControl(name))
            label->SetText(ToUi(text));

    int state = 0;
    if (m_actions.IsInLibrary(m_game.gameid))
        state = 8;
    else if (int status = 0; m_actions.GetDisplayStatus(m_game.gameid, status))
        state = status;
    SetActionState(0);
    SetActionState(state);
}

void CGameInfoFrameNew::ShowIcon(const std::string& path)
{
    if (m_icon != nullptr)
        m_icon->SetBkImage(ToUi(path));
}

void CGameInfoFrameNew::AddScreenshot(const std::string& path)
{
    if (m_screens == nullptr)
        return;
    auto shot = std::make_unique<CControlUI>();
    shot->SetFixedWidth(kScreenshotWidth);
    shot->SetFixedHeight(kScreenshotHeight);
    shot->SetBkImage(ToUi(path));
    if (m_screens->Add(shot.get()))
        shot.release(); // the strip owns it now
}

void CGameInfoFrameNew::SetActionState(int state)
{
    const char16_t* text = ActionText(state);
    if (text == nullptr)
        return; // states without a text of their own change nothing
    m_state = state;
    if (m_action != nullptr) {
        m_action->SetText(text);
        m_action->SetTag(static_cast<UINT_PTR>(state));
    }
}

void CGameInfoFrameNew::OnAction()
{
    switch (m_state) {
    case 0:
        return Install();
    case 2:
    case 4:
    case 5:
        return m_actions.RequestTaskState(m_game.gameid, IGameInfoActions::kPause);
    case 3:
    case 6:
        return m_actions.RequestTaskState(m_game.gameid, IGameInfoActions::kResume);
    case 8:
        return m_actions.LaunchLibraryGame(m_game.gameid);
    default:
        return;
    }
}

void CGameInfoFrameNew::Install()
{
    if (m_game.emulatorid != kPcPlatform) {
        const int platformId = LeadingInt(m_game.emulatorid);
        if (!m_actions.EnsureEmulator(platformId, m_hWnd))
            return;
        if (m_hWnd == nullptr)
            return; // the window ended while the emulator was being installed
    }
    m_actions.AddTask(m_game, m_hWnd);
}

void CGameInfoFrameNew::StopWorker()
{
    m_closing = true;
    if (m_worker.joinable())
        m_worker.join();
}

void CGameInfoFrameNew::Notify(TNotifyUI& msg)
{
    if (msg.pSender == nullptr || msg.sType != u"click")
        return;
    const CDuiString& name = msg.pSender->GetName();
    if (name == u"Btn_Close") {
        StopWorker();
        Close(1);
    } else if (name == u"Btn_InstallGame") {
        OnAction();
    }
}

LRESULT CGameInfoFrameNew::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    switch (uMsg) {
    case WM_GAME_ICON: {
        std::unique_ptr<CImageAnswer> answer(reinterpret_cast<CImageAnswer*>(lParam));
        handled = true;
        if (answer && answer->key == m_game.gameid)
            ShowIcon(answer->image);
        return 0;
    }
    case WM_GAMEINFO_DESCRIPTION: {
        std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
        handled = true;
        if (text && m_introduce != nullptr)
            m_introduce->SetText(ToUi(*text));
        return 0;
    }
    case WM_GAMEINFO_SCREEN: {
        std::unique_ptr<std::string> path(reinterpret_cast<std::string*>(lParam));
        handled = true;
        if (path && !m_closing)
            AddScreenshot(*path);
        return 0;
    }
    case WM_DOWNLOAD_STATUS: {
        std::unique_ptr<std::string> gameId(reinterpret_cast<std::string*>(lParam));
        handled = true;
        if (gameId && *gameId == m_game.gameid)
            SetActionState(static_cast<int>(wParam));
        return 0;
    }
    case WM_CLOSE:
    case WM_DESTROY:
        // The system close command, Alt+F4 and the owner's end come here as well as Btn_Close.
        StopWorker();
        if (uMsg == WM_DESTROY)
            m_actions.SetDetailWindow(nullptr);
        break;
    default:
        break;
    }
    return 0;
}

int CGameInfoFrameNew::Run(HWND owner, const CGame& game, IGameInfoActions& actions)
{
    CGameInfoFrameNew window(game, actions);
    return window.DoModal(owner, kTitle);
}
