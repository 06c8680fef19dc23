#include "catalogue/PageLabelUI.h"

#include "catalogue/DispatchEventButtonUI.h"
#include "catalogue/DispatchEventOptionUI.h"
#include "ui/Label.h"

using namespace UiLib;

CPageLabelUI::CPageLabelUI()
{
    m_previous = new CDispatchEventButtonUI;
    m_previous->SetName(u"PageLabelbutton1");
    Add(m_previous);
    for (int i = 0; i < PageLabelLayout::kOptionCount; ++i) {
        auto* option = new CDispatchEventOptionUI;
        option->SetName(CDuiString(u"PageLabelIndex") + CDuiString::FromInt(i + 1).Str());
        option->SetText(CDuiString::FromInt(i + 1));
        option->SetTag(static_cast<UINT_PTR>(i + 1));
        m_options[i] = option;
    }
    m_tip1 = new CLabelUI;
    m_tip1->SetName(u"PageLabelTip1");
    m_tip2 = new CLabelUI;
    m_tip2->SetName(u"PageLabelTip2");
    Add(m_options[0]);
    Add(m_tip1);
    for (int i = 1; i < 6; ++i)
        Add(m_options[i]);
    Add(m_tip2);
    Add(m_options[6]);
    m_next = new CDispatchEventButtonUI;
    m_next->SetName(u"PageLabelbutton2");
    Add(m_next);
    ForEachItem([this](CControlUI* item) {
        item->SetFixedWidth(m_itemWidth);
        item->SetFixedHeight(m_itemHeight);
    });
    m_tip1->SetVisible(false);
    m_tip2->SetVisible(false);
}

template <class F> void CPageLabelUI::ForEachItem(F f)
{
    for (CControlUI* item : m_items)
        f(item);
}

LPCTSTR CPageLabelUI::GetClass() const
{
    return u"PageLabelUI";
}

void* CPageLabelUI::GetInterface(std::u16string_view name)
{
    if (name == u"CPageLabelUI")
        return this;
    if (name == kDispatchReceiverInterface)
        return static_cast<IDispatchReceiver*>(this);
    return CHorizontalLayoutUI::GetInterface(name);
}

void CPageLabelUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    // Attributes for every child are handed on in the children's own terms.
    auto toChildren = [this](std::u16string_view childName, std::u16string_view childValue) {
        ForEachItem([&](CControlUI* item) { item->SetAttribute(childName, childValue); });
    };
    if (name == u"itemwidth") {
        m_itemWidth = static_cast<int>(ParseInt(value, 36));
        ForEachItem([this](CControlUI* item) { item->SetFixedWidth(m_itemWidth); });
    } else if (name == u"itemheight") {
        m_itemHeight = static_cast<int>(ParseInt(value, 36));
        ForEachItem([this](CControlUI* item) { item->SetFixedHeight(m_itemHeight); });
    } else if (name == u"itembordersize") {
        toChildren(u"bordersize", value);
    } else if (name == u"itembordercolor") {
        toChildren(u"bordercolor", value);
    } else if (name == u"pagelabelgroup") {
        for (CDispatchEventOptionUI* option : m_options)
            option->SetGroup(CDuiString(value));
    } else if (name == u"itemtextcolor") {
        toChildren(u"textcolor", value);
    } else if (name == u"itempushedtextcolor") {
        m_previous->SetAttribute(u"pushedtextcolor", value);
        m_next->SetAttribute(u"pushedtextcolor", value);
        for (CDispatchEventOptionUI* option : m_options)
            option->SetAttribute(u"pushedtextcolor", value);
    } else if (name == u"itemselectedtextcolor") {
        for (CDispatchEventOptionUI* option : m_options)
            option->SetAttribute(u"selectedtextcolor", value);
    } else if (name == u"itemalign") {
        toChildren(u"align", value);
    } else if (name == u"itemtiptext") {
        m_tip1->SetText(CDuiString(value));
        m_tip2->SetText(CDuiString(value));
    } else if (name == u"itemfont") {
        toChildren(u"font", value);
    } else if (name == u"button1text") {
        m_previous->SetText(CDuiString(value));
    } else if (name == u"button2text") {
        m_next->SetText(CDuiString(value));
    } else if (name == u"pagecardinalnumber") {
        m_perPage = static_cast<int>(ParseInt(value, 42));
    } else if (name == u"usebutton1") {
        m_previous->SetVisible(value == u"true");
    } else if (name == u"usebutton2") {
        m_next->SetVisible(value == u"true");
    } else if (name == u"useitemtip") {
        // The ellipsis labels show as the layout needs them; without tips they never do.
        if (value != u"true") {
            m_tip1->SetText(CDuiString());
            m_tip2->SetText(CDuiString());
        }
    } else {
        CHorizontalLayoutUI::SetAttribute(name, value);
    }
}

void CPageLabelUI::SetPageSize(int size)
{
    if (size < 1)
        return;
    m_perPage = size;
    m_page = 0;
    m_total = 0;
}

void CPageLabelUI::SetPage(int page, int total)
{
    PageLabelLayout layout = ComputePageLabelLayout(page, total, m_perPage, m_itemWidth);
    if (!layout.visible) {
        // Forget the pair shown before, so that showing it again later is not taken for "no change".
        m_page = 0;
        m_total = 0;
        SetVisible(false);
        return;
    }
    if (page == m_page && total == m_total)
        return;
    m_page = page;
    m_total = total;
    SetVisible(true);
    m_tip1->SetVisible(layout.tip1);
    m_tip2->SetVisible(layout.tip2);
    for (int i = 0; i < PageLabelLayout::kOptionCount; ++i) {
        CDispatchEventOptionUI* option = m_options[i];
        option->SetTag(static_cast<UINT_PTR>(layout.pages[i]));
        option->SetText(CDuiString::FromInt(layout.pages[i]));
        option->SetVisible(layout.shown[i]);
        if (i != layout.selected)
            option->Selected(false, false);
    }
    if (layout.selected >= 0)
        m_options[layout.selected]->Selected(true, false);
    m_previous->SetEnabled(layout.previousEnabled);
    m_next->SetEnabled(layout.nextEnabled);
    SetFixedWidth(layout.width);
    NeedParentUpdate();
}

void CPageLabelUI::ReceiveDispatch(CControlUI* child)
{
    int chosen = 0;
    if (child == m_previous)
        chosen = m_page - 1;
    else if (child == m_next)
        chosen = m_page + 1;
    else if (child->GetClass() == std::u16string_view(u"DispatchEventOptionUI"))
        chosen = static_cast<int>(child->GetTag());
    SendNotify(u"click", static_cast<WPARAM>(chosen));
}
