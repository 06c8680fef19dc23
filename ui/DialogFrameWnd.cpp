#include "ui/DialogFrameWnd.h"

#include <QScreen>

#include "platform/Trace.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

CDialogFrameWnd::CDialogFrameWnd() = default;

CDialogFrameWnd::~CDialogFrameWnd()
{
    // The window goes before the paint manager and the controls it points to.
    if (GetHWND() != nullptr)
        DestroyWindow();
}

void CDialogFrameWnd::Notify(TNotifyUI& msg)
{
    if (msg.sType == u"click" && msg.pSender != nullptr && msg.pSender->GetName() == u"Btn_Close")
        Close(IDCLOSE);
}

CControlUI* CDialogFrameWnd::CreateControl(LPCTSTR)
{
    return nullptr;
}

LRESULT CDialogFrameWnd::HandleCustomMessage(UINT, WPARAM, LPARAM, bool& handled)
{
    handled = false;
    return 0;
}

int CDialogFrameWnd::DoModal(HWND owner, const CDuiString& caption, DWORD style, DWORD exStyle)
{
    if (Create(owner, caption, style, exStyle) == nullptr)
        return -1;
    CenterWindow();
    return ShowModal();
}

LRESULT CDialogFrameWnd::OnCreate()
{
    SetStyle(GetStyle() | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    m_pm.Init(m_hWnd);
    CDialogBuilder builder;
    CControlUI* root = builder.Create(GetSkinFile(), this, &m_pm);
    if (root == nullptr) {
        platform::TraceF("UiLib: %s: layout '%s' could not be built",
                         CDuiString(GetWindowClassName()).ToUtf8().c_str(), GetSkinFile().ToUtf8().c_str());
        return -1;
    }
    m_pm.AttachDialog(root);
    m_pm.AddNotifier(this);
    CenterWindow();
    InitWindow();
    return 0;
}

bool CDialogFrameWnd::IsCaptionClientClass(std::u16string_view className) const
{
    return className == u"ButtonUI" || className == u"OptionUI" || className == u"TextUI";
}

LRESULT CDialogFrameWnd::OnNcHitTest(LPARAM lParam)
{
    HostWidget* host = HostOf(m_hWnd);
    if (host == nullptr)
        return HTCLIENT;
    QPoint local = host->mapFromGlobal(QPoint(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)));
    POINT pt{local.x(), local.y()};
    RECT client = GetClientRect();

    if (m_bSizeBox && !IsMaximized()) {
        RECT box = m_pm.GetSizeBox();
        bool top = pt.y < client.top + box.top;
        bool bottom = pt.y >= client.bottom - box.bottom;
        bool left = pt.x < client.left + box.left;
        bool right = pt.x >= client.right - box.right;
        if (top && left)
            return HTTOPLEFT;
        if (top && right)
            return HTTOPRIGHT;
        if (bottom && left)
            return HTBOTTOMLEFT;
        if (bottom && right)
            return HTBOTTOMRIGHT;
        if (top)
            return HTTOP;
        if (bottom)
            return HTBOTTOM;
        if (left)
            return HTLEFT;
        if (right)
            return HTRIGHT;
    }

    RECT caption = m_pm.GetCaptionRect();
    if (pt.x < client.left + caption.left || pt.x >= client.right - caption.right || pt.y < caption.top ||
        pt.y >= caption.bottom)
        return HTCLIENT;
    CControlUI* control = m_pm.FindControl(pt);
    if (control == nullptr || IsCaptionClientClass(control->GetClass()))
        return HTCLIENT;
    return HTCAPTION;
}

LRESULT CDialogFrameWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    bool handled = false;
    LRESULT custom = HandleCustomMessage(uMsg, wParam, lParam, handled);
    if (handled)
        return custom;

    switch (uMsg) {
    case WM_CREATE:
        return OnCreate();
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) {
            SIZE corner = m_pm.GetRoundCorner();
            int cx = GET_X_LPARAM(lParam) & 0xFFFF;
            int cy = GET_Y_LPARAM(lParam) & 0xFFFF;
            SetWindowRgn(cx + 1, cy + 1, corner.cx, corner.cy);
        }
        break; // the paint manager lays out again
    case WM_NCHITTEST:
        return OnNcHitTest(lParam);
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        HostWidget* host = HostOf(m_hWnd);
        QScreen* screen =
            host != nullptr && host->screen() != nullptr ? host->screen() : QGuiApplication::primaryScreen();
        if (info != nullptr && screen != nullptr) {
            QRect work = screen->availableGeometry();
            QRect monitor = screen->geometry();
            info->ptMaxPosition = {work.left() - monitor.left(), work.top() - monitor.top()};
            info->ptMaxSize = {work.width(), work.height()};
            SIZE minimum = m_pm.GetMinInfo();
            if (minimum.cx > 0 || minimum.cy > 0)
                info->ptMinTrackSize = {minimum.cx, minimum.cy};
        }
        return 0;
    }
    case WM_NCACTIVATE:
        if (!IsMinimized())
            return wParam == 0 ? 1 : 0;
        break;
    case WM_NCCALCSIZE:
    case WM_NCPAINT:
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE && !m_escapeButton.empty()) {
            CControlUI* button = m_pm.FindControl(m_escapeButton);
            if (button != nullptr && button->IsVisible() && button->IsEnabled()) {
                button->Activate(); // may close the dialog: nothing after it
                return 0;
            }
        }
        break;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            SendMessage(WM_CLOSE, IDCLOSE, 0);
            return 0;
        }
        return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
    default:
        break;
    }
    LRESULT result = 0;
    if (m_pm.MessageHandler(uMsg, wParam, lParam, result))
        return result;
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

} // namespace UiLib
