// Figures for the tile view the catalogue shows: a 1240 x 680 window with 42 tiles (icon, two
// labels, a button each).
//   BM_FullRepaint   one whole-window paint (median wanted under 8 ms)
//   BM_HoverRepaint  moving onto a tile's button; counters say how much of the window was painted
//   BM_StartUp       layout text to the first painted frame (wanted under 150 ms)

#include <benchmark/benchmark.h>

#include <QDir>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/DialogFrameWnd.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"

using namespace UiLib;

namespace {

std::u16string TileLayoutXml()
{
    std::u16string xml = uR"(<Window size="1240,680" caption="0,0,0,70" roundcorner="6,6">
      <VerticalLayout bkcolor="#FFF5F7FA">
        <HorizontalLayout height="70" bkcolor="#FF2479E4"><Label text="Quokka模拟器" textcolor="#FFFFFFFF" padding="20,0,0,0"/></HorizontalLayout>
        <TileLayout name="Tl_GameView" itemsize="190,240" childpadding="10" inset="20,20,10,20" vscrollbar="true">)";
    for (int i = 0; i < 42; ++i) {
        xml +=
            uR"(<VerticalLayout bkcolor="#FFFFFFFF" borderround="8,8" inset="10,10,10,10" childpadding="6">
            <Control height="140" bkimage="skin/ui/bench_icon.png"/>
            <Label text="星河战记 第)" +
            std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + uR"(代" height="20" endellipsis="true"/>
            <Label text="动作  128MB" height="18" textcolor="#FF8A93A0"/>
            <Button name="Btn_Install)" +
            std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
            std::u16string(1, static_cast<char16_t>(u'a' + i / 26)) +
            uR"(" text="安装" height="28" bkcolor="#FF2479E4" hotbkcolor="#FF4A90EA" textcolor="#FFFFFFFF" borderround="6,6"/>
          </VerticalLayout>)";
    }
    xml += u"</TileLayout></VerticalLayout></Window>";
    return xml;
}

class BenchWindow : public CDialogFrameWnd {
public:
    BenchWindow() : m_xml(TileLayoutXml()) {}
    CDuiString GetSkinFile() const override { return CDuiString(m_xml); }
    LPCTSTR GetWindowClassName() const override { return u"BenchFrame"; }
    CPaintManagerUI& Pm() { return m_pm; }

private:
    std::u16string m_xml;
};

void Setup()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    CPaintManagerUI::SetInstance(nullptr);
    QString folder = QDir::tempPath() + QStringLiteral("/quokka_ui_bench/");
    QDir().mkpath(folder + QStringLiteral("skin/ui"));
    QImage icon(128, 128, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 128, 128);
    g.setColorAt(0, QColor(0x5b, 0x9c, 0xf0));
    g.setColorAt(1, QColor(0x24, 0x79, 0xe4));
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, 128, 128), 16, 16);
    p.end();
    icon.save(folder + QStringLiteral("skin/ui/bench_icon.png"));
    CPaintManagerUI::SetResourcePath(CDuiString::FromUtf8(folder.toStdString()));
}

void BM_FullRepaint(benchmark::State& state)
{
    Setup();
    BenchWindow window;
    window.Create(nullptr, u"bench", UI_WNDSTYLE_DIALOG, 0);
    TestInput::ProcessEvents();
    double inside = 0;
    // The whole window is invalidated and the UI loop repaints it, as after a resize.
    for (auto _ : state) {
        window.Pm().Invalidate();
        TestInput::ProcessEvents();
        inside += window.Pm().GetPaintStats().dLastPaintMs;
    }
    state.counters["toolkit_paint_ms"] = benchmark::Counter(inside / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_HoverRepaint(benchmark::State& state)
{
    Setup();
    BenchWindow window;
    window.Create(nullptr, u"bench", UI_WNDSTYLE_DIALOG, 0);
    TestInput::ProcessEvents();
    CControlUI* button = window.Pm().FindControl(u"Btn_InstallAa");
    CControlUI* other = window.Pm().FindControl(u"Btn_InstallBa");
    POINT onButton{(button->GetPos().left + button->GetPos().right) / 2,
                   (button->GetPos().top + button->GetPos().bottom) / 2};
    POINT onOther{(other->GetPos().left + other->GetPos().right) / 2,
                  (other->GetPos().top + other->GetPos().bottom) / 2};
    double area = 0;
    int paints = 0;
    bool toFirst = true;
    for (auto _ : state) {
        int before = window.Pm().GetPaintStats().nPaints;
        TestInput::MouseMove(window.GetHWND(), toFirst ? onButton : onOther);
        TestInput::ProcessEvents();
        const TPaintStats& stats = window.Pm().GetPaintStats();
        paints += stats.nPaints - before;
        area += static_cast<double>(stats.rcLastPaint.Width()) * stats.rcLastPaint.Height();
        toFirst = !toFirst;
    }
    state.counters["painted_share_of_window"] =
        benchmark::Counter(area / static_cast<double>(state.iterations()) / (1240.0 * 680.0));
    state.counters["paints_per_move"] =
        benchmark::Counter(static_cast<double>(paints) / static_cast<double>(state.iterations()));
    state.counters["button_share_of_window"] =
        benchmark::Counter(static_cast<double>(button->GetWidth()) * button->GetHeight() / (1240.0 * 680.0));
}
BENCHMARK(BM_HoverRepaint)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_StartUp(benchmark::State& state)
{
    Setup();
    for (auto _ : state) {
        BenchWindow window;
        window.Create(nullptr, u"bench", UI_WNDSTYLE_DIALOG, 0);
        TestInput::WaitFor([&] { return window.Pm().GetPaintStats().nPaints > 0; }, 5000);
        state.PauseTiming();
        window.DestroyWindow();
        TestInput::ProcessEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_StartUp)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

// The first window of a fresh process: application object, fonts, layout, first frame.
void PrintColdStart()
{
    auto start = std::chrono::steady_clock::now();
    Setup();
    BenchWindow window;
    window.Create(nullptr, u"bench", UI_WNDSTYLE_DIALOG, 0);
    TestInput::WaitFor([&] { return window.Pm().GetPaintStats().nPaints > 0; }, 5000);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("Cold start to first frame (1240 x 680, 42 tiles): %.1f ms (goal: under 150 ms)\n", ms);
    window.DestroyWindow();
    TestInput::ProcessEvents();
}

int main(int argc, char** argv)
{
    PrintColdStart();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CPaintManagerUI::Term();
    return 0;
}
