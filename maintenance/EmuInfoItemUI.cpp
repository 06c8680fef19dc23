#include "maintenance/EmuInfoItemUI.h"

#include "ui/DuiString.h"

void* CEmuInfoItemUI::GetInterface(std::u16string_view name)
{
    if (name == u"EmuInfoItemUI")
        return this;
    return CTreeNodeUI::GetInterface(name);
}

void CEmuInfoItemUI::SetAttribute(std::u16string_view name, std::u16string_view value)
{
    if (name == u"SelectHeight") {
        m_selectHeight = static_cast<int>(UiLib::ParseInt(value, 0));
        return;
    }
    if (name == u"UnSelectHeight") {
        m_unSelectHeight = static_cast<int>(UiLib::ParseInt(value, 0));
        return;
    }
    CTreeNodeUI::SetAttribute(name, value);
}

void CEmuInfoItemUI::OnSelectChanged(bool selected)
{
    const int height = selected ? m_selectHeight : m_unSelectHeight;
    if (height > 0)
        SetFixedHeight(height);
}
