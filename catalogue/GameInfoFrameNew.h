#pragma once

#include "catalogue/Game.h"
#include "catalogue/GameInfoActions.h"
#include "foundation/HttpClient.h"
#include "platform/Event.h"
#include "ui/DialogFrameWnd.h"

#include <atomic>
#include <string>
#include <thread>

namespace UiLib {
class CButtonUI;
class CContainerUI;
class CControlUI;
class CLabelUI;
class CRichEditUI;
} // namespace UiLib

// The game detail window: a catalogue game's icon, names, rating, language, size, category and
// platform at once from its record, the introduction and screenshots as the detail request brings
// them, and one action button that follows the game's download and install state (the button's
// tag holds that state).
//
// A worker runs the detail request from window creation on. However the window ends (Btn_Close,
// the system close command, its owner going away), the worker is told to stop and joined before
// the window is gone, so nothing it holds outlives the window.
class CGameInfoFrameNew : public UiLib::CDialogFrameWnd {
public:
    static constexpr char16_t kSkinFile[] = u"skin\\xmls\\GameInfoDialogNew.xml";
    static constexpr char16_t kTitle[] = u"游戏信息";
    static constexpr int kScreenshotWidth = 268;
    static constexpr int kScreenshotHeight = 178;
    static constexpr int kScreenshotScrollStep = 143;
    static constexpr int kStarHeight = 18;
    static constexpr int kFullStarWidth = 109;
    static constexpr char kPcPlatform[] = "138";

    CGameInfoFrameNew(const CGame& game, IGameInfoActions& actions);
    ~CGameInfoFrameNew() override;

    UiLib::CDuiString GetSkinFile() const override { return kSkinFile; }
    UiLib::LPCTSTR GetWindowClassName() const override { return u"GameInfoFrame"; }
    void InitWindow() override;
    void Notify(UiLib::TNotifyUI& msg) override;
    UiLib::LRESULT HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                       bool& handled) override;

    // Opens the window for `game` over `owner`: registers it with `actions` as the detail window,
    // runs it modally and unregisters it. Returns the window's result (1 after Btn_Close).
    static int Run(UiLib::HWND owner, const CGame& game, IGameInfoActions& actions);

    // The star bar's width for a "rating" text: r × 10 cut toward zero picks 100 for 45, 90 for 40,
    // 78 for 35, 69 for 30, 55 for 25, 44 for 20, 32 for 15, 22 for 10, 9 for 5, and the full 109
    // for anything else (0, 50 and texts that are no number included).
    static int StarWidth(const std::string& rating);
    // The star bar's foreground image attribute for a rating.
    static UiLib::CDuiString StarImage(const std::string& rating);
    // The action button's text for a display status; null for statuses without one (1, 7, others).
    static const char16_t* ActionText(int state);

    // The state the action button shows (its tag).
    int ActionState() const { return m_state; }
    const CGame& Game() const { return m_game; }
    // Whether the detail worker has not yet been joined.
    bool WorkerJoinable() const { return m_worker.joinable(); }
    // Whether the detail request has ended (its last message is posted by then).
    bool DetailEnded() const { return m_detailEnded; }

private:
    void FillFixedFields();
    void SetActionState(int state);
    void OnAction();
    void Install();
    void ShowIcon(const std::string& path);
    void AddScreenshot(const std::string& path);
    // Sets the closing flag and joins the detail worker. Safe to call more than once.
    void StopWorker();

    CGame m_game;
    IGameInfoActions& m_actions;
    int m_state = 0;

    TransferCancel m_closing{false};
    platform::Event m_idle{platform::Event::Mode::ManualReset, true};
    std::thread m_worker;
    std::atomic<bool> m_detailEnded{false};

    UiLib::CControlUI* m_icon = nullptr;
    UiLib::CButtonUI* m_action = nullptr;
    UiLib::CContainerUI* m_screens = nullptr;
    UiLib::CRichEditUI* m_introduce = nullptr;
};
