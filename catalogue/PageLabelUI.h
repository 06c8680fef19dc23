#pragma once

#include "catalogue/DispatchReceiver.h"
#include "catalogue/PageLabelLayout.h"
#include "ui/HorizontalLayout.h"

class CDispatchEventButtonUI;
class CDispatchEventOptionUI;

namespace UiLib {
class CLabelUI;
}

// The page selector under the catalogue and search grids: previous button, seven page options,
// two ellipsis labels, next button. SetPage lays it out (ComputePageLabelLayout); a pick sends
// "click" with wParam = the chosen page (previous: page - 1, next: page + 1, an option: its tag).
class CPageLabelUI : public UiLib::CHorizontalLayoutUI, public IDispatchReceiver {
public:
    CPageLabelUI();
    UiLib::LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;
    void ReceiveDispatch(UiLib::CControlUI* child) override;

    // Shows page `page` of `total` games. A page or total below 1 hides the selector.
    void SetPage(int page, int total);
    int GetPage() const { return m_page; }
    int GetTotal() const { return m_total; }
    // Games per page ("pagecardinalnumber"); the views use it as their request's page size.
    int GetPageSize() const { return m_perPage; }
    // Sets the games per page; a size below 1 is ignored. The row is laid out again by the next
    // SetPage, whatever its values.
    void SetPageSize(int size);

private:
    template <class F> void ForEachItem(F f);

    CDispatchEventButtonUI* m_previous = nullptr;
    CDispatchEventButtonUI* m_next = nullptr;
    CDispatchEventOptionUI* m_options[PageLabelLayout::kOptionCount] = {};
    UiLib::CLabelUI* m_tip1 = nullptr;
    UiLib::CLabelUI* m_tip2 = nullptr;
    int m_itemWidth = 36;
    int m_itemHeight = 36;
    int m_perPage = 42;
    int m_page = 0;
    int m_total = 0;
};
