#pragma once

// One progress report of a transfer, posted to a window with WM_DOWNLOAD_PROGRESS (wParam 0, lParam
// the record). The receiving window owns the record and frees it; a message whose window is gone is
// freed with its record.
struct DownloadProgress {
    double done = 0.0;        // bytes done; megabytes in a failure report of the download engine
    double total = 0.0;       // bytes of the whole; megabytes in a failure report of the download engine
    void* listItem = nullptr; // the download window's row of the task, when there is one
    // The task the report is about, when the sender knows it. A report made before the window built
    // the task's row carries no row; the window then finds the row by the task (compared, never read).
    const void* task = nullptr;
    // 2 downloading, 3 paused, 4 waiting, 5 extracting, 6 extraction paused, 9 failed; the installer
    // window also uses 10 finished and 11 installing.
    int kind = 0;
    int errorCode = 0; // 0, a transfer error code, an HTTP status, or one of the program's own codes
    bool volumeMode = false;
    int currentVolume = 0;
    int volumeCount = 0;
};
