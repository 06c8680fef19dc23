#include "catalogue/LoadingUI.h"

#include "catalogue/NoticeContent.h"
#include "ui/PaintManager.h"

using namespace UiLib;

LPCTSTR CLoadingUI::GetClass() const
{
    return u"LoadingUI";
}

void* CLoadingUI::GetInterface(std::u16string_view name)
{
    if (name == u"CLoadingUI")
        return this;
    return CVerticalLayoutUI::GetInterface(name);
}

void CLoadingUI::DoInit()
{
    CVerticalLayoutUI::DoInit();
    BuildNoticeContent(this, u"skin\\xmls\\LoadingLayout.xml", u"Lb_LoadingText", u"加载中...");
}

void CLoadingUI::ShowLoading()
{
    if (m_bLoading || m_pManager == nullptr)
        return;
    m_bLoading = true;
    m_counter = 1;
    m_shownAt = std::chrono::steady_clock::now();
    SetVisible(false);
    m_pManager->SetTimer(this, kTimerId, kTickMs);
}

void CLoadingUI::HideLoading()
{
    if (m_pManager != nullptr)
        m_pManager->KillTimer(this, kTimerId);
    m_bLoading = false;
    SetVisible(false);
}

void CLoadingUI::DoEvent(TEventUI& event)
{
    if (event.Type != UIEVENT_TIMER || event.wParam != kTimerId) {
        CVerticalLayoutUI::DoEvent(event);
        return;
    }
    if (!m_bLoading)
        return;
    if (!IsOwnVisible()) {
        auto waited = std::chrono::steady_clock::now() - m_shownAt;
        if (waited < std::chrono::milliseconds(kDelayMs))
            return;
        SetVisible(true);
    }
    static const char16_t* const kTexts[4] = {u"加载中 . . .", u"加载中", u"加载中 .", u"加载中 . ."};
    if (CControlUI* label = FindSubControl(u"Lb_LoadingText"))
        label->SetText(kTexts[m_counter % 4]);
    // The spinner turns by one of its eight drawn frames a tick.
    if (CControlUI* spinner = FindSubControl(u"Ctr_Loading"))
        spinner->SetBkImage(CDuiString(u"skin\\ui\\loading_") + CDuiString::FromInt(m_counter % 8).Str() +
                            u".png");
    ++m_counter;
}
