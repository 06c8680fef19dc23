#include "catalogue/GameItemUI.h"

#include <cstdlib>

#include "catalogue/Game.h"
#include "foundation/StringConv.h"
#include "store/GameinfoRecord.h"
#include "store/LocalGameRecord.h"
#include "ui/Button.h"
#include "ui/PaintManager.h"
#include "ui/RenderEngine.h"

using namespace UiLib;

namespace {

struct Badge {
    int id;
    const char16_t* image;
};

constexpr Badge kBadges[] = {
    {119, u"PS.png"},  {120, u"GBA.png"},      {121, u"SFC.png"}, {122, u"MD.png"},  {123, u"MAME.png"},
    {124, u"GBC.png"}, {125, u"FC.png"},       {126, u"FBA.png"}, {127, u"NDS.png"}, {129, u"PSP.png"},
    {130, u"N64.png"}, {131, u"WSC.png"},      {133, u"DC.png"},  {138, u"PC.png"},  {140, u"WII.png"},
    {142, u"PS2.png"}, {146, u"MAMEPLUS.png"}, {148, u"PCE.png"},
};

bool IsButton(CControlUI* control)
{
    return control->GetInterface(u"Button") != nullptr;
}

} // namespace

LPCTSTR CGameItemUI::GetClass() const
{
    return u"GameItemUI";
}

void* CGameItemUI::GetInterface(std::u16string_view name)
{
    if (name == u"CGameItemUI")
        return this;
    if (name == kDispatchReceiverInterface)
        return static_cast<IDispatchReceiver*>(this);
    return CHorizontalLayoutUI::GetInterface(name);
}

void CGameItemUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"hotbordcolor") {
        if (!value.empty() && value.front() == u'#')
            value.remove_prefix(1);
        std::string hex;
        for (char16_t ch : value)
            hex.push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
        m_dwHotBorderColor = static_cast<DWORD>(std::strtoul(hex.c_str(), nullptr, 16));
    } else if (name == u"hotbordersize") {
        m_nHotBorderSize = static_cast<int>(ParseInt(value));
    } else if (name == u"click") {
        m_bClickable = ParseBool(value);
        SetCursor(m_bClickable ? UiCursor::Hand : UiCursor::Arrow);
    } else {
        CHorizontalLayoutUI::SetAttribute(name, value);
    }
}

void CGameItemUI::DoInit()
{
    CHorizontalLayoutUI::DoInit();
    // Everything but the buttons is part of the tile for the mouse: a press on the name or the
    // icon is a press on the tile, and the tile alone tracks the pointer.
    FindControl([this](CControlUI* control) {
        if (control != this && !IsButton(control))
            control->SetMouseEnabled(false);
        return false;
    });
}

void CGameItemUI::UpdateHot()
{
    bool hot = false;
    if (m_pManager != nullptr) {
        for (CControlUI* up = m_pManager->GetHover(); up != nullptr; up = up->GetParent()) {
            if (up == this) {
                hot = true;
                break;
            }
        }
    }
    if (hot != m_bHot) {
        m_bHot = hot;
        Invalidate();
    }
}

void CGameItemUI::DoEvent(TEventUI& event)
{
    switch (event.Type) {
    case UIEVENT_MOUSEENTER:
    case UIEVENT_MOUSELEAVE:
    case UIEVENT_MOUSEMOVE:
        UpdateHot();
        return;
    case UIEVENT_BUTTONDOWN:
    case UIEVENT_DBLCLICK:
        m_bPushed = m_bClickable && m_rcItem.Contains(event.ptMouse);
        return;
    case UIEVENT_BUTTONUP:
        if (m_bPushed && m_bClickable && m_rcItem.Contains(event.ptMouse)) {
            m_bPushed = false;
            SendNotify(u"click", 0, 0); // may delete this tile: nothing after it
            return;
        }
        m_bPushed = false;
        return;
    default:
        CHorizontalLayoutUI::DoEvent(event);
    }
}

void CGameItemUI::PaintBorder(HDC hDC)
{
    CHorizontalLayoutUI::PaintBorder(hDC);
    if (!m_bHot || m_dwHotBorderColor == 0 || m_nHotBorderSize == 0)
        return;
    if (m_cxyBorderRound.cx > 0 || m_cxyBorderRound.cy > 0)
        CRenderEngine::DrawRoundRect(hDC, m_rcItem, m_nHotBorderSize, m_cxyBorderRound.cx,
                                     m_cxyBorderRound.cy, m_dwHotBorderColor);
    else
        CRenderEngine::DrawRect(hDC, m_rcItem, m_nHotBorderSize, m_dwHotBorderColor);
}

void CGameItemUI::ReceiveDispatch(CControlUI* child)
{
    const CDuiString& name = child->GetName();
    WPARAM which = 0;
    if (name == u"Btn_InstallGame")
        which = 1;
    else if (name == u"Btn_DeleteGame")
        which = 2;
    else if (name == u"Btn_OpenGame")
        which = 3;
    else if (name == u"Btn_RenameGame")
        which = 4;
    SendNotify(u"click", which, static_cast<LPARAM>(child->GetTag())); // may delete this tile
}

std::u16string CGameItemUI::BadgeImage(int emulatorId)
{
    for (const Badge& badge : kBadges) {
        if (badge.id == emulatorId)
            return badge.image;
    }
    return {};
}

void CGameItemUI::SetChildText(std::u16string_view name, const CDuiString& text)
{
    if (CControlUI* child = FindSubControl(name))
        child->SetText(text);
}

void CGameItemUI::FillCommon(const std::string& emulatorId, const std::string& name, const std::string& size)
{
    std::u16string badge = BadgeImage(std::atoi(emulatorId.c_str()));
    if (!badge.empty())
        SetBkImage(CDuiString(u"file='skin\\ui\\" + badge + u"' dest='217,0,253,36'"));
    if (CControlUI* icon = FindSubControl(u"Ctr_GameIcon"))
        icon->SetBkImage(CDuiString());
    SetChildText(u"Lb_GameName", CDuiString(AnsiToUtf16(name)));
    SetChildText(u"Lb_GameSize", CDuiString(AnsiToUtf16(size) + u"MB"));
}

void CGameItemUI::FillFromGame(const CGame& game)
{
    FillCommon(game.emulatorid, game.gamename, game.size);
    CDuiString category(AnsiToUtf16(game.categoryshortname));
    category.Replace(u"游戏", u"");
    SetChildText(u"Lb_GameType", category);
}

void CGameItemUI::MarkInstalled()
{
    if (CControlUI* button = FindSubControl(u"Btn_InstallGame"))
        button->SetTag(8);
}

void CGameItemUI::FillFromInstalled(const GameinfoRecord& game)
{
    FillCommon(game.EmulatorId, game.GameName, game.Size);
    CDuiString category(AnsiToUtf16(game.CategoryShortName));
    category.Replace(u"游戏", u"");
    SetChildText(u"Lb_GameType", category);
    MarkInstalled();
}

void CGameItemUI::FillFromLocal(const LocalGameRecord& game)
{
    FillCommon(game.EmulatorId, game.GameName, game.Size);
    MarkInstalled();
}

void CGameItemUI::SetIcon(const CDuiString& imagePath)
{
    if (CControlUI* icon = FindSubControl(u"Ctr_GameIcon"))
        icon->SetBkImage(imagePath);
}

void CGameItemUI::SetInstallState(int state)
{
    const char16_t* text = nullptr;
    switch (state) {
    case 0:
        text = u"安装";
        break;
    case 2:
        text = u"下载中";
        break;
    case 3:
        text = u"暂停";
        break;
    case 4:
        text = u"等待";
        break;
    case 5:
        text = u"安装中";
        break;
    case 6:
        text = u"暂停";
        break;
    case 8:
        text = u"启动";
        break;
    default:
        return;
    }
    if (CControlUI* button = FindSubControl(u"Btn_InstallGame")) {
        button->SetText(text);
        button->SetTag(static_cast<UINT_PTR>(state));
    }
}
