#pragma once

#include "platform/WindowMessages.h"

#include <memory>

// The sources a download can come from, as bits of an offer mask and as the chooser's answers.
enum DownloadSource : int {
    kSourceBaiduPan = 1,  // share links
    kSourceClosed = 2,    // the chooser was closed without a choice (never a bit of a mask)
    kSourceOwnServer = 4, // the maker's own download server
    kSourceNoZip = 8,     // the no-zip source
};

// How the download engine asks the user where a game comes from. The engine's worker thread calls
// ChooseDownloadSource and blocks until the answer: one of the offered bits, or kSourceClosed when
// the user closed the chooser, the program is shutting down, or no chooser is available. The
// program's chooser runs the download source dialog on the UI thread (CDownLoadTypeChooser);
// tests answer with their own.
class IDownloadSourceChooser {
public:
    virtual ~IDownloadSourceChooser() = default;
    // `owner` is the window that owns the dialog (may be null); `offerMask` the bits offered.
    virtual int ChooseDownloadSource(platform::HWND owner, int offerMask) = 0;
};

// The chooser in force for the process. The program installs its own when the main window starts
// and removes it (null) at shutdown; callers hold the returned pointer for the length of a call, so
// removing it never pulls it from under a waiting worker. Without one installed the answer is a
// chooser that always says kSourceClosed. Safe from any thread.
void InstallDownloadSourceChooser(std::shared_ptr<IDownloadSourceChooser> chooser);
std::shared_ptr<IDownloadSourceChooser> InstalledDownloadSourceChooser();
