#include "catalogue/LoadingFailUI.h"

#include "catalogue/NoticeContent.h"
#include "ui/PaintManager.h"

using namespace UiLib;

LPCTSTR CLoadingFailUI::GetClass() const
{
    return u"LoadingFailUI";
}

void* CLoadingFailUI::GetInterface(std::u16string_view name)
{
    if (name == u"CLoadingFailUI")
        return this;
    return CVerticalLayoutUI::GetInterface(name);
}

void CLoadingFailUI::DoInit()
{
    CVerticalLayoutUI::DoInit();
    BuildNoticeContent(this, u"skin\\xmls\\LoadingFailLayout.xml", u"Lb_LoadingFailText", u"加载失败");
}

void CLoadingFailUI::ShowFail()
{
    if (m_pManager == nullptr)
        return;
    m_bShowing = true;
    m_shownAt = std::chrono::steady_clock::now();
    SetVisible(true);
    m_pManager->SetTimer(this, kTimerId, kTickMs);
}

void CLoadingFailUI::HideFail()
{
    if (m_pManager != nullptr)
        m_pManager->KillTimer(this, kTimerId);
    m_bShowing = false;
    SetVisible(false);
}

void CLoadingFailUI::DoEvent(TEventUI& event)
{
    if (event.Type != UIEVENT_TIMER || event.wParam != kTimerId) {
        CVerticalLayoutUI::DoEvent(event);
        return;
    }
    if (m_bShowing && std::chrono::steady_clock::now() - m_shownAt >= std::chrono::milliseconds(kShowMs))
        HideFail();
}
