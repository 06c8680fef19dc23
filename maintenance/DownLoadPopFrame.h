#pragma once

#include "maintenance/PopJob.h"
#include "maintenance/UpdateHandOff.h"
#include "maintenance/UpdateInfo.h"
#include "ui/DialogFrameWnd.h"

#include <memory>
#include <optional>
#include <thread>

struct DownloadProgress;
class CPackageInstaller;

namespace UiLib {
class CButtonUI;
class CLabelUI;
class CProgressUI;
} // namespace UiLib

// The installer window: a small modal window that downloads a package, unpacks it and runs its
// installer (a runtime library, the self-update), or unpacks an emulator (kind 7), showing what it
// does. Open it with DoModal(owner, u"下载文件").
//
// At "windowinit" it sets its caption and starts one worker thread, which runs a CPackageInstaller
// and reports every step as WM_DOWNLOAD_PROGRESS with a DownloadProgress record (this window frees
// it). The worker touches no control.
//
// Every way of closing (Btn_Cancel, SC_CLOSE, Close from the program) first cancels the worker and
// waits for it: the window closes only once the worker has said it ended, so the modal loop keeps
// painting meanwhile. A transfer ends within about 100 ms and extraction at its next block. An
// installer that already runs is not stopped half-way: the window says that it waits for it
// ("提示：正在等待安装程序结束...") and the button, now "结束安装", ends it through its process handle
// ("提示：正在结束安装程序..."); so does any second close, and the destructor. Result codes: 886 once a
// self-update has been unpacked and its updater started, 2 for Btn_Cancel (also when it reads "确定" after
// success), otherwise the code Close was given. Callers learn whether the job succeeded from Finished(), not
// from the code.
//
// The self-update (kind 0) checks the downloaded package against the manifest's "size" and
// "sha256" before anything in it is unpacked: a package that differs, or a job without them, fails
// with 1004 ("升级包校验失败") and the package is deleted. After unpacking it writes
// "QuokkaUpdate.ini" for the updater and starts the updater detached (see UpdateHandOff.h).
class CDownLoadPopFrame : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kLayout[] = u"skin\\xmls\\DownLoadPopDialog.xml";
    static constexpr char16_t kTitle[] = u"下载文件";
    static constexpr int kResultUpdateReady = 886;
    static constexpr int kResultCancel = 2;

    // A job of kind 0 to 6 for a machine of `osBits` bits (its packages differ by word size). Kind 0
    // made this way has no manifest to check its package against and refuses it.
    explicit CDownLoadPopFrame(int kind, int osBits);
    explicit CDownLoadPopFrame(int kind);
    // Kind 0 for the update that `manifest` describes; the updater is told to replace `handOff`.
    explicit CDownLoadPopFrame(const CUpdateInfo& manifest);
    CDownLoadPopFrame(const CUpdateInfo& manifest, UpdateHandOff handOff, int osBits);
    // Kind 7: installs `emulator`.
    explicit CDownLoadPopFrame(const PopEmulator& emulator);
    // Cancels a worker that still runs, ends its installer and waits for it (the window was destroyed
    // without closing).
    ~CDownLoadPopFrame() override;

    UiLib::CDuiString GetSkinFile() const override { return kLayout; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"DownLoadPopFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;
    UiLib::LRESULT HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                       bool& handled) override;

    const PopJob& Job() const { return m_job; }
    // True once the worker reported state 10: everything the job does was done.
    bool Finished() const { return m_finished; }
    // The last state reported (0 before the first report) and the code of a failure.
    int LastState() const { return m_lastState; }
    int LastErrorCode() const { return m_lastError; }

private:
    void PrepareSelfUpdate(std::optional<UpdatePackageDigest> digest, UpdateHandOff handOff);
    void StartWorker();
    void OnProgress(const DownloadProgress& progress);
    void ShowBytes(double done, double total);

    PopJob m_job;
    bool m_jobValid = false;
    std::unique_ptr<CPackageInstaller> m_installer;
    std::thread m_worker;
    bool m_workerEnded = false;
    bool m_closePending = false;
    int m_pendingCode = 0;
    bool m_finished = false;
    int m_lastState = 0;
    int m_lastError = 0;

    UiLib::CLabelUI* m_caption = nullptr;
    UiLib::CLabelUI* m_status = nullptr;
    UiLib::CLabelUI* m_size = nullptr;
    UiLib::CProgressUI* m_progress = nullptr;
    UiLib::CButtonUI* m_cancel = nullptr;
};
