// The installer window on Qt's offscreen platform, driven by real clicks, against the stand-in server
// with packages made in the tests whose installers are shell scripts run as child processes.

#include "maintenance/DownLoadPopFrame.h"
#include "download/DownloadProgress.h"
#include "emulator/EmulatorManager.h"
#include "foundation/StringConv.h"
#include "maintenance/EmulatorPopInstaller.h"
#include "maintenance/PackageInstaller.h"
#include "maintenance/RuntimeChecks.h"
#include "platform/Process.h"
#include "tests/maintenance/PackageServer.h"
#include "tests/support/Fifo.h"
#include "tests/support/OffscreenUi.h"
#include "ui/Button.h"
#include "ui/Label.h"
#include "ui/PaintManager.h"
#include "ui/TestInput.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

using namespace UiLib;
using namespace maintenancetest;
using testsupport::ReadFile;

extern "C" const char* __lsan_default_suppressions()
{
    return QUOKKA_QT_LEAK_SUPPRESSIONS;
}

namespace {

// The toolkit, and the registry tool that the installers made in this program's tests call.
class UiEnvironment : public testsupport::OffscreenUiEnvironment {
public:
    void SetUp() override
    {
        setenv("QUOKKA_TEST_REGEDIT", QUOKKA_REGEDIT_PATH, 1);
        OffscreenUiEnvironment::SetUp();
    }
};
[[maybe_unused]] ::testing::Environment* const g_ui = ::testing::AddGlobalTestEnvironment(new UiEnvironment);

// An installer that refuses to run without its switches, records its arguments one per line in
// "args.txt" beside itself, and registers `displayName` as an uninstall entry (none when empty).
std::string RegisteringInstaller(const std::string& switchCheck, const std::string& displayName)
{
    std::string script = "#!/bin/sh\n" + switchCheck + " || exit 2\nprintf '%s\\n' \"$@\" > args.txt\n";
    if (!displayName.empty()) {
        script += "cat > entry.reg <<'EOF'\nWindows Registry Editor Version 5.00\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                  displayName +
                  "]\n"
                  "\"DisplayName\"=\"" +
                  displayName + "\"\nEOF\n\"$QUOKKA_TEST_REGEDIT\" /s entry.reg\n";
    }
    return script;
}

class DownLoadPopFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_world.Start(error)) << error;
    }

    // Opens the window without an owner; its worker starts once it is shown.
    void Open(CDownLoadPopFrame& window)
    {
        ASSERT_NE(window.Create(nullptr, CDownLoadPopFrame::kTitle, UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE),
                  nullptr);
    }
    // Waits until the worker has reported `state` (or failed); true when it reached `state`.
    bool WaitForState(CDownLoadPopFrame& window, int state, int timeoutMs = 60000)
    {
        TestInput::WaitFor([&] { return window.LastState() == state || window.LastState() == 9; }, timeoutMs);
        return window.LastState() == state;
    }

    static std::u16string Text(CDownLoadPopFrame& window, const char16_t* name)
    {
        CControlUI* control = window.GetPaintManager().FindControl(name);
        return control ? control->GetText().Str() : u"<missing>";
    }
    static void ClickOn(CDownLoadPopFrame& window, const char16_t* name)
    {
        testsupport::ClickOn(window.GetHWND(), name);
    }

    PackageWorld m_world;
};

TEST_F(DownLoadPopFrameTest, Vc2010OnA64BitSystemFetchesX64RunsItsInstallerWithQAndShowsSuccess)
{
    const std::string name = "Microsoft Visual C++ 2010 SP1 Redistributable Package (x64)";
    ASSERT_TRUE(m_world.Put(
        name + ".zip", MakePackage({{name + ".exe",
                                     RegisteringInstaller("[ \"$1\" = /q ]",
                                                          "Microsoft Visual C++ 2010  x64 Redistributable"),
                                     0100755}})));
    EXPECT_FALSE(IsVc2010Installed());

    CDownLoadPopFrame window(kPopVc2010, 64);
    Open(window);
    ASSERT_TRUE(WaitForState(window, 10))
        << "state " << window.LastState() << " code " << window.LastErrorCode();
    EXPECT_TRUE(window.Finished());
    EXPECT_EQ(Text(window, u"LB_Caption"), u"安装VC2010运行库");
    EXPECT_EQ(Text(window, u"LB_Status"), u"提示：VC2010运行库安装成功");
    EXPECT_EQ(Text(window, u"LB_Size"), u"");
    EXPECT_EQ(Text(window, u"Btn_Cancel"), u"确定");
    EXPECT_EQ(ReadFile(m_world.WorkDir() + "args.txt"), "/q\n");
    EXPECT_TRUE(IsVc2010Installed());
    EXPECT_EQ(m_world.Requests("GET", name + ".zip").size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(m_world.WorkDir() + "VC2010.zip")); // kept

    // "确定" is still the cancel button: 2, and the caller reads success from the window.
    ClickOn(window, u"Btn_Cancel");
    EXPECT_EQ(window.ShowModal(), CDownLoadPopFrame::kResultCancel);
}

TEST_F(DownLoadPopFrameTest, Vc2005And2008InstallersGetTheMsiexecSwitchAsWindowsSplitsIt)
{
    for (int kind : {kPopVc2005, kPopVc2008}) {
        const std::string year = kind == kPopVc2005 ? "2005" : "2008";
        const std::string name = "Microsoft Visual C++ " + year + " SP1 Redistributable Package (x86)";
        ASSERT_TRUE(m_world.Put(
            name + ".zip",
            MakePackage({{name + ".exe",
                          RegisteringInstaller("[ \"$1\" = /q:a ] && [ $# = 2 ]",
                                               "Microsoft Visual C++ " + year + " Redistributable"),
                          0100755}})));
        CDownLoadPopFrame window(kind, 32);
        Open(window);
        ASSERT_TRUE(WaitForState(window, 10)) << "code " << window.LastErrorCode();
        EXPECT_EQ(ReadFile(m_world.WorkDir() + "args.txt"),
                  "/q:a\n/c:msiexec /i vcredist.msi /qn /l*v %temp%\\vcredist_x86.log\n");
        EXPECT_EQ(Text(window, u"LB_Status"),
                  kind == kPopVc2005 ? u"提示：VC2005运行库安装成功" : u"提示：VC2008运行库安装成功");
        window.Close(IDOK);
        EXPECT_EQ(window.ShowModal(), IDOK);
    }
    EXPECT_TRUE(IsVc2005Installed() && IsVc2008Installed());
}

TEST_F(DownLoadPopFrameTest, SuccessIsTheChecksNotTheInstallersExitCode)
{
    // The VC2012 installer exits 0 and registers nothing; the DirectX one writes its twenty files.
    ASSERT_TRUE(m_world.Put("Microsoft Visual C++ 2012 Redistributable (x64).zip",
                            MakePackage({{"Microsoft Visual C++ 2012 Redistributable (x64).exe",
                                          RegisteringInstaller("[ \"$1\" = /q ]", ""), 0100755}})));
    std::string directx =
        "#!/bin/sh\n[ \"$1\" = /q ] || exit 2\nmkdir -p \"$SystemRoot/system32\"\n"
        "for v in $(seq 24 43); do : > \"$SystemRoot/system32/d3dx9_$v.dll\"; done\nexit 1\n";
    ASSERT_TRUE(m_world.Put("DirectX9c.zip", MakePackage({{"DirectX9c.exe", directx, 0100755}})));

    CDownLoadPopFrame vc2012(kPopVc2012, 64);
    Open(vc2012);
    ASSERT_TRUE(WaitForState(vc2012, 10));
    EXPECT_EQ(Text(vc2012, u"LB_Status"), u"提示：VC2012运行库安装失败");
    EXPECT_EQ(Text(vc2012, u"Btn_Cancel"), u"确定");
    vc2012.Close(IDOK);
    vc2012.ShowModal();

    EXPECT_FALSE(IsDirectX9cInstalled());
    CDownLoadPopFrame directX(kPopDirectX9c, 64);
    Open(directX);
    ASSERT_TRUE(WaitForState(directX, 10));
    EXPECT_EQ(Text(directX, u"LB_Status"), u"提示：DirectX9c安装成功");
    EXPECT_TRUE(IsDirectX9cInstalled());
    directX.Close(IDOK);
    directX.ShowModal();
}

TEST_F(DownLoadPopFrameTest, SelfUpdateClosesWith886WithoutWaitingForTheUpdater)
{
    // The updater keeps running until the test ends it: the window must not wait for it.
    std::string updater = "#!/bin/sh\necho $$ > updater.pid\nexec sleep 60\n";
    ASSERT_TRUE(m_world.Put("Update.zip", MakePackage({{"QuokkaUpdate.exe", updater, 0100755}})));
    ASSERT_TRUE(testsupport::WriteFile(m_world.WorkDir() + "QuokkaUpdate.zip", "an old package"));

    // The package is unpacked only when it is what the manifest describes (UpdateTest has the refusals).
    const std::string served = m_world.DataDir() + "download/Update.zip";
    CUpdateInfo manifest;
    manifest.version = "0.0.15";
    manifest.size = std::to_string(std::filesystem::file_size(served));
    manifest.sha256 = FileSha256(served).value_or("");
    CDownLoadPopFrame window(manifest, CurrentProgramHandOff(), 64);
    Open(window);
    EXPECT_EQ(window.ShowModal(), CDownLoadPopFrame::kResultUpdateReady);
    EXPECT_TRUE(window.Finished());
    EXPECT_FALSE(std::filesystem::exists(m_world.WorkDir() + "QuokkaUpdate.zip"));
    ASSERT_TRUE(
        TestInput::WaitFor([&] { return !ReadFile(m_world.WorkDir() + "updater.pid").empty(); }, 60000));
    pid_t pid = std::atoi(ReadFile(m_world.WorkDir() + "updater.pid").c_str());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(::kill(pid, SIGKILL), 0); // still running when the window had closed
}

TEST_F(DownLoadPopFrameTest, AnEmulatorLandsInItsFolderWithItsLauncherRunnable)
{
    std::string launcher = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/launched.txt\"\n";
    ASSERT_TRUE(m_world.Put("emu/fceux pack.zip", MakePackage({{"fceux.sh", launcher, 0100755},
                                                               {"GamePadCfg/pad.cfg", "A=1\n"},
                                                               {"KeyBoardCfg/keys.cfg", "A=z\n"}})));
    EmulatorRecord record;
    record.EmulatorId = "1250002";
    record.Name = "FCEUX";
    record.Version = "2.6.4";
    record.Emulatortype = 125;
    record.Downloadurl = m_world.Url("emu/fceux%20pack.zip");
    PopEmulator emulator{record.Name, record.Version, record.Downloadurl, {}};
    ASSERT_TRUE(CEmulatorPopInstaller::EmulatorFolder(record, emulator.folder));
    EXPECT_EQ(emulator.folder, m_world.ProgramDir() + "Emulator/FC/FCEUX/");
    // An old package of another emulator is never continued.
    ASSERT_TRUE(testsupport::WriteFile(m_world.WorkDir() + "Emulator.zip", "PK old"));

    CDownLoadPopFrame window(emulator);
    Open(window);
    ASSERT_TRUE(WaitForState(window, 10)) << "code " << window.LastErrorCode();
    EXPECT_EQ(Text(window, u"LB_Caption"), u"安装FCEUX 2.6.4");
    EXPECT_EQ(Text(window, u"LB_Status"), u"提示：FCEUX 2.6.4安装成功");
    EXPECT_EQ(Text(window, u"Btn_Cancel"), u"确定");
    TestInput::TestImage image = TestInput::Grab(window.GetHWND());
    ASSERT_FALSE(image.IsNull());
    EXPECT_EQ(image.width, 420);
    TestInput::SaveImage(window.GetHWND(), m_world.Root() + "installed.png");
    EXPECT_EQ(m_world.Requests("GET", "emu/fceux pack.zip").at(0).range, "");

    struct stat info;
    ASSERT_EQ(::stat((emulator.folder + "fceux.sh").c_str(), &info), 0);
    EXPECT_TRUE(info.st_mode & S_IXUSR);
    EXPECT_EQ(ReadFile(emulator.folder + "GamePadCfg/pad.cfg"), "A=1\n");
    platform::ProcessHandle run =
        platform::StartProcess(emulator.folder + "fceux.sh", "-rompath \"a b\"", "");
    ASSERT_TRUE(run);
    EXPECT_EQ(run.Wait(5000), platform::WaitResult::Exited);
    EXPECT_EQ(ReadFile(emulator.folder + "launched.txt"), "-rompath\na b\n");
    EXPECT_FALSE(std::filesystem::exists(m_world.WorkDir() + "Emulator.zip")) << "the package stays behind";

    ClickOn(window, u"Btn_Cancel");
    EXPECT_EQ(window.ShowModal(), CDownLoadPopFrame::kResultCancel);
}

// The stall outlasts any test run (a download that stalls for good fails on its own only after a
// minute of attempts and keeps the window open): these windows close only through the cancel.
TEST_F(DownLoadPopFrameTest, CancelOnAStalledDownloadClosesWith2)
{
    ASSERT_TRUE(m_world.Put("emu/stall.zip", NoiseBytes(512 * 1024, 3)));
    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/emu/stall.zip", "method": "GET",
                                  "stallAfter": 32768, "stallMs": 600000})"));
    CDownLoadPopFrame window(
        PopEmulator{"Stall", "1.0", m_world.Url("emu/stall.zip"), m_world.Root() + "emu/"});
    Open(window);
    ASSERT_TRUE(WaitForState(window, 2));
    EXPECT_EQ(Text(window, u"LB_Status"), u"提示：正在下载Stall 1.0");
    ASSERT_TRUE(TestInput::WaitFor([&] { return Text(window, u"LB_Size") == u"0.03M/0.50M"; }, 60000))
        << Utf16ToUtf8(Text(window, u"LB_Size"));

    ClickOn(window, u"Btn_Cancel");
    EXPECT_EQ(window.ShowModal(), CDownLoadPopFrame::kResultCancel);
    EXPECT_FALSE(window.Finished());
    EXPECT_FALSE(std::filesystem::exists(m_world.WorkDir() + "Emulator.zip")) << "the partial stays behind";
}

TEST_F(DownLoadPopFrameTest, TheSystemCloseCommandAlsoCancelsAndWaitsForTheWorker)
{
    ASSERT_TRUE(m_world.Put("emu/stall.zip", NoiseBytes(512 * 1024, 4)));
    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/emu/stall.zip", "method": "GET",
                                  "stallAfter": 32768, "stallMs": 600000})"));
    CDownLoadPopFrame window(
        PopEmulator{"Stall", "1.0", m_world.Url("emu/stall.zip"), m_world.Root() + "emu/"});
    Open(window);
    ASSERT_TRUE(WaitForState(window, 2));
    window.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(window.ShowModal(), IDCLOSE);
}

TEST_F(DownLoadPopFrameTest, CancelDuringInstallationWaitsForTheInstallerAndItsButtonEndsIt)
{
    testsupport::Fifo started(m_world.Root() + "started");
    const std::string name = "Microsoft Visual C++ 2010 SP1 Redistributable Package (x64)";
    const std::string script = "#!/bin/sh\necho $$ > '" + started.Path() + "'\nexec sleep 600\n";
    ASSERT_TRUE(m_world.Put(name + ".zip", MakePackage({{name + ".exe", script, 0100755}})));
    CDownLoadPopFrame window(kPopVc2010, 64);
    Open(window);
    ASSERT_TRUE(WaitForState(window, 11)) << "code " << window.LastErrorCode();
    const std::optional<std::string> pidText = started.ReadLine(60000);
    ASSERT_TRUE(pidText) << "state " << window.LastState() << " code " << window.LastErrorCode();
    const pid_t pid = std::atoi(pidText->c_str());
    ASSERT_GT(pid, 0);

    ClickOn(window, u"Btn_Cancel");
    ASSERT_TRUE(WaitForState(window, kPopStateWaitingForInstaller, 60000)) << "state " << window.LastState();
    EXPECT_EQ(Text(window, u"LB_Status"), u"提示：正在等待安装程序结束...");
    EXPECT_EQ(Text(window, u"Btn_Cancel"), u"结束安装");
    EXPECT_EQ(::kill(pid, 0), 0) << "cancel alone must not stop an installer half-way";

    ClickOn(window, u"Btn_Cancel");
    EXPECT_EQ(window.ShowModal(), CDownLoadPopFrame::kResultCancel);
    EXPECT_FALSE(window.Finished());
    EXPECT_NE(::kill(pid, 0), 0) << "the installer outlived its window";
}

TEST_F(DownLoadPopFrameTest, FailuresShowAnErrorAndKeepTheWindowOpen)
{
    ASSERT_TRUE(m_world.Put("emu/pack.zip", NoiseBytes(4096, 5)));
    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/emu/pack.zip", "method": "GET", "status": 404})"));
    CDownLoadPopFrame notFound(PopEmulator{"E", "1", m_world.Url("emu/pack.zip"), m_world.Root() + "emu/"});
    Open(notFound);
    ASSERT_TRUE(WaitForState(notFound, 9));
    EXPECT_EQ(notFound.LastErrorCode(), 404);
    EXPECT_EQ(Text(notFound, u"LB_Status"), u"提示：错误");
    EXPECT_EQ(Text(notFound, u"Btn_Cancel"), u"取消");
    EXPECT_TRUE(IsWindow(notFound.GetHWND()));
    ClickOn(notFound, u"Btn_Cancel");
    EXPECT_EQ(notFound.ShowModal(), CDownLoadPopFrame::kResultCancel);

    CDownLoadPopFrame missing(PopEmulator{"E", "1", m_world.Url("emu/none.zip"), m_world.Root() + "emu/"});
    Open(missing);
    ASSERT_TRUE(WaitForState(missing, 9));
    EXPECT_EQ(missing.LastErrorCode(), 1001);
    EXPECT_EQ(Text(missing, u"LB_Status"), u"提示：错误");
    EXPECT_EQ(Text(missing, u"LB_Size"), u"获取文件长度出错");
    missing.Close(IDOK);
    missing.ShowModal();

    ASSERT_TRUE(
        m_world.Faults(R"({"path": "/download/emu/pack.zip", "method": "GET", "endlessBody": true})"));
    CDownLoadPopFrame endless(PopEmulator{"E", "1", m_world.Url("emu/pack.zip"), m_world.Root() + "emu/"});
    Open(endless);
    ASSERT_TRUE(WaitForState(endless, 9, 60000));
    EXPECT_EQ(Text(endless, u"LB_Size"), u"服务器发送的数据超出文件长度");
    endless.Close(IDOK);
    endless.ShowModal();
    EXPECT_FALSE(std::filesystem::exists(m_world.WorkDir() + "Emulator.zip"));
}

TEST(EmulatorPopInstallerTest, NamesThatCouldLeaveTheEmulatorFolderInstallNothing)
{
    EmulatorRecord record;
    record.Emulatortype = 125;
    std::string folder;
    for (const char* name : {"", ".", "..", "a/b", "a\\b", "../x"}) {
        record.Name = name;
        EXPECT_FALSE(CEmulatorPopInstaller::EmulatorFolder(record, folder)) << name;
    }
    CEmulatorPopInstaller installer;
    EXPECT_FALSE(installer.InstallEmulator(record, nullptr, true)); // no window opens

    // Unpacked where the manager looks for it: an emulator for all platforms has a folder of its own,
    // apart from the platforms' folders.
    record.Name = "FC";
    record.Emulatortype = 0;
    ASSERT_TRUE(CEmulatorPopInstaller::EmulatorFolder(record, folder));
    EXPECT_EQ(folder, EmulatorManager::EmulatorDirectory(record) + "/");
    EXPECT_EQ(folder.substr(folder.size() - std::string("Emulator/全部机种/FC/").size()),
              "Emulator/全部机种/FC/");
}

} // namespace
