#pragma once

#include <memory>
#include <vector>

#include "ui/Label.h"

namespace UiLib {

// Multi-line text (wraps by default). With "showhtml" the text may hold simple markup: <b>, <i>,
// <u>, <br> or <n> (a line break), <font color='#RRGGBB'>, <f N>...</f> (the window's font N),
// <c #RRGGBB>...</c> (a colour) and links: <a>words</a>, <a href='target'>words</a> or
// <a target>words</a>. A link without a target has its own text as target.
// Clicking a link sends "link" with wParam = the link's index in the text and lParam = the address
// of its text (a const CDuiString*, valid while the notification is delivered); GetLinkText and
// GetLinkContent give the text and the target of a link at any time.
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
    // The words shown for a link, markup removed.
    CDuiString GetLinkText(int index) const;
    // The link under a point (client coordinates), or -1.
    int HitTestLink(POINT pt) const;

    void DoEvent(TEventUI& event) override;
    void PaintText(HDC hDC) override;
    void SetAttribute(std::u16string_view name, std::u16string_view value) override;

private:
    void Rebuild() const;
    // The box the text is laid out in (the control less its text padding), and where the laid out
    // document's top is drawn inside it (lower down for centred and bottom-aligned text). Painting
    // and link hit tests use both, so a link is found where it is drawn.
    RECT TextRect() const;
    double DocumentTop() const;

    struct Doc;
    mutable std::unique_ptr<Doc> m_doc;
    bool m_bShowHtml = false;
    int m_iHotLink = -1;
    int m_iPressedLink = -1;
};

} // namespace UiLib
