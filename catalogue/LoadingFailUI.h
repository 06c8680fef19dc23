#pragma once

#include <chrono>

#include "ui/VerticalLayout.h"

// The "加载失败" notice (children from "skin\xmls\LoadingFailLayout.xml"). ShowFail shows it and
// starts a 100 ms timer; the first tick at least 1.5 s later hides it again.
class CLoadingFailUI : public UiLib::CVerticalLayoutUI {
public:
    static constexpr UiLib::UINT kTimerId = 0x4C46;
    static constexpr int kTickMs = 100;
    static constexpr int kShowMs = 1500;

    UiLib::LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void DoInit() override;
    void DoEvent(UiLib::TEventUI& event) override;

    void ShowFail();
    void HideFail();

private:
    bool m_bShowing = false;
    std::chrono::steady_clock::time_point m_shownAt;
};
