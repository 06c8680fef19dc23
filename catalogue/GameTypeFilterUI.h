#pragma once

#include <span>

#include "catalogue/DispatchReceiver.h"
#include "ui/HorizontalLayout.h"

// The category filter bar: its forwarding options stand for categories 0 to 15 in layout order
// (spacers between them are not options and count for nothing). A click sets the filter's tag to
// the option's id and sends "click" with wParam = that id.
class CGameTypeFilterUI : public UiLib::CHorizontalLayoutUI, public IDispatchReceiver {
public:
    UiLib::LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void DoInit() override;
    void ReceiveDispatch(UiLib::CControlUI* child) override;
    bool SelectId(int id);

protected:
    // The ids the options stand for, in layout order.
    virtual std::span<const int> Ids() const;
};
