#include "ui/MenuWnd.h"

#include <QScreen>

#include "platform/Trace.h"
#include "ui/DialogBuilder.h"
#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/private/UiPrivate.h"

namespace UiLib {

CMenuUI::CMenuUI()
{
    m_rcInset = RECT{4, 4, 4, 4};
    m_dwBackColor = 0xFFFFFFFF;
    m_dwBorderColor = 0xFFDADFE6;
    m_nBorderSize = 1;
}

LPCTSTR CMenuUI::GetClass() const
{
    return u"MenuUI";
}

void* CMenuUI::GetInterface(std::u16string_view name)
{
    if (name == u"Menu")
        return this;
    return CListUI::GetInterface(name);
}

CMenuElementUI::CMenuElementUI()
{
    m_cxyFixed.cy = 30;
    m_cursor = UiCursor::Hand;
}

LPCTSTR CMenuElementUI::GetClass() const
{
    return u"MenuElementUI";
}

void* CMenuElementUI::GetInterface(std::u16string_view name)
{
    if (name == u"MenuElement")
        return this;
    return CListContainerElementUI::GetInterface(name);
}

void CMenuElementUI::PaintBkColor(HDC hDC)
{
    if (m_bHot && IsEnabled()) {
        CRenderEngine::FillRoundRect(hDC, m_rcItem, 6, 6, 0xFFEAF2FD);
        return;
    }
    CControlUI::PaintBkColor(hDC);
}

void CMenuElementUI::PaintText(HDC hDC)
{
    RECT rc{m_rcItem.left + 14, m_rcItem.top, m_rcItem.right - 14, m_rcItem.bottom};
    DWORD color = m_bHot ? 0xFF2479E4 : (m_pManager ? m_pManager->GetDefaultFontColor() : 0xFF333333);
    CRenderEngine::DrawText(hDC, m_pManager, rc, m_sText.Str(), IsEnabled() ? color : 0xFFA7A6AA, -1,
                            DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
}

struct CMenuWnd::Impl final : public INotifyUI {
    CPaintManagerUI pm;
    CMenuWnd* wnd = nullptr;
    CDuiString layout;
    HWND owner = nullptr;
    UINT message = 0;
    std::function<void(const CDuiString&)> onChosen;
    POINT at;
    bool chosen = false;

    void Notify(TNotifyUI& msg) override
    {
        if ((msg.sType == u"itemclick" || msg.sType == u"click") && msg.pSender != nullptr)
            wnd->Choose(msg.pSender->GetName());
    }
};

CMenuWnd* CMenuWnd::Show(HWND owner, const CDuiString& layout, POINT screenPoint, UINT commandMessage,
                         std::function<void(const CDuiString&)> onChosen)
{
    auto* menu = new CMenuWnd; // deletes itself in OnFinalMessage
    menu->m_menu = std::make_shared<Impl>();
    menu->m_menu->wnd = menu;
    menu->m_menu->layout = layout;
    menu->m_menu->owner = owner;
    menu->m_menu->message = commandMessage;
    menu->m_menu->onChosen = std::move(onChosen);
    menu->m_menu->at = screenPoint;
    if (menu->Create(owner, u"menu", WS_POPUP, WS_EX_TOOLWINDOW | WS_EX_TOPMOST) == nullptr)
        return nullptr; // OnFinalMessage has deleted it
    menu->ShowWindow(true, true);
    return menu;
}

bool CMenuWnd::Choose(const CDuiString& name)
{
    if (m_menu->chosen || name.IsEmpty() || m_menu->pm.FindControl(name.Str()) == nullptr)
        return false;
    m_menu->chosen = true;
    if (m_menu->message != 0 && m_menu->owner != nullptr) {
        auto* text = new CDuiString(name); // the owner frees it; freed with the message when undelivered
        UiLib::PostMessage(m_menu->owner, m_menu->message, reinterpret_cast<WPARAM>(text), 0,
                           [text] { delete text; });
    }
    std::shared_ptr<Impl> keep = m_menu;
    if (keep->onChosen)
        keep->onChosen(name);
    Close(IDOK);
    return true;
}

LRESULT CMenuWnd::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CREATE: {
        m_menu->pm.Init(m_hWnd);
        CDialogBuilder builder;
        CControlUI* root = builder.Create(m_menu->layout, nullptr, &m_menu->pm);
        if (root == nullptr)
            return -1;
        m_menu->pm.AttachDialog(root);
        m_menu->pm.AddNotifier(m_menu.get());
        SIZE size = m_menu->pm.GetInitSize();
        if (size.cx <= 0 || size.cy <= 0) {
            // Without a size: as wide as set on the menu (160) and as tall as its entries.
            int height = 8;
            root->FindControl([&](CControlUI* c) {
                if (c->GetInterface(u"MenuElement") != nullptr && c->IsOwnVisible())
                    height += c->GetFixedHeight() > 0 ? c->GetFixedHeight() : 30;
                return false;
            });
            size = {root->GetFixedWidth() > 0 ? root->GetFixedWidth() : 160, height};
        }
        ResizeClient(size.cx, size.cy);
        POINT at = m_menu->at;
        if (QScreen* screen = QGuiApplication::screenAt(QPoint(at.x, at.y))
                                  ? QGuiApplication::screenAt(QPoint(at.x, at.y))
                                  : QGuiApplication::primaryScreen()) {
            QRect work = screen->availableGeometry();
            if (at.x + size.cx > work.right() + 1)
                at.x = std::max(work.left(), at.x - size.cx);
            if (at.y + size.cy > work.bottom() + 1)
                at.y = std::max(work.top(), at.y - size.cy);
        }
        RECT rc = GetWindowRect();
        (void)rc;
        MoveWindow(at.x, at.y, size.cx, size.cy);
        return 0;
    }
    case WM_ACTIVATE:
        if (wParam == 0 && IsVisible() && !m_menu->chosen)
            Close(IDCANCEL);
        break;
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            Close(IDCANCEL);
            return 0;
        }
        break;
    default:
        break;
    }
    LRESULT result = 0;
    if (m_menu->pm.MessageHandler(uMsg, wParam, lParam, result))
        return result;
    return CWindowWnd::HandleMessage(uMsg, wParam, lParam);
}

void CMenuWnd::OnFinalMessage(HWND)
{
    delete this;
}

} // namespace UiLib
