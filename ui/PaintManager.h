#pragma once

// CPaintManagerUI: one per window. It owns the window's control tree (AttachDialog), lays it out,
// paints it, hit-tests the mouse, keeps focus, hover and capture, runs per-control timers, and
// hands notifications to the window's listeners. Process-wide settings (program folder, resource
// folder, skin archive, the UI loop) are its static members.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/Control.h"
#include "ui/DuiString.h"
#include "ui/FocusNavigator.h"
#include "ui/Notify.h"
#include "ui/UiTypes.h"

namespace UiLib {

class CDuiTrayIcon;

// A loaded image; the pixels stay inside the toolkit.
struct TImageInfo {
    int nX = 0;
    int nY = 0;
    bool bAlpha = false;
    int nFrames = 1; // animated images (GIF) have more than one
};

// A font registered by a layout's Font entries (or AddFont); index 0 upwards.
struct TFontInfo {
    CDuiString sFontName;
    int iSize = 12; // pixels
    bool bBold = false;
    bool bUnderline = false;
    bool bItalic = false;
};

// Paint statistics, for tests and benchmarks.
struct TPaintStats {
    int nPaints = 0;
    RECT rcLastPaint;
    double dLastPaintMs = 0.0;
};

class CPaintManagerUI {
public:
    CPaintManagerUI();
    ~CPaintManagerUI();
    CPaintManagerUI(const CPaintManagerUI&) = delete;
    CPaintManagerUI& operator=(const CPaintManagerUI&) = delete;

    // Process-wide. SetInstance once at start-up; it also makes sure the UI application exists.
    static void SetInstance(HINSTANCE instance);
    static HINSTANCE GetInstance();
    // The program folder (ends with '/'): the base of data paths.
    static CDuiString GetInstancePath();
    // Folder of loose skin files, tried after the skin archive; defaults to the program folder.
    static void SetResourcePath(const CDuiString& path);
    static CDuiString GetResourcePath();
    // The skin archive: by default the zip registered as resource (type 4, id 129). Tests may put
    // another archive in its place; the bytes are copied. Returns false for bytes that are no zip.
    static bool SetResourceZip(const void* data, size_t size);
    static bool UseResourceZip(int resourceType, int resourceId);
    // Reads a skin file: "skin\xmls\X.xml" or "skin/xmls/X.xml", from the archive first, then
    // relative to the resource folder, then as a path on disk. False when it exists nowhere.
    static bool LoadSkinFile(const CDuiString& path, std::string& bytes);
    // Runs the UI loop until Quit (or until the last modal loop ends).
    static void MessageLoop();
    static void Quit(int code = 0);
    // Ends every modal loop that runs now, innermost first: each modal window is destroyed (its
    // normal WM_DESTROY and final message) and its ShowModal returns `result`. For shutdown
    // without a person (a termination signal while a dialog is up): the code that called
    // ShowModal carries on as if the dialog had been closed. UI thread only.
    static void EndAllModalLoops(int result = IDCLOSE);
    // Whether a modal loop runs now (UI thread only).
    static bool IsInModalLoop();
    // Ends the toolkit: answers pending RunOnUiThread requests as closed, drops queued messages
    // with their payloads, deletes what is left of windows and the UI application.
    static void Term();

    // Per window.
    void Init(HWND hWnd);
    HWND GetPaintWindow() const { return m_hWnd; }
    // Takes ownership of the tree's root; the previous root is deleted.
    bool AttachDialog(CControlUI* root);
    CControlUI* GetRoot() const { return m_pRoot; }
    // Registers the names of a subtree (done for every control that joins the tree).
    void InitControls(CControlUI* control);
    // Forgets a control that is leaving the tree: its name, timers, focus, hover, capture and
    // queued notifications.
    void ReapObjects(CControlUI* control);
    // Keeps the name lookup right when a control in the tree is renamed.
    void RenameControl(CControlUI* control, const CDuiString& oldName);

    // The control with this name, or null. Names are registered when controls join the tree.
    CControlUI* FindControl(std::u16string_view name) const;
    // The control under the point (client coordinates), or null.
    CControlUI* FindControl(POINT pt) const;
    // The control that takes files dropped at the point: the control under it or its nearest
    // ancestor that accepts drops and is enabled; null when there is none.
    CControlUI* FindDropTarget(POINT pt) const;
    CControlUI* FindSubControlByName(CControlUI* parent, std::u16string_view name) const;
    CControlUI* FindSubControlByClass(CControlUI* parent, std::u16string_view className, int index = 0) const;

    // Listeners.
    bool AddNotifier(INotifyUI* notifier);
    bool RemoveNotifier(INotifyUI* notifier);
    // Delivers a notification to every listener, now or (async) from the UI loop a little later.
    void SendNotify(TNotifyUI& msg, bool async = false);
    void SendNotify(CControlUI* sender, std::u16string_view type, WPARAM wParam = 0, LPARAM lParam = 0,
                    bool async = false);
    bool AddMessageFilter(IMessageFilterUI* filter);
    bool RemoveMessageFilter(IMessageFilterUI* filter);

    // Sees every window message first. Answers true when it handled the message (lRes holds
    // the answer); the window then passes unhandled ones to its default handling.
    bool MessageHandler(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

    // Timers of a control: UIEVENT_TIMER (and a "timer" notification) every `elapse` ms until
    // killed or until the control leaves the tree. Setting an existing id restarts it.
    bool SetTimer(CControlUI* control, UINT id, UINT elapse);
    bool KillTimer(CControlUI* control, UINT id);
    void KillTimer(CControlUI* control);
    void RemoveAllTimers();

    // Focus, hover, capture.
    CControlUI* GetFocus() const { return m_pFocus; }
    void SetFocus(CControlUI* control);
    CControlUI* GetHover() const { return m_pEventHover; }
    CControlUI* GetCapture() const { return m_pEventClick; }

    // Keyboard navigation. While the focus is on a navigable control (or on none), the arrows move
    // it by screen geometry and Tab and Shift+Tab in tree order (see CFocusNavigator), scrolling the
    // newly focused control into view; Enter and Space make the same "click" notification a mouse
    // click makes (an option is selected as by a click). Tab also leaves a control that takes keys
    // itself (a list); other keys go to the focused control as before.
    // Moves the focus as the key would; false when it stays (an edge, or nothing can take it).
    bool MoveFocus(FocusMove move);
    // The focus ring (see CFocusRing); the layout's Window sets its colour with "focusringcolor".
    void SetFocusRingColor(DWORD color);
    DWORD GetFocusRingColor() const;
    bool IsFocusRingShown() const;
    // Where the ring is painted now (client coordinates); empty when none is.
    RECT GetFocusRingRect() const;

    // Option groups: the options sharing a group name in this window.
    void AddOptionGroup(std::u16string_view group, CControlUI* control);
    const std::vector<CControlUI*>* GetOptionGroup(std::u16string_view group) const;
    void RemoveOptionGroup(std::u16string_view group, CControlUI* control);

    // Window attributes from the layout's Window root.
    SIZE GetInitSize() const { return m_szInitWindowSize; }
    void SetInitSize(int cx, int cy);
    const RECT& GetSizeBox() const { return m_rcSizeBox; }
    void SetSizeBox(const RECT& rc) { m_rcSizeBox = rc; }
    const RECT& GetCaptionRect() const { return m_rcCaption; }
    void SetCaptionRect(const RECT& rc) { m_rcCaption = rc; }
    SIZE GetRoundCorner() const { return m_szRoundCorner; }
    void SetRoundCorner(int cx, int cy) { m_szRoundCorner = {cx, cy}; }
    SIZE GetMinInfo() const { return m_szMinWindow; }
    void SetMinInfo(int cx, int cy) { m_szMinWindow = {cx, cy}; }
    SIZE GetMaxInfo() const { return m_szMaxWindow; }
    void SetMaxInfo(int cx, int cy) { m_szMaxWindow = {cx, cy}; }
    SIZE GetClientSize() const;

    // "Default" entries: attribute lists applied to every control of a class (tag) before its own.
    void AddDefaultAttributeList(std::u16string_view controlName, std::u16string_view list);
    const CDuiString* GetDefaultAttributeList(std::u16string_view controlName) const;

    // Fonts. Index -1 is the default font (Noto Sans CJK SC, 12 px, unless a layout says otherwise).
    int AddFont(int id, const CDuiString& name, int size, bool bold, bool underline, bool italic);
    void SetDefaultFont(const CDuiString& name, int size, bool bold, bool underline, bool italic);
    const TFontInfo* GetFontInfo(int index) const;
    DWORD GetDefaultFontColor() const { return m_dwDefaultFontColor; }
    void SetDefaultFontColor(DWORD color) { m_dwDefaultFontColor = color; }
    DWORD GetDefaultDisabledColor() const { return m_dwDefaultDisabledColor; }
    void SetDefaultDisabledColor(DWORD color) { m_dwDefaultDisabledColor = color; }
    DWORD GetDefaultLinkFontColor() const { return m_dwDefaultLinkColor; }
    DWORD GetDefaultSelectedBkColor() const { return m_dwDefaultSelectedBkColor; }

    // The largest image file the toolkit reads, and the most pixels it decodes one image (or one
    // frame) to. An image past either counts as bad: a file from a server may claim any size.
    static constexpr size_t kMaxImageFileBytes = 8 * 1024 * 1024;
    static constexpr long long kMaxImagePixels = 4096LL * 4096;

    // Images, cached by path until RemoveImage. Null (with a trace) for a missing or bad image.
    const TImageInfo* GetImage(const CDuiString& path);
    void RemoveImage(const CDuiString& path);
    void RemoveAllImages();

    // Painting.
    void Invalidate();
    void Invalidate(const RECT& rc);
    void NeedUpdate() { m_bUpdateNeeded = true; }
    bool IsUpdateNeeded() const { return m_bUpdateNeeded; }
    // Lays the tree out now if something changed (done before every paint and hit test).
    void UpdateLayout();
    const TPaintStats& GetPaintStats() const { return m_stats; }

    // The window's tray icon object (created on first use).
    CDuiTrayIcon& GetTrayObject();

    // For the toolkit's own classes.
    struct Impl;
    Impl* GetImpl() const { return m_impl.get(); }

private:
    void DispatchMouse(UINT uMsg, WPARAM wParam, LPARAM lParam);
    void DispatchWheel(WPARAM wParam, LPARAM lParam);
    void DispatchKey(UINT uMsg, WPARAM wParam, LPARAM lParam);
    // The navigation part of a key press; false when the key is not navigation's to take.
    bool DispatchNavigationKey(UINT vk, LPARAM lParam);
    void ShowFocusRing(bool shown);
    void Paint();
    void FlushAsyncNotify();
    void DeliverNotify(TNotifyUI& msg);
    void OnTimerFired(int timerKey);

    std::unique_ptr<Impl> m_impl;
    HWND m_hWnd = nullptr;
    CControlUI* m_pRoot = nullptr;
    CControlUI* m_pFocus = nullptr;
    CControlUI* m_pEventHover = nullptr;
    CControlUI* m_pEventClick = nullptr;
    CControlUI* m_pEventRClick = nullptr;
    bool m_bUpdateNeeded = true;
    bool m_bFirstLayout = true;
    bool m_bWindowInitSent = false;
    bool m_bMouseTracking = false;
    std::map<std::u16string, CControlUI*, std::less<>> m_names;
    std::map<std::u16string, std::vector<CControlUI*>, std::less<>> m_optionGroups;
    std::map<std::u16string, CDuiString, std::less<>> m_defaultAttrs;
    std::vector<INotifyUI*> m_notifiers;
    std::vector<IMessageFilterUI*> m_filters;
    std::vector<TNotifyUI> m_asyncNotify;
    std::map<int, TFontInfo> m_fonts;
    TFontInfo m_defaultFont;
    SIZE m_szInitWindowSize;
    SIZE m_szMinWindow;
    SIZE m_szMaxWindow;
    SIZE m_szRoundCorner;
    RECT m_rcSizeBox;
    RECT m_rcCaption;
    DWORD m_dwDefaultFontColor = 0xFF333333;
    DWORD m_dwDefaultDisabledColor = 0xFFA7A6AA;
    DWORD m_dwDefaultLinkColor = 0xFF2479E4;
    DWORD m_dwDefaultSelectedBkColor = 0xFFDCEBFC;
    TPaintStats m_stats;
    std::unique_ptr<CDuiTrayIcon> m_tray;
};

} // namespace UiLib
