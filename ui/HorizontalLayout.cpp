#include "ui/HorizontalLayout.h"

namespace UiLib {

LPCTSTR CHorizontalLayoutUI::GetClass() const
{
    return u"HorizontalLayoutUI";
}

void* CHorizontalLayoutUI::GetInterface(std::u16string_view name)
{
    if (name == u"HorizontalLayout")
        return this;
    return CLinearLayoutUI::GetInterface(name);
}

} // namespace UiLib
