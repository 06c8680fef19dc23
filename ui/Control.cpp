#include "ui/Control.h"

#include <algorithm>

#include "platform/Trace.h"
#include "ui/Container.h"
#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"

namespace UiLib {

bool IntersectRect(RECT& out, const RECT& a, const RECT& b)
{
    out = RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (out.IsEmpty()) {
        out = RECT{};
        return false;
    }
    return true;
}

RECT UnionRect(const RECT& a, const RECT& b)
{
    if (a.IsEmpty())
        return b;
    if (b.IsEmpty())
        return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

namespace {

// Layout numbers beyond this are taken as this: no arithmetic on positions can overflow.
constexpr long long kMaxCoordinate = 100000;

int Dimension(std::u16string_view value)
{
    return static_cast<int>(std::clamp<long long>(ParseInt(value), -1, kMaxCoordinate));
}

bool ParseInts(std::u16string_view value, int* out, int count)
{
    int n = 0;
    size_t i = 0;
    while (n < count) {
        while (i < value.size() && (value[i] == u' ' || value[i] == u','))
            ++i;
        if (i >= value.size())
            return false;
        size_t start = i;
        if (value[i] == u'-' || value[i] == u'+')
            ++i;
        if (i >= value.size() || value[i] < u'0' || value[i] > u'9')
            return false;
        while (i < value.size() && value[i] >= u'0' && value[i] <= u'9')
            ++i;
        out[n++] = static_cast<int>(
            std::clamp<long long>(ParseInt(value.substr(start, i - start)), -kMaxCoordinate, kMaxCoordinate));
    }
    return true;
}

void TraceBadValue(std::u16string_view name, std::u16string_view value)
{
    platform::TraceF("UiLib: attribute %s has an unreadable value '%s'", CDuiString(name).ToUtf8().c_str(),
                     CDuiString(value).ToUtf8().c_str());
}

} // namespace

bool ParseColor(std::u16string_view value, DWORD& color)
{
    while (!value.empty() && value.front() == u' ')
        value.remove_prefix(1);
    if (!value.empty() && value.front() == u'#')
        value.remove_prefix(1);
    else if (value.size() > 2 && value[0] == u'0' && (value[1] == u'x' || value[1] == u'X'))
        value.remove_prefix(2);
    if (value.empty() || value.size() > 8)
        return false;
    DWORD result = 0;
    for (char16_t ch : value) {
        int digit;
        if (ch >= u'0' && ch <= u'9')
            digit = ch - u'0';
        else if (ch >= u'a' && ch <= u'f')
            digit = ch - u'a' + 10;
        else if (ch >= u'A' && ch <= u'F')
            digit = ch - u'A' + 10;
        else
            return false;
        result = (result << 4) | static_cast<DWORD>(digit);
    }
    if (value.size() <= 6)
        result |= 0xFF000000; // RRGGBB without alpha is opaque
    color = result;
    return true;
}

bool ParseRect(std::u16string_view value, RECT& rc)
{
    int v[4];
    if (!ParseInts(value, v, 4))
        return false;
    rc = RECT{v[0], v[1], v[2], v[3]};
    return true;
}

bool ParseSize(std::u16string_view value, SIZE& size)
{
    int v[2];
    if (!ParseInts(value, v, 2))
        return false;
    size = SIZE{v[0], v[1]};
    return true;
}

int ParseBoundedInt(std::u16string_view value, int fallback)
{
    return static_cast<int>(
        std::clamp<long long>(ParseInt(value, fallback), -kMaxCoordinate, kMaxCoordinate));
}

bool ParseBool(std::u16string_view value)
{
    return EqualsNoCase(value, u"true") || value == u"1";
}

UINT ParseAlign(std::u16string_view value, UINT style)
{
    if (value.find(u"left") != std::u16string_view::npos)
        style &= ~(DT_CENTER | DT_RIGHT);
    if (value.find(u"center") != std::u16string_view::npos &&
        value.find(u"vcenter") == std::u16string_view::npos) {
        style &= ~(DT_LEFT | DT_RIGHT);
        style |= DT_CENTER;
    }
    if (value.find(u"right") != std::u16string_view::npos) {
        style &= ~(DT_CENTER);
        style |= DT_RIGHT;
    }
    if (value.find(u"top") != std::u16string_view::npos)
        style &= ~(DT_VCENTER | DT_BOTTOM);
    if (value.find(u"vcenter") != std::u16string_view::npos) {
        style &= ~DT_BOTTOM;
        style |= DT_VCENTER;
    }
    if (value.find(u"bottom") != std::u16string_view::npos) {
        style &= ~DT_VCENTER;
        style |= DT_BOTTOM;
    }
    return style;
}

CControlUI::CControlUI() = default;

CControlUI::~CControlUI()
{
    if (m_pManager != nullptr)
        m_pManager->ReapObjects(this);
}

LPCTSTR CControlUI::GetClass() const
{
    return u"ControlUI";
}

void* CControlUI::GetInterface(std::u16string_view name)
{
    if (name == u"Control")
        return this;
    return nullptr;
}

UINT CControlUI::GetControlFlags() const
{
    return 0;
}

void CControlUI::SetName(const CDuiString& name)
{
    if (m_sName == name)
        return;
    CDuiString old = m_sName;
    m_sName = name;
    if (m_pManager != nullptr)
        m_pManager->RenameControl(this, old);
}

void CControlUI::SetText(const CDuiString& text)
{
    CDuiString capped = CapText(text, kMaxControlText);
    if (m_sText == capped)
        return;
    m_sText = std::move(capped);
    Invalidate();
}

void CControlUI::SetToolTip(const CDuiString& text)
{
    m_sToolTip = CapText(text, kMaxToolTipText);
}

CDuiString CapText(const CDuiString& text, size_t maxUnits)
{
    const std::u16string& units = text.Str();
    if (units.size() <= maxUnits)
        return text;
    if (maxUnits == 0)
        return {};
    size_t keep = maxUnits - 1; // room for the ellipsis
    // A low surrogate at the cut belongs to the high one before it: both go.
    if (keep > 0 && keep < units.size() && units[keep] >= 0xDC00 && units[keep] <= 0xDFFF &&
        units[keep - 1] >= 0xD800 && units[keep - 1] <= 0xDBFF)
        --keep;
    std::u16string out = units.substr(0, keep);
    out += u'\u2026';
    return CDuiString(std::move(out));
}

void CControlUI::SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init)
{
    m_pManager = manager;
    m_pParent = parent;
    if (init && manager != nullptr) {
        DoInit();
        manager->InitControls(this);
    }
}

CControlUI* CControlUI::FindControl(const std::function<bool(CControlUI*)>& match)
{
    return match(this) ? this : nullptr;
}

CControlUI* CControlUI::FindControlAt(POINT pt)
{
    if (!IsVisible() || !m_bMouseEnabled || !m_rcItem.Contains(pt))
        return nullptr;
    return this;
}

void CControlUI::SetVisible(bool visible)
{
    if (m_bVisible == visible)
        return;
    bool wasVisible = IsVisible();
    m_bVisible = visible;
    if (m_bFocused && !visible && m_pManager != nullptr)
        m_pManager->SetFocus(nullptr);
    if (IsVisible() != wasVisible)
        NeedParentUpdate();
}

void CControlUI::SetInternVisible(bool visible)
{
    m_bInternVisible = visible;
    if (!visible && m_bFocused && m_pManager != nullptr)
        m_pManager->SetFocus(nullptr);
}

void CControlUI::SetEnabled(bool enabled)
{
    if (m_bEnabled == enabled)
        return;
    m_bEnabled = enabled;
    Invalidate();
}

void CControlUI::SetFocus()
{
    if (m_pManager != nullptr)
        m_pManager->SetFocus(this);
}

bool CControlUI::Activate()
{
    return IsVisible() && IsEnabled();
}

bool CControlUI::IsNavigable() const
{
    if (m_navigable != Navigable::ByKind)
        return m_navigable == Navigable::Yes;
    return m_bMouseEnabled && const_cast<CControlUI*>(this)->GetInterface(u"Button") != nullptr;
}

void CControlUI::SetPos(RECT rc, bool needInvalidate)
{
    if (rc.right < rc.left)
        rc.right = rc.left;
    if (rc.bottom < rc.top)
        rc.bottom = rc.top;
    m_bInnerUpdateNeeded = false; // a container lays out its children after this
    if (rc == m_rcItem && !m_bUpdateNeeded)
        return;
    RECT old = m_rcItem;
    m_rcItem = rc;
    m_bUpdateNeeded = false;
    if (needInvalidate && m_pManager != nullptr && IsVisible()) {
        m_pManager->Invalidate(UnionRect(old, m_rcItem));
    }
}

void CControlUI::SetFixedPos(RECT rc)
{
    m_rcFixedPos = rc;
    m_cxyFixed = SIZE{rc.right - rc.left, rc.bottom - rc.top};
    NeedParentUpdate();
}

void CControlUI::SetFixedWidth(int cx)
{
    if (cx < 0)
        return;
    m_cxyFixed.cx = cx;
    if (m_bFloat)
        m_rcFixedPos.right = m_rcFixedPos.left + cx;
    NeedParentUpdate();
}

void CControlUI::SetFixedHeight(int cy)
{
    if (cy < 0)
        return;
    m_cxyFixed.cy = cy;
    if (m_bFloat)
        m_rcFixedPos.bottom = m_rcFixedPos.top + cy;
    NeedParentUpdate();
}

void CControlUI::SetMinWidth(int cx)
{
    m_cxyMin.cx = std::max(0, cx);
    NeedParentUpdate();
}

void CControlUI::SetMinHeight(int cy)
{
    m_cxyMin.cy = std::max(0, cy);
    NeedParentUpdate();
}

void CControlUI::SetMaxWidth(int cx)
{
    m_cxyMax.cx = std::max(0, cx);
    NeedParentUpdate();
}

void CControlUI::SetMaxHeight(int cy)
{
    m_cxyMax.cy = std::max(0, cy);
    NeedParentUpdate();
}

void CControlUI::SetPadding(RECT rc)
{
    m_rcPadding = rc;
    NeedParentUpdate();
}

SIZE CControlUI::EstimateSize(SIZE)
{
    return m_cxyFixed;
}

void CControlUI::SetBkColor(DWORD color)
{
    m_dwBackColor = color;
    Invalidate();
}

void CControlUI::SetBkImage(const CDuiString& image)
{
    if (m_sBkImage == image)
        return;
    m_sBkImage = image;
    Invalidate();
}

void CControlUI::SetBorderColor(DWORD color)
{
    m_dwBorderColor = color;
    Invalidate();
}

void CControlUI::SetBorderSize(int size)
{
    m_nBorderSize = std::max(0, size);
    Invalidate();
}

void CControlUI::SetBorderRound(SIZE round)
{
    m_cxyBorderRound = round;
    Invalidate();
}

void CControlUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    RECT rc;
    SIZE sz;
    DWORD color;
    if (name == u"name") {
        SetName(CDuiString(value));
    } else if (name == u"text") {
        SetText(CDuiString(value));
    } else if (name == u"tooltip") {
        SetToolTip(CDuiString(value));
    } else if (name == u"userdata") {
        SetUserData(CDuiString(value));
    } else if (name == u"tag") {
        SetTag(static_cast<UINT_PTR>(ParseInt(value)));
    } else if (name == u"pos") {
        if (!ParseRect(value, rc))
            return TraceBadValue(name, value);
        SetFixedPos(rc);
    } else if (name == u"float") {
        m_bFloat = ParseBool(value);
        NeedParentUpdate();
    } else if (name == u"width") {
        SetFixedWidth(Dimension(value));
    } else if (name == u"height") {
        SetFixedHeight(Dimension(value));
    } else if (name == u"minwidth") {
        SetMinWidth(Dimension(value));
    } else if (name == u"minheight") {
        SetMinHeight(Dimension(value));
    } else if (name == u"maxwidth") {
        SetMaxWidth(Dimension(value));
    } else if (name == u"maxheight") {
        SetMaxHeight(Dimension(value));
    } else if (name == u"padding") {
        if (!ParseRect(value, rc))
            return TraceBadValue(name, value);
        SetPadding(rc);
    } else if (name == u"bkcolor" || name == u"bkcolor1") {
        if (!ParseColor(value, color))
            return TraceBadValue(name, value);
        SetBkColor(color);
    } else if (name == u"bkcolor2") {
        if (!ParseColor(value, color))
            return TraceBadValue(name, value);
        m_dwBackColor2 = color;
    } else if (name == u"bkimage") {
        SetBkImage(CDuiString(value));
    } else if (name == u"bordercolor") {
        if (!ParseColor(value, color))
            return TraceBadValue(name, value);
        SetBorderColor(color);
    } else if (name == u"focusbordercolor") {
        if (!ParseColor(value, color))
            return TraceBadValue(name, value);
        m_dwFocusBorderColor = color;
    } else if (name == u"bordersize") {
        SetBorderSize(Dimension(value));
    } else if (name == u"borderround") {
        if (!ParseSize(value, sz))
            return TraceBadValue(name, value);
        SetBorderRound(sz);
    } else if (name == u"visible") {
        SetVisible(ParseBool(value));
    } else if (name == u"enabled") {
        SetEnabled(ParseBool(value));
    } else if (name == u"acceptdrop") {
        SetAcceptDrop(ParseBool(value));
    } else if (name == u"navigable") {
        SetNavigable(ParseBool(value));
    } else if (name == u"mouse") {
        SetMouseEnabled(ParseBool(value));
    } else if (name == u"cursor") {
        if (value == u"hand")
            m_cursor = UiCursor::Hand;
        else if (value == u"ibeam")
            m_cursor = UiCursor::IBeam;
        else
            m_cursor = UiCursor::Arrow;
    } else {
        platform::TraceF("UiLib: %s has no attribute '%s'", CDuiString(GetClass()).ToUtf8().c_str(),
                         CDuiString(name).ToUtf8().c_str());
    }
}

void CControlUI::ApplyAttributeList(std::u16string_view list)
{
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() &&
               (list[i] == u' ' || list[i] == u'\t' || list[i] == u'\r' || list[i] == u'\n'))
            ++i;
        if (i >= list.size())
            break;
        size_t nameStart = i;
        while (i < list.size() && list[i] != u'=' && list[i] != u' ')
            ++i;
        std::u16string_view name = list.substr(nameStart, i - nameStart);
        while (i < list.size() && list[i] == u' ')
            ++i;
        if (i >= list.size() || list[i] != u'=')
            return;
        ++i;
        while (i < list.size() && list[i] == u' ')
            ++i;
        if (i >= list.size() || (list[i] != u'"' && list[i] != u'\''))
            return;
        char16_t quote = list[i++];
        size_t valueStart = i;
        while (i < list.size() && list[i] != quote)
            ++i;
        if (i >= list.size())
            return;
        SetAttribute(name, list.substr(valueStart, i - valueStart));
        ++i;
    }
}

void CControlUI::Invalidate()
{
    if (m_pManager == nullptr || !IsVisible() || m_rcItem.IsEmpty())
        return;
    RECT rc = m_rcItem;
    // Clip to the visible parts of the parents (scrolled containers).
    for (CControlUI* parent = m_pParent; parent != nullptr; parent = parent->GetParent()) {
        if (!IntersectRect(rc, rc, parent->GetPos()))
            return;
    }
    m_pManager->Invalidate(rc);
}

void CControlUI::NeedUpdate()
{
    if (!IsVisible())
        return;
    m_bUpdateNeeded = true;
    for (CControlUI* parent = m_pParent; parent != nullptr; parent = parent->m_pParent)
        parent->m_bInnerUpdateNeeded = true;
    Invalidate();
    if (m_pManager != nullptr)
        m_pManager->NeedUpdate();
}

void CControlUI::NeedParentUpdate()
{
    if (m_pParent != nullptr) {
        m_pParent->NeedUpdate();
        m_pParent->Invalidate();
    } else {
        NeedUpdate();
    }
    if (m_pManager != nullptr)
        m_pManager->NeedUpdate();
}

void CControlUI::SendNotify(std::u16string_view type, WPARAM wParam, LPARAM lParam)
{
    if (m_pManager != nullptr)
        m_pManager->SendNotify(this, type, wParam, lParam);
}

void CControlUI::DoEvent(TEventUI& event)
{
    switch (event.Type) {
    case UIEVENT_SETFOCUS:
        m_bFocused = true;
        Invalidate();
        return;
    case UIEVENT_KILLFOCUS:
        m_bFocused = false;
        Invalidate();
        return;
    case UIEVENT_TIMER:
        SendNotify(u"timer", event.wParam, event.lParam);
        return;
    case UIEVENT_DROPFILES:
        if (m_bAcceptDrop)
            return; // the "dropfiles" notification that follows is the drop's handling
        [[fallthrough]];
    case UIEVENT_SCROLLWHEEL:
        if (m_pParent != nullptr)
            m_pParent->DoEvent(event);
        return;
    default:
        return;
    }
}

void CControlUI::DoPaint(HDC hDC, const RECT& rcPaint)
{
    RECT clip;
    if (!IntersectRect(clip, rcPaint, m_rcItem))
        return;
    PaintBkColor(hDC);
    PaintBkImage(hDC);
    PaintStatusImage(hDC);
    PaintText(hDC);
    PaintBorder(hDC);
}

void CControlUI::PaintBkColor(HDC hDC)
{
    if ((m_dwBackColor >> 24) == 0)
        return;
    if (m_dwBackColor2 != 0) {
        CRenderEngine::DrawGradient(hDC, m_rcItem, m_dwBackColor, m_dwBackColor2, true);
        return;
    }
    if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0)
        CRenderEngine::FillRoundRect(hDC, m_rcItem, m_cxyBorderRound.cx, m_cxyBorderRound.cy, m_dwBackColor);
    else
        CRenderEngine::DrawColor(hDC, m_rcItem, m_dwBackColor);
}

void CControlUI::PaintBkImage(HDC hDC)
{
    if (!m_sBkImage.IsEmpty())
        DrawImage(hDC, m_sBkImage);
}

void CControlUI::PaintStatusImage(HDC) {}

void CControlUI::PaintText(HDC) {}

void CControlUI::PaintBorder(HDC hDC)
{
    if (m_nBorderSize <= 0)
        return;
    DWORD color = (m_bFocused && m_dwFocusBorderColor != 0) ? m_dwFocusBorderColor : m_dwBorderColor;
    if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0)
        CRenderEngine::DrawRoundRect(hDC, m_rcItem, m_nBorderSize, m_cxyBorderRound.cx, m_cxyBorderRound.cy,
                                     color);
    else
        CRenderEngine::DrawRect(hDC, m_rcItem, m_nBorderSize, color);
}

bool CControlUI::DrawImage(HDC hDC, const CDuiString& image, std::u16string_view modify)
{
    return CRenderEngine::DrawImageString(hDC, m_pManager, m_rcItem, m_rcItem, image, modify);
}

} // namespace UiLib
