#include "maintenance/DownLoadPopFrame.h"

#include "download/DownloadProgress.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/HttpClient.h"
#include "foundation/StringConv.h"
#include "foundation/SystemInfo.h"
#include "maintenance/PackageInstaller.h"
#include "platform/Trace.h"
#include "ui/Button.h"
#include "ui/Label.h"
#include "ui/Progress.h"

#include <algorithm>
#include <cstdio>
#include <exception>

using namespace UiLib;

namespace {

// The worker's last message: it has left Run and only returns from its thread. Its number means
// something only to this window.
constexpr UINT kWmPopWorkerEnded = kWmUser + 301;

constexpr double kMegabyte = 1048576.0;

int Kilobytes(double bytes)
{
    return static_cast<int>(std::clamp(bytes / 1024.0, 0.0, 2147483647.0));
}

std::u16string ErrorText(int code)
{
    if (code == kPopErrorUpdaterNotStarted)
        return u"无法启动升级程序";
    if (code == kPopErrorPackageRefused)
        return kPackageRefusedText;
    if (code == kPopErrorBodyTooLong)
        return u"服务器发送的数据超出文件长度";
    if (code == kPopErrorDiskFull)
        return u"磁盘空间不足";
    try {
        return AnsiToUtf16(TransferErrorText(code));
    } catch (const std::exception&) {
        return u"未知错误";
    }
}

} // namespace

CDownLoadPopFrame::CDownLoadPopFrame(int kind, int osBits)
{
    m_jobValid = kind != kPopEmulator && MakePopJob(kind, osBits, WorkDir(), nullptr, m_job);
    if (m_jobValid && kind == kPopSelfUpdate)
        PrepareSelfUpdate(std::nullopt, CurrentProgramHandOff());
}

CDownLoadPopFrame::CDownLoadPopFrame(const CUpdateInfo& manifest)
    : CDownLoadPopFrame(manifest, CurrentProgramHandOff(), GetOsBits())
{
}

CDownLoadPopFrame::CDownLoadPopFrame(const CUpdateInfo& manifest, UpdateHandOff handOff, int osBits)
{
    m_jobValid = MakePopJob(kPopSelfUpdate, osBits, WorkDir(), nullptr, m_job);
    if (m_jobValid)
        PrepareSelfUpdate(PackageDigestOf(manifest), std::move(handOff));
}

void CDownLoadPopFrame::PrepareSelfUpdate(std::optional<UpdatePackageDigest> digest, UpdateHandOff handOff)
{
    m_job.verifyPackage = [digest](const std::string& zipPath) {
        int refused = VerifyUpdatePackage(zipPath, digest);
        if (refused != 0)
            platform::Trace(digest ? "update: the package differs from the manifest; refused"
                                   : "update: the manifest gives no size and SHA-256; package refused");
        return refused;
    };
    const std::string workDir = m_job.installerDir;
    const std::string updater = m_job.installer;
    m_job.startInstaller = [workDir, updater, handOff] {
        if (!WriteUpdateIni(workDir, handOff)) {
            platform::TraceF("update: cannot write %s%s", workDir.c_str(), kUpdateIniName);
            return false;
        }
        if (!StartDetached(updater, workDir)) {
            platform::TraceF("update: cannot start %s", updater.c_str());
            return false;
        }
        platform::TraceF("update: %s started for %s (pid %d)", updater.c_str(), handOff.program.c_str(),
                         static_cast<int>(handOff.pid));
        return true;
    };
}

CDownLoadPopFrame::CDownLoadPopFrame(int kind) : CDownLoadPopFrame(kind, GetOsBits()) {}

CDownLoadPopFrame::CDownLoadPopFrame(const PopEmulator& emulator)
{
    m_jobValid = MakePopJob(kPopEmulator, GetOsBits(), WorkDir(), &emulator, m_job);
}

CDownLoadPopFrame::~CDownLoadPopFrame()
{
    // Nobody is left to wait for an installer: it is ended with the window.
    if (m_installer)
        m_installer->EndInstaller();
    if (m_worker.joinable())
        m_worker.join();
}

void CDownLoadPopFrame::InitWindow()
{
    m_caption = static_cast<CLabelUI*>(m_pm.FindControl(u"LB_Caption"));
    m_status = static_cast<CLabelUI*>(m_pm.FindControl(u"LB_Status"));
    m_size = static_cast<CLabelUI*>(m_pm.FindControl(u"LB_Size"));
    m_progress = static_cast<CProgressUI*>(m_pm.FindControl(u"Progress_Download"));
    m_cancel = static_cast<CButtonUI*>(m_pm.FindControl(u"Btn_Cancel"));
}

void CDownLoadPopFrame::Notify(TNotifyUI& msg)
{
    if (msg.sType == u"windowinit") {
        if (m_caption)
            m_caption->SetText(m_job.caption);
        StartWorker();
        return;
    }
    if (msg.sType == u"click" && msg.pSender == m_cancel)
        return Close(kResultCancel);
    CDialogFrameWnd::Notify(msg);
}

void CDownLoadPopFrame::StartWorker()
{
    if (m_worker.joinable() || m_workerEnded)
        return;
    if (!m_jobValid) {
        m_workerEnded = true;
        m_lastState = CPackageInstaller::kFailed;
        if (m_status)
            m_status->SetText(u"提示：错误");
        return;
    }
    HWND hwnd = GetHWND();
    m_installer = std::make_unique<CPackageInstaller>(m_job, [hwnd](const PopReport& report) {
        auto progress = std::make_unique<DownloadProgress>();
        progress->done = report.done;
        progress->total = report.total;
        progress->kind = report.state;
        progress->errorCode = report.errorCode;
        UiLib::PostMessage(hwnd, WM_DOWNLOAD_PROGRESS, 0, std::move(progress));
    });
    CPackageInstaller* installer = m_installer.get();
    m_worker = std::thread([installer, hwnd] {
        installer->Run();
        UiLib::PostMessage(hwnd, kWmPopWorkerEnded, 0, 0);
    });
}

LRESULT CDownLoadPopFrame::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    if (uMsg == WM_DOWNLOAD_PROGRESS) {
        std::unique_ptr<DownloadProgress> progress(reinterpret_cast<DownloadProgress*>(lParam));
        handled = true;
        if (progress)
            OnProgress(*progress);
        return 0;
    }
    if (uMsg == kWmPopWorkerEnded) {
        handled = true;
        if (m_worker.joinable())
            m_worker.join();
        m_workerEnded = true;
        if (m_closePending)
            Close(m_pendingCode);
        return 0;
    }
    if (uMsg == WM_CLOSE && m_worker.joinable() && !m_workerEnded) {
        // Closing waits for the worker: cancel it now and close when it says it has ended. A running
        // installer is waited for; closing again ends it.
        handled = true;
        if (!m_closePending) {
            m_closePending = true;
            m_pendingCode = static_cast<int>(wParam);
            m_installer->Cancel();
        } else {
            m_installer->EndInstaller();
        }
        if (m_cancel)
            m_cancel->SetEnabled(false);
        return 0;
    }
    return CDialogFrameWnd::HandleCustomMessage(uMsg, wParam, lParam, handled);
}

void CDownLoadPopFrame::ShowBytes(double done, double total)
{
    if (m_size) {
        char text[64];
        std::snprintf(text, sizeof text, "%.2fM/%.2fM", done / kMegabyte, total / kMegabyte);
        m_size->SetText(Utf8ToUtf16(text));
    }
    if (m_progress) {
        m_progress->SetMaxValue(Kilobytes(total));
        m_progress->SetValue(Kilobytes(done));
    }
}

void CDownLoadPopFrame::OnProgress(const DownloadProgress& progress)
{
    m_lastState = progress.kind;
    switch (progress.kind) {
    case 2:
        if (m_status)
            m_status->SetText(m_job.downloadText);
        ShowBytes(progress.done, progress.total);
        break;
    case 5:
        if (m_status)
            m_status->SetText(u"提示：解压中...");
        ShowBytes(progress.done, progress.total);
        break;
    case 9:
        m_lastError = progress.errorCode;
        if (m_status)
            m_status->SetText(u"提示：错误");
        if (m_size)
            m_size->SetText(ErrorText(progress.errorCode));
        break;
    case 10:
        m_finished = true;
        if (m_size)
            m_size->SetText(u"");
        if (m_progress) {
            m_progress->SetMaxValue(100);
            m_progress->SetValue(100);
        }
        if (m_job.kind == kPopSelfUpdate)
            return Close(kResultUpdateReady);
        if (m_status) {
            if (m_job.kind == kPopEmulator)
                m_status->SetText(m_job.successText);
            else
                m_status->SetText(RunPopJobCheck(m_job.kind) ? m_job.successText : m_job.failureText);
        }
        if (m_cancel)
            m_cancel->SetText(u"确定");
        break;
    case kPopStateWaitingForInstaller:
        if (m_status)
            m_status->SetText(u"提示：正在等待安装程序结束...");
        if (m_cancel) {
            m_cancel->SetText(u"结束安装");
            m_cancel->SetEnabled(true);
        }
        break;
    case kPopStateEndingInstaller:
        if (m_status)
            m_status->SetText(u"提示：正在结束安装程序...");
        if (m_cancel)
            m_cancel->SetEnabled(false);
        break;
    case 11:
        if (m_status)
            m_status->SetText(u"提示：正在安装...");
        if (m_size)
            m_size->SetText(u"");
        if (m_progress) {
            m_progress->SetMaxValue(static_cast<int>(progress.total));
            m_progress->SetValue(static_cast<int>(progress.done));
        }
        break;
    default:
        break;
    }
}
