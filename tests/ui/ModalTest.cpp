// Modal loops: several over one owner, ending them all at once (the folder picker among them), an
// owner destroyed under its dialog, and a dialog that cancels a worker reporting back by posted
// messages.

#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"
#include "ui/private/QtTranslations.h"

using namespace UiLib;
using uitest::TestDialog;

namespace {

const char16_t* kOwnerLayout = uR"(<Window size="300,200">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <Button name="Btn_Owner" text="owner" height="40"/>
    <Control/>
  </VerticalLayout>
</Window>)";

const char16_t* kDialogLayout = uR"(<Window size="200,120">
  <VerticalLayout bkcolor="#FFFFFFFF">
    <Button name="Btn_Cancel" text="cancel" height="40"/>
    <Label name="Lb_State" text="running"/>
  </VerticalLayout>
</Window>)";

constexpr UINT kStep = WM_USER + 1;
constexpr UINT kSecond = WM_USER + 2;

// Whether the owner takes a click now (a disabled owner takes none).
bool OwnerTakesClick(TestDialog& owner)
{
    int before = owner.Count(u"click", u"Btn_Owner");
    owner.ClickOn(u"Btn_Owner");
    return owner.Count(u"click", u"Btn_Owner") > before;
}

} // namespace

TEST(ModalTest, TheOwnerTakesInputAgainOnlyWhenItsLastModalDialogEnds)
{
    TestDialog owner(kOwnerLayout, u"OwnerFrame");
    ASSERT_TRUE(owner.Open());
    TestDialog first(kDialogLayout), second(kDialogLayout);
    ASSERT_NE(first.Create(owner, u"first", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
    ASSERT_NE(second.Create(owner, u"second", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);

    std::vector<std::string> steps;
    int secondCode = 0;
    // Inside the first dialog's loop: open the second over the same owner, close it, look at the owner.
    owner.onMessage = [&](UINT msg, WPARAM, LPARAM) {
        if (msg == kStep) {
            steps.push_back(OwnerTakesClick(owner) ? "owner took input under one"
                                                   : "owner blocked under one");
            second.PostMessage(kSecond);
            secondCode = second.ShowModal();
            steps.push_back(OwnerTakesClick(owner) ? "owner took input after second"
                                                   : "owner blocked after second");
            first.Close(5);
            return true;
        }
        return false;
    };
    second.onMessage = [&](UINT msg, WPARAM, LPARAM) {
        if (msg == kSecond) {
            steps.push_back(OwnerTakesClick(owner) ? "owner took input under two"
                                                   : "owner blocked under two");
            second.Close(7);
            return true;
        }
        return false;
    };
    owner.PostMessage(kStep);
    EXPECT_EQ(first.ShowModal(), 5);
    EXPECT_EQ(secondCode, 7);
    EXPECT_EQ(steps, (std::vector<std::string>{"owner blocked under one", "owner blocked under two",
                                               "owner blocked after second"}));
    EXPECT_TRUE(OwnerTakesClick(owner));
    EXPECT_FALSE(CPaintManagerUI::IsInModalLoop());
}

TEST(ModalTest, EndAllModalLoopsEndsNestedDialogsWithoutAnyoneAnswering)
{
    TestDialog owner(kOwnerLayout, u"OwnerFrame");
    ASSERT_TRUE(owner.Open());
    TestDialog outer(kDialogLayout);
    auto inner = std::make_unique<TestDialog>(kDialogLayout);
    ASSERT_NE(outer.Create(owner, u"outer", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
    ASSERT_NE(inner->Create(outer, u"inner", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
    HWND innerHwnd = inner->GetHWND();

    int innerCode = 0;
    bool innerDestroyed = false;
    outer.onMessage = [&](UINT msg, WPARAM, LPARAM) {
        if (msg == kStep) {
            innerCode = inner->ShowModal();
            return true;
        }
        return false;
    };
    inner->onMessage = [&](UINT msg, WPARAM, LPARAM) {
        if (msg == WM_DESTROY)
            innerDestroyed = true;
        if (msg == kSecond) {
            // What a termination signal does through the main window: nobody answers the dialogs.
            EXPECT_TRUE(CPaintManagerUI::IsInModalLoop());
            CPaintManagerUI::EndAllModalLoops(IDCANCEL);
            return true;
        }
        return false;
    };
    outer.PostMessage(kStep);
    inner->PostMessage(kSecond);
    EXPECT_EQ(outer.ShowModal(), IDCANCEL);
    EXPECT_EQ(innerCode, IDCANCEL);
    EXPECT_TRUE(innerDestroyed); // the normal destruction ran
    EXPECT_FALSE(IsWindow(innerHwnd));
    EXPECT_FALSE(IsWindow(outer.GetHWND()));
    EXPECT_FALSE(CPaintManagerUI::IsInModalLoop());
    EXPECT_TRUE(OwnerTakesClick(owner));
}

TEST(ModalTest, DestroyingTheOwnerEndsTheModalLoopOfItsDialog)
{
    auto owner = std::make_unique<TestDialog>(kOwnerLayout, u"OwnerFrame");
    ASSERT_TRUE(owner->Open());
    TestDialog dialog(kDialogLayout);
    ASSERT_NE(dialog.Create(*owner, u"dialog", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
    dialog.onMessage = [&](UINT msg, WPARAM, LPARAM) {
        if (msg == kStep) {
            owner->DestroyWindow(); // the main window going away at shutdown
            return true;
        }
        return false;
    };
    dialog.PostMessage(kStep);
    EXPECT_EQ(dialog.ShowModal(), IDCLOSE);
    EXPECT_FALSE(IsWindow(dialog.GetHWND()));
}

// The documented way to cancel a worker from a dialog: the button sets the worker's flag and the
// dialog closes when the worker's last message says it ended; the dialog's loop keeps running
// meanwhile, so progress messages already posted are still delivered and freed.
TEST(ModalTest, ADialogCancelsItsWorkerAndClosesWhenTheWorkerSaysItEnded)
{
    constexpr UINT kProgress = WM_USER + 10;
    constexpr UINT kEnded = WM_USER + 11;
    struct Progress {
        int step;
    };
    TestDialog owner(kOwnerLayout, u"OwnerFrame");
    ASSERT_TRUE(owner.Open());
    TestDialog dialog(kDialogLayout);
    ASSERT_NE(dialog.Create(owner, u"worker", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
    HWND hwnd = dialog.GetHWND();

    std::atomic<bool> cancel{false};
    int lastStep = -1;
    bool endedSeen = false;
    std::thread worker;
    dialog.onNotify = [&](TNotifyUI& msg) {
        if (msg.sType == u"click" && msg.pSender->GetName() == u"Btn_Cancel") {
            cancel = true;
            msg.pSender->SetEnabled(false);
            static_cast<CLabelUI*>(dialog.Find(u"Lb_State"))->SetText(u"cancelling");
        }
    };
    dialog.onMessage = [&](UINT msg, WPARAM, LPARAM lParam) {
        if (msg == kStep) { // the loop runs: start the worker
            worker = std::thread([&cancel, hwnd] {
                for (int step = 0; !cancel; ++step) {
                    UiLib::PostMessage(hwnd, kProgress, 0, std::make_unique<Progress>(Progress{step}));
                    std::this_thread::sleep_for(std::chrono::milliseconds(1)); // stands for a step's work
                }
                UiLib::PostMessage(hwnd, kEnded);
            });
            return true;
        }
        if (msg == kProgress) {
            std::unique_ptr<Progress> record(reinterpret_cast<Progress*>(lParam));
            lastStep = record->step;
            if (record->step == 3) // far enough: a person presses Cancel
                TestInput::Click(hwnd, uitest::CentreOf(dialog.Find(u"Btn_Cancel")));
            return true;
        }
        if (msg == kEnded) {
            endedSeen = true;
            worker.join(); // it has ended: the join returns at once
            dialog.Close(IDCANCEL);
            return true;
        }
        return false;
    };
    dialog.PostMessage(kStep);
    EXPECT_EQ(dialog.ShowModal(), IDCANCEL);
    EXPECT_TRUE(endedSeen);
    EXPECT_FALSE(worker.joinable());
    EXPECT_GE(lastStep, 3);
    EXPECT_TRUE(OwnerTakesClick(owner));
}

// The folder picker open above a dialog when every modal loop is ended at once (what a termination
// signal does): the picker is turned down and answers "nothing chosen", the dialog ends, and the
// picker that went with its owner is not freed a second time.
TEST(ModalTest, EndingEveryLoopWhileTheFolderPickerIsOpenTurnsThePickerDown)
{
    SetFolderAnswerer({}); // the real picker
    TestDialog owner(kOwnerLayout, u"OwnerFrame");
    ASSERT_TRUE(owner.Open());
    TestDialog dialog(kDialogLayout);
    ASSERT_NE(dialog.Create(owner, u"dialog", UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE), nullptr);
    HWND dialogHwnd = dialog.GetHWND();

    std::optional<bool> picked;
    CDuiString folder = u"/";
    dialog.onMessage = [&](UINT msg, WPARAM, LPARAM) {
        if (msg == kStep) {
            // Delivered by the picker's own loop, once it is up.
            dialog.PostMessage(kSecond);
            picked = BrowseForFolder(dialogHwnd, u"pick", folder);
            return true;
        }
        if (msg == kSecond) {
            CPaintManagerUI::EndAllModalLoops(IDCANCEL);
            return true;
        }
        return false;
    };
    dialog.PostMessage(kStep);
    EXPECT_EQ(dialog.ShowModal(), IDCANCEL);
    ASSERT_TRUE(picked.has_value()) << "the picker never returned";
    EXPECT_FALSE(*picked);
    EXPECT_EQ(folder.Str(), u"/");
    EXPECT_FALSE(IsWindow(dialogHwnd));
    EXPECT_FALSE(CPaintManagerUI::IsInModalLoop());
    TestInput::ProcessEvents(); // the dialog's deferred removal, with whatever it still held
    EXPECT_TRUE(OwnerTakesClick(owner));
}

// Qt's own folder picker speaks the program's language: its buttons and labels come from Qt's
// Chinese translation, which the toolkit installs with the application. Without the translation
// (not installed, or a folder without it) nothing fails and the texts stay Qt's own.
TEST(ModalTest, TheFolderPickerShowsChineseTexts)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!std::filesystem::exists((folder + QStringLiteral("/qtbase_zh_CN.qm")).toStdString()))
        GTEST_SKIP() << "Qt's Chinese translation is not installed in " << folder.toStdString();
    EXPECT_FALSE(InstallQtTranslations(QStringLiteral("/nonexistent-folder")))
        << "a missing file is no error";

    SetFolderAnswerer({}); // the real picker
    TestDialog owner(kOwnerLayout, u"OwnerFrame");
    ASSERT_TRUE(owner.Open());
    QStringList buttons;
    QStringList labels;
    owner.onMessage = [&](UINT msg, WPARAM, LPARAM) {
        if (msg != kStep)
            return false;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* picker = qobject_cast<QFileDialog*>(widget);
            if (picker == nullptr || !picker->isVisible())
                continue;
            for (QAbstractButton* button : picker->findChildren<QAbstractButton*>()) {
                if (button->isVisible() && !button->text().isEmpty())
                    buttons << button->text();
            }
            for (QLabel* label : picker->findChildren<QLabel*>()) {
                if (label->isVisible() && !label->text().isEmpty())
                    labels << label->text();
            }
            if (const char* keep = std::getenv("QUOKKA_KEEP_SHOTS"))
                picker->grab().save(QString::fromLocal8Bit(keep) + QStringLiteral("/folder-picker.png"));
            picker->reject();
        }
        return true;
    };
    CDuiString chosen = u"/";
    owner.PostMessage(kStep); // delivered by the picker's own loop
    EXPECT_FALSE(BrowseForFolder(owner.GetHWND(), u"选择游戏下载目录", chosen));
    ASSERT_FALSE(buttons.isEmpty()) << "the picker was never seen";
    EXPECT_TRUE(buttons.contains(QStringLiteral("取消"))) << buttons.join(u'|').toStdString();
    EXPECT_FALSE(buttons.contains(QStringLiteral("Cancel"))) << buttons.join(u'|').toStdString();
    for (const QString& label : labels)
        EXPECT_FALSE(label.contains(QStringLiteral("Look in")) ||
                     label.contains(QStringLiteral("Directory:")))
            << label.toStdString();
}
