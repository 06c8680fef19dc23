#pragma once

#include "catalogue/DispatchReceiver.h"
#include "ui/VerticalLayout.h"

// The platform filter bar: its forwarding options stand for the platform ids in layout order
// ("全部", "PC", "FC", ... "MAME+"). A click sets the filter's tag to the option's id and sends
// "click" with wParam = that id. The filter's tag is the id last clicked (0 at start).
class CEmuFilterUI : public UiLib::CVerticalLayoutUI, public IDispatchReceiver {
public:
    static const int kIds[19];

    UiLib::LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    void DoInit() override;
    void ReceiveDispatch(UiLib::CControlUI* child) override;
    // Marks the option of `id` as selected (the window does so when its view changes).
    bool SelectId(int id);
};
