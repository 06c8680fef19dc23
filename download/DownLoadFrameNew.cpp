#include "download/DownLoadFrameNew.h"

#include "download/DownloadManager.h"
#include "download/DownloadProgress.h"
#include "download/DownloadTask.h"
#include "foundation/AppMessages.h"
#include "foundation/AppPaths.h"
#include "foundation/FileSystem.h"
#include "foundation/HttpClient.h"
#include "foundation/StringConv.h"
#include "ui/Button.h"
#include "ui/DialogBuilder.h"
#include "ui/Label.h"
#include "ui/List.h"
#include "ui/Option.h"
#include "ui/Progress.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <stdexcept>

using namespace UiLib;

namespace {

constexpr double kMegabyte = 1048576.0;
constexpr double kKilobyte = 1024.0;

// A narrow text of the program for the toolkit; a text that does not convert shows nothing.
CDuiString FromAnsi(const std::string& text)
{
    try {
        return CDuiString(AnsiToUtf16(text));
    } catch (const std::exception&) {
        return CDuiString();
    }
}

// A status text from a UTF-8 format, at most 1023 bytes long.
std::u16string Compose(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::u16string Compose(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0)
        return {};
    std::string text(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1));
    // A cut in the middle of a character leaves bytes that are not UTF-8: drop them.
    while (!text.empty()) {
        try {
            return Utf8ToUtf16(text);
        } catch (const std::exception&) {
            text.pop_back();
        }
    }
    return {};
}

// A progress bar position: whole units, never negative, never past what the bar can hold.
int BarUnits(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(value);
}

void SetBar(CProgressUI* bar, double value, double maximum)
{
    bar->SetMaxValue(BarUnits(maximum));
    bar->SetValue(BarUnits(value));
}

// The cached icon of an image server path, or empty when it is not cached (or names a place
// outside the cache).
std::string CachedIcon(const std::string& icon)
{
    if (icon.empty())
        return {};
    std::string relative = icon;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    // A leading separator only joins the path to the cache folder.
    relative.erase(0, relative.find_first_not_of('/'));
    std::string joined;
    if (!JoinInsideFolder(ImageCacheDir(), relative, joined))
        return {};
    joined = CollapseSeparators(joined);
    return PathExists(joined) ? joined : std::string();
}

} // namespace

CDownLoadFrameNew::CDownLoadFrameNew(DownloadManager& engine) : m_engine(engine) {}

HWND CDownLoadFrameNew::CreateHidden()
{
    if (GetHWND() != nullptr)
        return GetHWND();
    HWND hwnd = Create(nullptr, kTitle, kStyle, kExStyle);
    if (hwnd != nullptr)
        SetIcon(107);
    return hwnd;
}

void CDownLoadFrameNew::InitWindow()
{
    m_list = static_cast<CListUI*>(m_pm.FindControl(u"List_DownLoad"));
    m_multiStart = static_cast<CButtonUI*>(m_pm.FindControl(u"Btn_MultiStart"));
    m_multiPause = static_cast<CButtonUI*>(m_pm.FindControl(u"Btn_MultiPause"));
    m_multiDelete = static_cast<CButtonUI*>(m_pm.FindControl(u"Btn_MultiDelete"));
    m_multiSelected = static_cast<COptionUI*>(m_pm.FindControl(u"Opt_MultiSelected"));
}

CListContainerElementUI* CDownLoadFrameNew::RowOf(const std::string& gameId) const
{
    if (m_list == nullptr)
        return nullptr;
    for (int i = 0; i < m_list->GetCount(); ++i) {
        CControlUI* item = m_list->GetItemAt(i);
        DownloadTask* task = TaskOf(item);
        if (task != nullptr && task->GameId() == gameId)
            return static_cast<CListContainerElementUI*>(item->GetInterface(u"ListItem"));
    }
    return nullptr;
}

CListContainerElementUI* CDownLoadFrameNew::LiveRow(const void* item) const
{
    if (m_list == nullptr || item == nullptr)
        return nullptr;
    for (int i = 0; i < m_list->GetCount(); ++i) {
        CControlUI* row = m_list->GetItemAt(i);
        if (row == item)
            return static_cast<CListContainerElementUI*>(row->GetInterface(u"ListItem"));
    }
    return nullptr;
}

CListContainerElementUI* CDownLoadFrameNew::RowOfTask(const void* task) const
{
    if (m_list == nullptr || task == nullptr)
        return nullptr;
    for (int i = 0; i < m_list->GetCount(); ++i) {
        CControlUI* row = m_list->GetItemAt(i);
        if (TaskOf(row) == task)
            return static_cast<CListContainerElementUI*>(row->GetInterface(u"ListItem"));
    }
    return nullptr;
}

DownloadTask* CDownLoadFrameNew::TaskOf(CControlUI* row)
{
    return row != nullptr ? reinterpret_cast<DownloadTask*>(row->GetTag()) : nullptr;
}

CListContainerElementUI* CDownLoadFrameNew::OwningRow(CControlUI* control) const
{
    for (CControlUI* at = control; at != nullptr; at = at->GetParent()) {
        if (at->GetParent() == m_list && m_list != nullptr)
            return static_cast<CListContainerElementUI*>(at->GetInterface(u"ListItem"));
    }
    return nullptr;
}

void CDownLoadFrameNew::Notify(TNotifyUI& msg)
{
    if (msg.pSender == nullptr)
        return;
    const CDuiString& name = msg.pSender->GetName();
    if (msg.sType == u"windowinit")
        return RefreshBulkControls();
    if (msg.sType == u"click") {
        if (name == u"Btn_Close")
            return ShowWindow(false);
        int state = name == u"Btn_MultiStart"    ? kTaskReady
                    : name == u"Btn_MultiPause"  ? kTaskPauseRequested
                    : name == u"Btn_MultiDelete" ? kTaskDeleteRequested
                                                 : 0;
        if (state != 0)
            m_engine.RequestStateMany(SelectedGameIds(), state);
        return;
    }
    if (msg.sType == u"selectchanged") {
        if (name == u"Opt_Selected") {
            CListContainerElementUI* row = OwningRow(msg.pSender);
            if (row != nullptr && m_list != nullptr)
                m_list->SetItemSelected(row->GetIndex(), static_cast<COptionUI*>(msg.pSender)->IsSelected());
            return RefreshBulkControls();
        }
        if (name == u"Opt_MultiSelected" && msg.pSender == m_multiSelected) {
            SelectAll(m_multiSelected->IsSelected());
            return RefreshBulkControls();
        }
        if (name == u"Opt_StartOrPause") {
            // The switch follows the engine, not the click: put back what the engine last said.
            CListContainerElementUI* row = OwningRow(msg.pSender);
            if (row != nullptr)
                static_cast<COptionUI*>(msg.pSender)->Selected(m_active[row], false);
        }
        return;
    }
    if (msg.sType == u"itemselect" && msg.pSender == m_list) {
        SyncCheckBoxes();
        return RefreshBulkControls();
    }
}

LRESULT CDownLoadFrameNew::HandleCustomMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    handled = false;
    switch (uMsg) {
    case WM_CLOSE:
        // Closing only hides; the window lives as long as the main window.
        handled = true;
        ShowWindow(false);
        return 0;
    case WM_KEYDOWN:
        if (wParam != VK_ESCAPE)
            return 0;
        handled = true; // Esc puts the list away as its close button does
        ShowWindow(false);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: // the second press of a double click
        m_pressedRowButton = RowButtonAt({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_LBUTTONUP:
        OnRowButtonUp({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    default:
        break;
    }
    if (uMsg == WM_DOWNLOAD_ADDED) {
        handled = true;
        OnAdded(reinterpret_cast<DownloadTask*>(lParam));
        return 0;
    }
    if (uMsg == WM_DOWNLOAD_REMOVED) {
        handled = true;
        OnRemoved(reinterpret_cast<void*>(lParam));
        return 0;
    }
    if (uMsg == WM_DOWNLOAD_ACTIVE) {
        handled = true;
        std::unique_ptr<std::string> gameId(reinterpret_cast<std::string*>(lParam));
        if (gameId)
            OnActive(wParam == 1, *gameId);
        return 0;
    }
    if (uMsg == WM_DOWNLOAD_COUNTS) {
        handled = true;
        RefreshBulkControls();
        return 0;
    }
    if (uMsg == WM_DOWNLOAD_PROGRESS) {
        handled = true;
        std::unique_ptr<DownloadProgress> progress(reinterpret_cast<DownloadProgress*>(lParam));
        if (progress)
            OnProgress(*progress);
        return 0;
    }
    return 0;
}

CControlUI* CDownLoadFrameNew::RowButtonAt(POINT pt) const
{
    // The control the point hits, so a row scrolled out of the list's view is never hit.
    CControlUI* hit = m_pm.FindControl(pt);
    for (CControlUI* at = hit; at != nullptr; at = at->GetParent()) {
        const CDuiString& name = at->GetName();
        if ((name == u"Opt_StartOrPause" || name == u"Btn_Delete") && OwningRow(at) != nullptr)
            return at->IsEnabled() ? at : nullptr;
    }
    return nullptr;
}

void CDownLoadFrameNew::OnRowButtonUp(POINT pt)
{
    CControlUI* pressed = m_pressedRowButton;
    m_pressedRowButton = nullptr;
    CControlUI* button = RowButtonAt(pt);
    if (button == nullptr || button != pressed)
        return;
    DownloadTask* task = TaskOf(OwningRow(button));
    if (task == nullptr)
        return;
    if (button->GetName() == u"Btn_Delete") {
        m_engine.RequestState(task->GameId(), kTaskDeleteRequested);
        return;
    }
    bool running = static_cast<COptionUI*>(button)->IsSelected();
    m_engine.RequestState(task->GameId(), running ? kTaskPauseRequested : kTaskReady);
}

void CDownLoadFrameNew::OnAdded(DownloadTask* task)
{
    if (task == nullptr || task->Removed() || m_list == nullptr)
        return;
    if (LiveRow(task->ListItem()) != nullptr || RowOf(task->GameId()) != nullptr)
        return; // already shown
    CDialogBuilder builder;
    std::unique_ptr<CControlUI> built(builder.Create(kItemFile, this, &m_pm));
    if (!built || built->GetInterface(u"ListItem") == nullptr)
        return;
    CControlUI* row = built.get();
    if (!m_list->Add(row))
        return;
    built.release(); // the list owns it now
    row->SetTag(reinterpret_cast<UINT_PTR>(task));
    task->SetListItem(row);
    auto* container = static_cast<CContainerUI*>(row->GetInterface(u"Container"));
    if (container != nullptr) {
        if (CControlUI* icon = container->FindSubControl(u"Ctr_GameIcon")) {
            std::string path = CachedIcon(task->Icon());
            if (!path.empty())
                icon->SetBkImage(FromAnsi(path));
        }
        if (CControlUI* name = container->FindSubControl(u"Lb_GameName")) {
            name->SetText(FromAnsi(task->GameName()));
            name->SetToolTip(name->GetText());
        }
    }
    m_active[row] = false;
    RefreshBulkControls();
}

void CDownLoadFrameNew::OnRemoved(void* item)
{
    CListContainerElementUI* row = LiveRow(item);
    if (row == nullptr)
        return;
    if (m_pressedRowButton != nullptr && OwningRow(m_pressedRowButton) == row)
        m_pressedRowButton = nullptr;
    m_active.erase(row);
    m_speed.erase(row);
    if (m_list->Remove(row, true))
        m_removedRows.emplace_back(row);
    RefreshBulkControls();
}

void CDownLoadFrameNew::OnActive(bool active, const std::string& gameId)
{
    CListContainerElementUI* row = RowOf(gameId);
    if (row == nullptr)
        return;
    m_active[row] = active;
    if (auto* option = static_cast<COptionUI*>(row->FindSubControl(u"Opt_StartOrPause")))
        option->Selected(active, false);
    if (!active)
        ClearSpeed(row);
}

void CDownLoadFrameNew::OnProgress(const DownloadProgress& progress)
{
    CListContainerElementUI* row = LiveRow(progress.listItem);
    // A report made before the row was built (a reloaded task's paused state, a new task that waits
    // at once) names its task instead.
    if (row == nullptr && progress.listItem == nullptr)
        row = RowOfTask(progress.task);
    if (row == nullptr)
        return;
    auto* status = static_cast<CLabelUI*>(row->FindSubControl(u"Lb_Status"));
    auto* bar = static_cast<CProgressUI*>(row->FindSubControl(u"Progress_Download"));
    DownloadTask* task = TaskOf(row);
    if (status == nullptr || bar == nullptr || task == nullptr)
        return;

    const double done = progress.done;
    const double total = progress.total;
    std::u16string text;
    switch (progress.kind) {
    case 2:
        if (progress.volumeMode)
            text = Compose("正在下载分卷%d/%d,已下载%.2fM/%.2fM", progress.currentVolume,
                           progress.volumeCount, done / kMegabyte, total / kMegabyte);
        else
            text = Compose("已下载%.2fM/%.2fM", done / kMegabyte, total / kMegabyte);
        SetBar(bar, done / kKilobyte, total / kKilobyte);
        break;
    case 3:
    case 4: {
        // The engine sends the task's downloaded and total megabytes, read from its size texts.
        if (progress.kind == 3) {
            std::u16string totalText = FromAnsi(task->TotalSize()).Str();
            text = Compose("下载停止,完成%.2fM/", done) + totalText + u"M";
        } else {
            text = u"等待下载";
        }
        SetBar(bar, done * 100.0, total * 100.0);
        break;
    }
    case 5:
        text = Compose("已解压%.2fM/%.2fM", done / kMegabyte, total / kMegabyte);
        SetBar(bar, done / 10240.0, total / 10240.0);
        break;
    case 6:
        text = Compose("解压停止,完成%.2fM/%.2fM", done / kMegabyte, total / kMegabyte);
        SetBar(bar, done / kKilobyte, total / kKilobyte);
        break;
    case 9:
        text = u"下载失败," + std::u16string(FromAnsi(DownloadErrorText(progress.errorCode)).Str());
        SetBar(bar, done * 100.0, total * 100.0);
        break;
    default:
        return;
    }
    status->SetText(CDuiString(text));
    if (progress.kind == 2)
        ShowSpeed(row, progress);
    else
        ClearSpeed(row);
}

void CDownLoadFrameNew::ShowSpeed(CListContainerElementUI* row, const DownloadProgress& progress)
{
    CControlUI* label = row->FindSubControl(u"Lb_Speed");
    if (label == nullptr)
        return;
    SpeedSamples& samples = m_speed[row];
    const Clock::time_point now = m_clock();
    // Fewer bytes than before: the next volume, or a file begun again. Earlier counts say nothing.
    if (!samples.empty() && (progress.done < samples.back().second || now < samples.back().first))
        samples.clear();
    samples.emplace_back(now, progress.done);
    // Keep the newest sample taken at or before the window's start, so the window is covered.
    while (samples.size() > 2 && samples[1].first <= now - kSpeedWindow)
        samples.pop_front();
    const double seconds = std::chrono::duration<double>(now - samples.front().first).count();
    if (samples.size() < 2 || seconds <= 0.0) {
        label->SetText(CDuiString());
        return;
    }
    const double speed = (progress.done - samples.front().second) / seconds;
    label->SetText(CDuiString(SpeedText(speed, progress.total - progress.done)));
}

void CDownLoadFrameNew::ClearSpeed(CListContainerElementUI* row)
{
    m_speed.erase(row);
    if (CControlUI* label = row->FindSubControl(u"Lb_Speed"))
        label->SetText(CDuiString());
}

std::u16string CDownLoadFrameNew::SpeedText(double bytesPerSecond, double bytesLeft)
{
    constexpr long long kLongest = 99 * 3600 + 59 * 60 + 59;
    if (!(bytesPerSecond > 0.0))
        bytesPerSecond = 0.0;
    if (!(bytesLeft > 0.0))
        bytesLeft = 0.0;
    long long secondsLeft = kLongest;
    if (bytesLeft == 0.0)
        secondsLeft = 0;
    else if (bytesPerSecond > 0.0)
        secondsLeft = static_cast<long long>(
            std::min(std::ceil(bytesLeft / bytesPerSecond), static_cast<double>(kLongest)));
    return Compose("%.2fM/s 剩余%02d:%02d:%02d", bytesPerSecond / kMegabyte,
                   static_cast<int>(secondsLeft / 3600), static_cast<int>(secondsLeft / 60 % 60),
                   static_cast<int>(secondsLeft % 60));
}

std::vector<std::string> CDownLoadFrameNew::SelectedGameIds() const
{
    std::vector<std::string> ids;
    if (m_list == nullptr)
        return ids;
    for (int index : m_list->GetSelectedIndexes()) {
        if (DownloadTask* task = TaskOf(m_list->GetItemAt(index)))
            ids.push_back(task->GameId());
    }
    return ids;
}

void CDownLoadFrameNew::SelectAll(bool selected)
{
    if (m_list == nullptr)
        return;
    for (int i = 0; i < m_list->GetCount(); ++i) {
        auto* row = static_cast<CListContainerElementUI*>(m_list->GetItemAt(i)->GetInterface(u"ListItem"));
        if (row == nullptr)
            continue;
        if (auto* box = static_cast<COptionUI*>(row->FindSubControl(u"Opt_Selected")))
            box->Selected(selected, false);
        if (row->IsSelected() != selected)
            m_list->SetItemSelected(i, selected);
    }
}

void CDownLoadFrameNew::SyncCheckBoxes()
{
    if (m_list == nullptr)
        return;
    for (int i = 0; i < m_list->GetCount(); ++i) {
        auto* row = static_cast<CListContainerElementUI*>(m_list->GetItemAt(i)->GetInterface(u"ListItem"));
        if (row == nullptr)
            continue;
        if (auto* box = static_cast<COptionUI*>(row->FindSubControl(u"Opt_Selected")))
            box->Selected(row->IsSelected(), false);
    }
}

void CDownLoadFrameNew::RefreshBulkControls()
{
    if (m_list == nullptr)
        return;
    std::vector<std::string> ids = SelectedGameIds();
    const int selected = static_cast<int>(ids.size());
    if (m_multiStart != nullptr)
        m_multiStart->SetEnabled(selected > 0 && m_engine.CountActive(ids) < selected);
    if (m_multiPause != nullptr)
        m_multiPause->SetEnabled(selected > 0 && m_engine.CountPaused(ids) < selected);
    if (m_multiDelete != nullptr)
        m_multiDelete->SetEnabled(selected > 0);
    if (m_multiSelected != nullptr)
        m_multiSelected->Selected(m_list->GetCount() > 0 && selected == m_list->GetCount(), false);
}
