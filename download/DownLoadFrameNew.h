#pragma once

#include "ui/DialogFrameWnd.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class DownloadManager;
class DownloadTask;
struct DownloadProgress;

namespace UiLib {
class CButtonUI;
class CListContainerElementUI;
class CListUI;
class COptionUI;
} // namespace UiLib

// The task list window: one 65-pixel row per download task, with its icon, name, progress, status
// text, speed, a start/pause switch and a delete button, and bulk start, pause and delete for the
// rows the user selected. The main window makes it once, hidden (CreateHidden), hands its handle to
// DownloadManager::Start and shows it on demand; Btn_Close and the window system's close only hide
// it. It must be destroyed before the engine it was given: rows point at the engine's tasks.
//
// Rows come and go only through the engine's posted messages: WM_DOWNLOAD_ADDED (lParam the task,
// owned by the engine), WM_DOWNLOAD_REMOVED (lParam the row), WM_DOWNLOAD_ACTIVE (wParam 1 or 0,
// lParam a std::string game id this window frees), WM_DOWNLOAD_COUNTS and WM_DOWNLOAD_PROGRESS
// (lParam a DownloadProgress this window frees; one made before the row existed names its task).
// A message that names a row no longer in the list (the task was removed meanwhile) is dropped;
// removed rows are kept until the window goes, so their addresses are never those of newer rows. UI
// thread only.
//
// The start/pause switch shows what the engine last said about the task (selected: running, so it
// offers to pause); a click only asks the engine, whose WM_DOWNLOAD_ACTIVE then moves the switch.
// Row buttons act on a left-button release over the same button that the press began on.
class CDownLoadFrameNew : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kSkinFile[] = u"skin\\xmls\\DownLoadDialog.xml";
    static constexpr char16_t kItemFile[] = u"skin\\xmls\\DownloadItem.xml";
    static constexpr char16_t kTitle[] = u"任务查看";
    // WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU; shown on demand.
    static constexpr UiLib::DWORD kStyle = 0x86C80000;
    static constexpr UiLib::DWORD kExStyle = 0x108; // WS_EX_WINDOWEDGE | WS_EX_TOPMOST
    // The speed shown beside a running download is measured over this much of the recent past.
    static constexpr std::chrono::milliseconds kSpeedWindow{3000};

    using Clock = std::chrono::steady_clock;

    explicit CDownLoadFrameNew(DownloadManager& engine);

    UiLib::CDuiString GetSkinFile() const override { return kSkinFile; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"DownLoadFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;
    UiLib::LRESULT HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                       bool& handled) override;

    // Creates the window without an owner, titled "任务查看", hidden, with icon 107. Returns its
    // handle, or null when the layout cannot be built; once the window exists, returns its handle.
    UiLib::HWND CreateHidden();

    // The clock the speed is measured with; tests set their own.
    void SetClock(std::function<Clock::time_point()> clock) { m_clock = std::move(clock); }

    UiLib::CListUI* List() const { return m_list; }
    // The row that shows the game, or null.
    UiLib::CListContainerElementUI* RowOf(const std::string& gameId) const;

    // The speed label's text for a transfer of `bytesPerSecond` with `bytesLeft` to go:
    // "%.2fM/s 剩余%02d:%02d:%02d", the time left rounded up to a second and held at 99:59:59 (also
    // when nothing moves).
    static std::u16string SpeedText(double bytesPerSecond, double bytesLeft);

private:
    // Recent byte counts of one running transfer, oldest first.
    using SpeedSamples = std::deque<std::pair<Clock::time_point, double>>;

    void OnAdded(DownloadTask* task);
    void OnRemoved(void* item);
    void OnActive(bool active, const std::string& gameId);
    void OnProgress(const DownloadProgress& progress);
    void ShowSpeed(UiLib::CListContainerElementUI* row, const DownloadProgress& progress);
    void ClearSpeed(UiLib::CListContainerElementUI* row);

    void RefreshBulkControls();
    std::vector<std::string> SelectedGameIds() const;
    void SelectAll(bool selected);
    void SyncCheckBoxes();
    // The list row holding `control`, or null.
    UiLib::CListContainerElementUI* OwningRow(UiLib::CControlUI* control) const;
    // The row at `item` when it is one of the list's rows, else null.
    UiLib::CListContainerElementUI* LiveRow(const void* item) const;
    // The row that shows `task` (compared by address only), or null.
    UiLib::CListContainerElementUI* RowOfTask(const void* task) const;
    static DownloadTask* TaskOf(UiLib::CControlUI* row);
    // The row button (Opt_StartOrPause or Btn_Delete) under a point, or null.
    UiLib::CControlUI* RowButtonAt(UiLib::POINT pt) const;
    void OnRowButtonUp(UiLib::POINT pt);

    DownloadManager& m_engine;
    std::function<Clock::time_point()> m_clock = [] { return Clock::now(); };
    UiLib::CListUI* m_list = nullptr;
    UiLib::CButtonUI* m_multiStart = nullptr;
    UiLib::CButtonUI* m_multiPause = nullptr;
    UiLib::CButtonUI* m_multiDelete = nullptr;
    UiLib::COptionUI* m_multiSelected = nullptr;
    // The row button a left press began on; a release acts only over the same one.
    UiLib::CControlUI* m_pressedRowButton = nullptr;
    // Whether the engine last reported each row's task as active.
    std::map<const UiLib::CControlUI*, bool> m_active;
    std::map<const UiLib::CControlUI*, SpeedSamples> m_speed;
    // Rows taken out of the list live on until the window goes, so a new row never takes the address
    // of a removed one that a late engine message may still name.
    std::vector<std::unique_ptr<UiLib::CControlUI>> m_removedRows;
};
