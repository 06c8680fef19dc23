#include "ui/VerticalLayout.h"

namespace UiLib {

LPCTSTR CVerticalLayoutUI::GetClass() const
{
    return u"VerticalLayoutUI";
}

void* CVerticalLayoutUI::GetInterface(std::u16string_view name)
{
    if (name == u"VerticalLayout")
        return this;
    return CLinearLayoutUI::GetInterface(name);
}

} // namespace UiLib
