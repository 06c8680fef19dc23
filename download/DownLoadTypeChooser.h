#pragma once

#include "download/DownloadSourceChooser.h"

// The program's download source chooser: runs the download source dialog (CDownLoadTypeFrame) on
// the UI thread for the asking worker and blocks that worker until the user answers. When the
// toolkit ends first (shutdown, a lost display) the answer is kSourceClosed, so no worker waits
// for ever. Called on the UI thread itself, it runs the dialog at once.
class CDownLoadTypeChooser : public IDownloadSourceChooser {
public:
    int ChooseDownloadSource(platform::HWND owner, int offerMask) override;
};
