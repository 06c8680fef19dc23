#pragma once

// CWindowWnd: a top-level window. Each one is a frameless window of its own on the desktop,
// painted by the toolkit; the window's procedure is HandleMessage, which derived windows
// override (passing what they do not handle to CWindowWnd::HandleMessage).
//
// Lifetime: Create makes the window and sends WM_CREATE; Close posts WM_CLOSE, whose default
// handling destroys the window (WM_DESTROY, then WM_NCDESTROY and OnFinalMessage). The object
// itself belongs to whoever made it, unless OnFinalMessage deletes it.
//
// Threads: every member runs on the UI thread, except PostMessage, which may be called anywhere.

#include <functional>
#include <memory>
#include <vector>

#include "ui/DuiString.h"
#include "ui/UiTypes.h"

namespace UiLib {

class CWindowWnd {
public:
    CWindowWnd();
    virtual ~CWindowWnd();
    CWindowWnd(const CWindowWnd&) = delete;
    CWindowWnd& operator=(const CWindowWnd&) = delete;

    HWND GetHWND() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // Creates the window. `parent` owns it (it stays above its owner and is disabled-over by
    // ShowModal); the styles are the numeric window styles (WS_*, WS_EX_*): WS_VISIBLE shows it,
    // WS_MINIMIZEBOX/WS_MAXIMIZEBOX let it be minimised/maximised, WS_EX_TOPMOST keeps it on top.
    // A width or height of 0 or CW_USEDEFAULT takes the size the window sets in WM_CREATE (the
    // layout's). Returns null when WM_CREATE answers -1 (a layout that could not be built).
    HWND Create(HWND parent, const CDuiString& name, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
                int y = CW_USEDEFAULT, int cx = CW_USEDEFAULT, int cy = CW_USEDEFAULT);
    HWND Create(HWND parent, const CDuiString& name, DWORD style, DWORD exStyle, const RECT& rc);

    // Centres the window over its owner, or over the screen's work area without one.
    void CenterWindow();
    // Moves the window to the right edge of the screen's work area, vertically centred.
    void RightWindow();
    // Shows the window and runs a nested UI loop until the window closes; returns the code given
    // to Close (or IDCLOSE when the window was destroyed otherwise; -1 when it does not exist).
    // The owner takes no input meanwhile but keeps painting and receiving posted messages; with
    // several modal windows over one owner it takes input again when the last of them ends.
    // Destroying the owner ends the modal loops of the windows it owns (they return IDCLOSE), and
    // CPaintManagerUI::EndAllModalLoops ends every modal loop at once.
    int ShowModal();
    void ShowWindow(bool show = true, bool takeFocus = true);
    void ShowWindowCmd(int cmd);
    // Posts WM_CLOSE with the code; ShowModal returns it.
    void Close(int ret = IDOK);
    void DestroyWindow();
    bool PostMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Runs the window's HandleMessage now (UI thread only).
    LRESULT SendMessage(UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
    // Sets the window icon from an icon resource (RegisterResource(kResourceIcon, id, ...)); a
    // generated icon stands in for a missing one.
    void SetIcon(UINT resourceId);
    void SetWindowText(const CDuiString& text);
    CDuiString GetWindowText() const;

    DWORD GetStyle() const { return m_style; }
    DWORD GetExStyle() const { return m_exStyle; }
    // Changing WS_EX_TOPMOST or the minimise/maximise boxes takes effect at once.
    void SetStyle(DWORD style);
    void SetExStyle(DWORD exStyle);
    HWND GetOwner() const { return m_hWndOwner; }

    // Geometry in screen coordinates.
    RECT GetWindowRect() const;
    RECT GetClientRect() const;
    void MoveWindow(int x, int y, int cx, int cy);
    void ResizeClient(int cx, int cy);
    bool IsVisible() const;
    bool IsMinimized() const;
    bool IsMaximized() const;
    bool IsActive() const;
    bool IsTopMost() const;
    bool HasMinimizeBox() const;
    // Sets the visible outline of the window: a rounded rectangle (0, 0, cx, cy) with corners of
    // the given size (a plain rectangle with 0), or no outline at all with cx = cy = 0 and
    // corners 0. The last one set is kept by GetRegionRect/GetRegionCorner.
    void SetWindowRgn(int cx, int cy, int cornerX, int cornerY);
    RECT GetRegionRect() const { return m_rcRegion; }
    SIZE GetRegionCorner() const { return m_szRegionCorner; }
    // Lets the window take dropped files anywhere: WM_DROPFILES with lParam = const TDropFiles*
    // during the call. Without it, files are taken only over controls that accept drops
    // (CControlUI::SetAcceptDrop), and they still arrive as WM_DROPFILES first.
    void DragAcceptFiles(bool accept);

    // The window's class name (a fixed text per window class).
    virtual LPCTSTR GetWindowClassName() const = 0;

protected:
    // The window procedure. The default handling: WM_CLOSE destroys the window (ending
    // ShowModal with wParam as its code); WM_SYSCOMMAND closes, minimises, maximises or restores;
    // WM_NCHITTEST answers HTCLIENT; WM_GETMINMAXINFO gives the screen's work area; others 0.
    virtual LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);
    // Called after the window is gone (WM_NCDESTROY); the object may delete itself here.
    virtual void OnFinalMessage(HWND hWnd);

    HWND m_hWnd = nullptr;

public:
    // For the toolkit's own classes.
    struct Impl;
    Impl* GetImpl() const { return m_impl.get(); }
    LRESULT Dispatch(UINT uMsg, WPARAM wParam, LPARAM lParam) { return HandleMessage(uMsg, wParam, lParam); }

private:
    void FinishDestroy();

    std::unique_ptr<Impl> m_impl;
    HWND m_hWndOwner = nullptr;
    DWORD m_style = 0;
    DWORD m_exStyle = 0;
    RECT m_rcRegion;
    SIZE m_szRegionCorner;
};

// Files dropped on a window (WM_DROPFILES).
struct TDropFiles {
    POINT pt;                      // client coordinates
    std::vector<CDuiString> files; // native paths
};

// Posts a message into the UI loop for a window; safe from any thread. Returns false when the
// window does not exist (any more) or the UI loop is gone.
bool PostMessage(HWND hWnd, UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
// The same, for messages that carry a heap record: `freePayload` runs when the message is not
// delivered (the window closed first, or the toolkit ended). Once the window's HandleMessage
// has been called, the record is the window's to free. Also runs when posting fails at once.
bool PostMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, std::function<void()> freePayload);
// Posts a record owned by the message: lParam is the record's address.
template <class T> bool PostMessage(HWND hWnd, UINT uMsg, WPARAM wParam, std::unique_ptr<T> record)
{
    T* raw = record.release();
    return UiLib::PostMessage(hWnd, uMsg, wParam, reinterpret_cast<LPARAM>(raw), [raw] { delete raw; });
}
// Runs HandleMessage of the window now (UI thread only); 0 when the window does not exist.
LRESULT SendMessage(HWND hWnd, UINT uMsg, WPARAM wParam = 0, LPARAM lParam = 0);
// Whether the handle names a live window. Safe from any thread.
bool IsWindow(HWND hWnd);
// The first live window with this class name (and, unless `title` is null, this title), or null
// (UI thread only).
HWND FindWindow(LPCTSTR className, LPCTSTR title = nullptr);
// The mouse cursor's position in screen coordinates (UI thread only); false when the platform
// cannot tell (the point is then left as it was).
bool GetCursorPos(POINT& point);
// Converts a point between screen coordinates and the window's client coordinates (UI thread
// only); false (the point unchanged) when the window does not exist.
bool ScreenToClient(HWND hWnd, POINT& point);
bool ClientToScreen(HWND hWnd, POINT& point);
// The window object of a handle, or null (UI thread only).
CWindowWnd* WindowFromHandle(HWND hWnd);

// Runs `work` on the UI thread and waits for its answer (a worker that needs a modal dialog).
// On the UI thread it runs at once. When the toolkit ends first (Term) or has not started, the
// answer is `answerWhenClosed`, so no worker waits for ever.
int RunOnUiThread(const std::function<int()>& work, int answerWhenClosed = IDCLOSE);

// While one of these lives, RunOnUiThread answers every request as closed at once, and the requests
// already waiting when it is made are answered as closed too (their work is dropped unrun). A
// window that is about to wait for workers makes one first, so no worker waits for a dialog from
// a UI thread that is waiting for it. Any thread; they nest.
class CUiRequestRefusal {
public:
    CUiRequestRefusal();
    ~CUiRequestRefusal();
    CUiRequestRefusal(const CUiRequestRefusal&) = delete;
    CUiRequestRefusal& operator=(const CUiRequestRefusal&) = delete;
};

// The RunOnUiThread requests waiting for their answer now (for diagnostics and tests).
size_t PendingUiRequestCount();

// Runs `work` on the UI thread later and returns at once (a worker's notice that needs no answer).
// False, with `work` dropped unrun, when the toolkit has not started or has ended; queued work that
// the toolkit's end overtakes is dropped unrun too.
bool PostToUiThread(std::function<void()> work);

} // namespace UiLib
