#pragma once

// WindowImplBase: the frame of the program's main window. It is a dialog frame whose layout comes
// from GetSkinFolder() + GetSkinFile() in the skin archive named by GetResourceType() and
// GetResourceID() (a zip registered as resource 4/129); its size box resizes it, and inside the
// caption band edits, sliders and the program's badge buttons stay clickable too.

#include "ui/DialogFrameWnd.h"

namespace UiLib {

class WindowImplBase : public CDialogFrameWnd {
public:
    virtual CDuiString GetSkinFolder() const { return {}; }
    CDuiString GetSkinFile() const override = 0;
    virtual int GetResourceType() const { return 4; }
    virtual int GetResourceID() const { return 129; }

protected:
    WindowImplBase();
    LRESULT OnCreate() override;
    bool IsCaptionClientClass(std::u16string_view className) const override;
};

} // namespace UiLib
