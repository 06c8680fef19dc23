#pragma once

#include <memory>
#include <vector>

#include "ui/Label.h"

namespace UiLib {

// Multi-line text (wraps by default). With "showhtml" the text may hold simple markup: <b>, <i>,
// <u>, <br>, <font color='#RRGGBB'> and links <a href='target'>words</a>. Clicking a link sends
// "link" with wParam = the link's index in the text; GetLinkContent gives its target.
class CTextUI : public CLabelUI {
public:
    CTextUI();
    ~CTextUI() override;
    LPCTSTR GetClass() const override;
    void* GetInterface(std::u16string_view name) override;
    UINT GetControlFlags() const override;

    void SetText(const CDuiString& text) override;
    int GetLinkCount() const;
    CDuiString GetLinkContent(int index) const;
    // The link under a point (client coordinates), or -1.
    int HitTestLink(POINT pt) const;

    void DoEvent(TEventUI& event) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

private:
    void Rebuild() const;

    struct Doc;
    mutable std::unique_ptr<Doc> m_doc;
    bool m_bShowHtml = false;
    int m_iHotLink = -1;
    int m_iPressedLink = -1;
};

} // namespace UiLib
