#include "app/DropTileLayoutUI.h"

#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"
#include "ui/WindowWnd.h"

using namespace UiLib;

CDropTileLayoutUI::CDropTileLayoutUI()
{
    SetAcceptDrop(true);
}

LPCTSTR CDropTileLayoutUI::GetClass() const
{
    return u"DropTileLayoutUI";
}

void* CDropTileLayoutUI::GetInterface(std::u16string_view name)
{
    if (name == u"CDropTileLayoutUI")
        return this;
    return CTileLayoutUI::GetInterface(name);
}

void CDropTileLayoutUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (EqualsNoCase(name, u"dropbordcolor")) {
        DWORD color = 0;
        if (ParseColor(value, color))
            SetDropBorderColor(color);
    } else if (EqualsNoCase(name, u"dropbordersize")) {
        SetDropBorderSize(static_cast<int>(ParseBoundedInt(value)));
    } else {
        CTileLayoutUI::SetAttribute(name, value);
    }
}

void CDropTileLayoutUI::SetDropBorderColor(DWORD color)
{
    if (m_dwDropBorderColor == color)
        return;
    m_dwDropBorderColor = color;
    if (m_bDropHighlight)
        Invalidate();
}

void CDropTileLayoutUI::SetDropBorderSize(int size)
{
    if (size < 0)
        size = 0;
    if (m_nDropBorderSize == size)
        return;
    m_nDropBorderSize = size;
    Invalidate();
}

void CDropTileLayoutUI::SetHighlight(bool on)
{
    if (m_bDropHighlight == on)
        return;
    m_bDropHighlight = on;
    if (m_pManager != nullptr) {
        if (on)
            m_pManager->SetTimer(this, kDragTimerId, kDragTimerMs);
        else
            m_pManager->KillTimer(this, kDragTimerId);
    }
    Invalidate();
}

void CDropTileLayoutUI::DoEvent(TEventUI& event)
{
    switch (event.Type) {
    case UIEVENT_DRAGENTER:
        SetHighlight(true);
        return;
    case UIEVENT_DRAGLEAVE:
        SetHighlight(false);
        return;
    case UIEVENT_TIMER:
        if (event.wParam == kDragTimerId) {
            // Tiles may come and go under a long drag (a watcher adding games): the frame stays on top.
            Invalidate();
            return;
        }
        break;
    case UIEVENT_DROPFILES: {
        SetHighlight(false);
        const auto* drop = reinterpret_cast<const TDropFiles*>(event.lParam);
        if (drop == nullptr || drop->files.empty())
            return;
        std::vector<std::string> paths;
        paths.reserve(drop->files.size());
        for (const CDuiString& file : drop->files)
            paths.push_back(file.ToUtf8());
        SendNotify(u"click", static_cast<WPARAM>(paths.size()), reinterpret_cast<LPARAM>(&paths));
        return;
    }
    default:
        break;
    }
    CTileLayoutUI::DoEvent(event);
}

void CDropTileLayoutUI::DoPaint(HDC hDC, const RECT& rcPaint)
{
    CTileLayoutUI::DoPaint(hDC, rcPaint);
    // Over the tiles, so the frame shows wherever the view is full.
    if (m_bDropHighlight)
        CRenderEngine::DrawRect(hDC, m_rcItem, m_nDropBorderSize, m_dwDropBorderColor);
}
