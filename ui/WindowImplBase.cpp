#include "ui/WindowImplBase.h"

namespace UiLib {

WindowImplBase::WindowImplBase()
{
    EnableSizeBox(true);
}

LRESULT WindowImplBase::OnCreate()
{
    CPaintManagerUI::UseResourceZip(GetResourceType(), GetResourceID());
    return CDialogFrameWnd::OnCreate();
}

bool WindowImplBase::IsCaptionClientClass(std::u16string_view className) const
{
    return CDialogFrameWnd::IsCaptionClientClass(className) || className == u"SliderUI" ||
           className == u"EditUI" || className == u"ButtonUIEx";
}

} // namespace UiLib
