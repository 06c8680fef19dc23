#pragma once

#include <chrono>

#include "ui/VerticalLayout.h"

// The "loading" notice over a view (children from "skin\xmls\LoadingLayout.xml": an animation and
// the label Lb_LoadingText). ShowLoading starts a 120 ms timer but keeps the notice hidden; it
// appears on the first tick at least one second later, so quick answers never flash it, and from
// then on each tick moves the dots of "加载中 . . ." and turns the spinner Ctr_Loading by one of
// its frames ("skin\ui\loading_0.png" to "loading_7.png"). HideLoading hides it and stops the timer.
class CLoadingUI : public UiLib::CVerticalLayoutUI {
public:
    static constexpr UiLib::UINT kTimerId = 0x4C44;
    static constexpr int kTickMs = 120;
    static constexpr int kDelayMs = 1000;

    UiLib::LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void DoInit() override;
    void DoEvent(UiLib::TEventUI& event) override;

    void ShowLoading();
    void HideLoading();
    // Whether a ShowLoading is in effect (the notice may not be visible yet).
    bool IsLoading() const { return m_bLoading; }

private:
    bool m_bLoading = false;
    int m_counter = 0;
    std::chrono::steady_clock::time_point m_shownAt;
};
