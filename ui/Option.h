#pragma once

#include "ui/Button.h"

namespace UiLib {

// A button with a selected state. Within a "group" (per window) it is a radio button: clicking
// selects it and clears the others; alone it toggles like a check box. A click sends "click",
// then "selectchanged" when the state changed. In a group only the option that becomes selected
// sends "selectchanged" (the cleared ones stay quiet, so a handler switching pages sees one).
// Attributes: group, selected, selectedimage, selectedhotimage, selectedtextcolor, selectedbkcolor.
class COptionUI : public CButtonUI {
public:
    ~COptionUI() override;
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;

    const CDuiString& GetGroup() const { return m_sGroupName; }
    void SetGroup(const CDuiString& group);
    bool IsSelected() const { return m_bSelected; }
    // Selects or clears; `notify` false changes the state quietly.
    virtual void Selected(bool selected, bool notify = true);

    bool Activate() override;
    void DoInit() override;
    void SetManager(CPaintManagerUI* manager, CControlUI* parent, bool init = true) override;
    void PaintBkColor(HDC hDC) override;
    void PaintStatusImage(HDC hDC) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

protected:
    bool m_bSelected = false;
    CDuiString m_sGroupName;
    CDuiString m_sSelectedImage;
    CDuiString m_sSelectedHotImage;
    DWORD m_dwSelectedTextColor = 0;
    DWORD m_dwSelectedBkColor = 0;
};

} // namespace UiLib
