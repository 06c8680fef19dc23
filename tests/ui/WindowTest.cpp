// The main-window frame, window placement, tray fallback and animated images.

#include "UiTestSupport.h"

#include <QGuiApplication>
#include <QScreen>

#include <fstream>

#include "ui/GifAnim.h"
#include "ui/PaintManager.h"
#include "ui/TrayIcon.h"
#include "ui/WindowImplBase.h"

using namespace UiLib;

namespace {

const char16_t* kMainLayout =
    uR"(<Window size="600,400" caption="0,0,0,70" sizebox="4,4,4,4" mininfo="600,400">
  <VerticalLayout name="background" bkcolor="#FFFFFFFF">
    <HorizontalLayout height="70">
      <Label name="Lb_Logo" width="200"/>
      <Edit name="Ed_SearchKeyWord" width="200"/>
      <Control name="Ctr_Gap"/>
    </HorizontalLayout>
    <Control name="Ctr_Body"/>
  </VerticalLayout>
</Window>)";

class MainFrame : public WindowImplBase {
public:
    CDuiString GetSkinFile() const override { return kMainLayout; }
    LPCTSTR GetWindowClassName() const override { return u"QuokkaMainFrame"; }
    void Notify(TNotifyUI& msg) override { notes.push_back(msg.sType.Str()); }
    std::vector<std::u16string> notes;
};

LRESULT HitAt(CWindowWnd& window, int x, int y)
{
    RECT rc = window.GetWindowRect();
    return window.SendMessage(WM_NCHITTEST, 0, MAKELPARAM(rc.left + x, rc.top + y));
}

// A two-frame animated GIF (1 x 1 pixel, 20 ms per frame), written byte by byte.
void WriteTwoFrameGif(const std::string& path)
{
    const unsigned char header[] = {'G',  'I', 'F', '8',  '9',  'a',  1, 0, 1, 0,
                                    0x80, 0,   0,   0xFF, 0xFF, 0xFF, 0, 0, 0};
    const unsigned char frame[] = {0x21, 0xF9, 4, 0, 2, 0, 0, 0, // 20 ms
                                   0x2C, 0,    0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0};
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header), sizeof(header));
    out.write(reinterpret_cast<const char*>(frame), sizeof(frame));
    out.write(reinterpret_cast<const char*>(frame), sizeof(frame));
    out.put(0x3B);
}

} // namespace

TEST(WindowTest, MainFrameResizesAtItsEdgesAndKeepsItsCaptionControlsClickable)
{
    MainFrame frame;
    ASSERT_NE(frame.Create(nullptr, u"Quokka模拟器", UI_WNDSTYLE_FRAME, 0), nullptr);
    TestInput::ProcessEvents();
    EXPECT_EQ(HitAt(frame, 1, 200), HTLEFT);
    EXPECT_EQ(HitAt(frame, 598, 398), HTBOTTOMRIGHT);
    EXPECT_EQ(HitAt(frame, 300, 1), HTTOP);
    EXPECT_EQ(HitAt(frame, 100, 35), HTCAPTION); // the logo label
    EXPECT_EQ(HitAt(frame, 300, 35), HTCLIENT);  // the search edit
    EXPECT_EQ(HitAt(frame, 500, 35), HTCAPTION); // a plain control
    EXPECT_EQ(HitAt(frame, 300, 200), HTCLIENT); // below the caption band
    ASSERT_TRUE(TestInput::WaitFor(
        [&] { return std::count(frame.notes.begin(), frame.notes.end(), u"windowinit") == 1; }));
}

TEST(WindowTest, PlacementCentresAndMovesToTheRightEdge)
{
    uitest::TestDialog dialog(kMainLayout);
    ASSERT_TRUE(dialog.Open());
    QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    dialog.CenterWindow();
    RECT rc = dialog.GetWindowRect();
    EXPECT_NEAR((rc.left + rc.right) / 2, work.center().x(), 2);
    dialog.RightWindow();
    rc = dialog.GetWindowRect();
    EXPECT_EQ(rc.right, work.right() + 1);
    dialog.SetIcon(107); // no icon resource: a drawn one stands in
    dialog.SetWindowText(u"操作提示");
    EXPECT_EQ(dialog.GetWindowText(), CDuiString(u"操作提示"));
}

TEST(WindowTest, TrayIconWithoutATrayMinimisesAndReportsClicks)
{
    uitest::TestDialog dialog(kMainLayout);
    ASSERT_TRUE(dialog.Open());
    std::vector<std::pair<WPARAM, LPARAM>> clicks;
    dialog.onMessage = [&](UINT msg, WPARAM w, LPARAM l) {
        if (msg == WM_USER + 30)
            clicks.emplace_back(w, l);
        return msg == WM_USER + 30;
    };
    CDuiTrayIcon& tray = dialog.GetPaintManager().GetTrayObject();
    tray.CreateTrayIcon(dialog.GetHWND(), 107, u"Quokka模拟器", WM_USER + 30);
    EXPECT_EQ(tray.GetTooltipText(), CDuiString(u"Quokka模拟器"));
    if (!CDuiTrayIcon::IsTrayAvailable()) {
        EXPECT_FALSE(tray.HideToTray(dialog));
        TestInput::ProcessEvents();
        EXPECT_TRUE(dialog.IsMinimized() || dialog.IsVisible()); // never lost
    }
    tray.SimulateClick(false);
    tray.SimulateClick(true);
    ASSERT_TRUE(TestInput::WaitFor([&] { return clicks.size() == 2; }));
    EXPECT_EQ(clicks[0], (std::pair<WPARAM, LPARAM>{107, WM_LBUTTONUP}));
    EXPECT_EQ(clicks[1], (std::pair<WPARAM, LPARAM>{107, WM_RBUTTONUP}));
    tray.DeleteTrayIcon();
}

// A tray that a panel brings after the program started, and takes away again: the icon follows it,
// and a window hidden to it is never left without a way back. The tray's availability is the test's
// (the offscreen platform has none), looked at every 10 ms instead of every few seconds.
TEST(WindowTest, TrayThatComesLaterTakesTheIconAndAWindowHiddenToItIsShownWhenItGoes)
{
    bool trayThere = false;
    CDuiTrayIcon::SetTrayProbe([&trayThere] { return trayThere; }, 10);
    struct ProbeReset {
        ~ProbeReset() { CDuiTrayIcon::SetTrayProbe(nullptr); }
    } probeReset;
    uitest::TestDialog dialog(kMainLayout);
    ASSERT_TRUE(dialog.Open());
    CDuiTrayIcon& tray = dialog.GetPaintManager().GetTrayObject();
    tray.CreateTrayIcon(dialog.GetHWND(), 107, u"Quokka模拟器", WM_USER + 30);
    EXPECT_FALSE(tray.IsVisible());
    EXPECT_FALSE(tray.HideToTray(dialog)) << "without a tray the window is minimised";
    dialog.ShowWindowCmd(SW_RESTORE);
    dialog.ShowWindow(true);

    trayThere = true;
    ASSERT_TRUE(TestInput::WaitFor([&] { return tray.IsVisible(); }, 60000)) << "the icon never came";
    EXPECT_EQ(tray.GetTooltipText(), CDuiString(u"Quokka模拟器"));
    EXPECT_TRUE(tray.HideToTray(dialog));
    EXPECT_FALSE(dialog.IsVisible());

    trayThere = false;
    ASSERT_TRUE(TestInput::WaitFor([&] { return !tray.IsVisible(); }, 60000)) << "the icon stayed";
    EXPECT_TRUE(dialog.IsVisible()) << "the hidden window came back with the tray gone";
    EXPECT_FALSE(tray.HideToTray(dialog));

    // Back once more: the icon returns; deleted, it stops looking.
    trayThere = true;
    ASSERT_TRUE(TestInput::WaitFor([&] { return tray.IsVisible(); }, 60000));
    tray.DeleteTrayIcon();
    EXPECT_FALSE(tray.IsVisible());
}

TEST(WindowTest, AnimatedImagePlaysItsFrames)
{
    WriteTwoFrameGif(uitest::ImageFolder() + "skin/ui/loading.gif");
    uitest::TestDialog dialog(uR"(<Window size="100,100"><VerticalLayout>
        <GifAnim name="Gif_Loading" bkimage="skin/ui/loading.gif"/></VerticalLayout></Window>)");
    ASSERT_TRUE(dialog.Open());
    auto* gif = static_cast<CGifAnimUI*>(dialog.Find(u"Gif_Loading"));
    ASSERT_EQ(gif->GetFrameCount(), 2);
    ASSERT_TRUE(TestInput::WaitFor([&] { return gif->GetCurrentFrame() == 1; }));
    gif->StopGif();
    EXPECT_EQ(gif->GetCurrentFrame(), 0);
}
