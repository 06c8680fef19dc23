#include "download/DownLoadTypeChooser.h"

#include "download/DownLoadTypeFrame.h"
#include "ui/WindowWnd.h"

int CDownLoadTypeChooser::ChooseDownloadSource(platform::HWND owner, int offerMask)
{
    return UiLib::RunOnUiThread([owner, offerMask] { return CDownLoadTypeFrame::Run(owner, offerMask); },
                                kSourceClosed);
}
