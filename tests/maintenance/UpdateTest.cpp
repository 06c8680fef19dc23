// The update checks and the self-update job against the stand-in server on loopback: manifests
// rewritten between requests, packages made in the test, the installer window on Qt's offscreen
// platform, message boxes answered through their seam and the updater a real child process.

#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"
#include "foundation/ServerEndpoints.h"
#include "maintenance/DownLoadPopFrame.h"
#include "maintenance/UpdateCheck.h"
#include "maintenance/UpdateHandOff.h"
#include "maintenance/UpdateInfo.h"
#include "maintenance/UpdateVersion.h"
#include "platform/Process.h"
#include "tests/maintenance/PackageServer.h"
#include "ui/Label.h"
#include "ui/MessageBox.h"
#include "ui/TestInput.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <openssl/evp.h>
#include <sstream>
#include <unistd.h>
#include <vector>

using namespace UiLib;
using namespace maintenancetest;
using testsupport::ReadFile;
using testsupport::WriteFile;
namespace fs = std::filesystem;

namespace {

struct AskedBox {
    std::u16string text;
    std::u16string caption;
    UINT type = 0;
};

std::string Sha256(const std::string& bytes)
{
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), hash, &length, EVP_sha256(), nullptr);
    std::ostringstream hex;
    for (unsigned int i = 0; i < length; ++i)
        hex << "0123456789abcdef"[hash[i] >> 4] << "0123456789abcdef"[hash[i] & 15];
    return hex.str();
}

TEST(UpdateManifest, SizeAndShaMustBeThereAndWellFormed)
{
    CUpdateInfo info;
    ASSERT_TRUE(
        info.ParseText(R"({"version":"0.0.15","downloadurl":"u","description":"d","size":"1234",)"
                       R"("sha256":"ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789"})"));
    auto digest = PackageDigestOf(info);
    ASSERT_TRUE(digest);
    EXPECT_EQ(digest->size, 1234);
    EXPECT_EQ(digest->sha256, "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789");

    for (const char* size : {"", "-5", "12a", " 12", "+12", "1234567890123456789"}) {
        CUpdateInfo bad = info;
        bad.size = size;
        EXPECT_FALSE(PackageDigestOf(bad)) << "size \"" << size << "\"";
    }
    for (const std::string& sha :
         {std::string(), std::string(63, 'a'), std::string(65, 'a'), std::string(63, 'a') + "g"}) {
        CUpdateInfo bad = info;
        bad.sha256 = sha;
        EXPECT_FALSE(PackageDigestOf(bad)) << "sha256 \"" << sha << "\"";
    }
}

class UpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_world.Start(error)) << error;
        AppPaths paths = GetAppPaths();
        paths.ConfigFilePath = m_world.ProgramDir() + "quokka.cfg";
        SetAppPaths(paths);
        fs::create_directories(m_world.DataDir() + "update");
        SetMessageBoxAnswerer([this](HWND, const CDuiString& text, const CDuiString& caption, UINT type) {
            m_asked.push_back({text.Str(), caption.Str(), type});
            return m_answer;
        });
    }
    void TearDown() override
    {
        SetMessageBoxAnswerer(nullptr);
        AppPaths paths = GetAppPaths();
        paths.Installed = false; // a failed installed-mode test leaves the portable layout behind
        SetAppPaths(paths);
    }

    void SetUpdateType(const std::string& value)
    {
        ASSERT_TRUE(IniFile::WriteString(m_world.ProgramDir() + "quokka.cfg", "Set", "UpdateType", value));
    }
    void ServeManifest(const std::string& json)
    {
        ASSERT_TRUE(WriteFile(m_world.DataDir() + "update/index.json", json));
    }
    // Serves `package` as Update.zip and a manifest naming `version` with the given size and hash
    // texts (the package's own when empty).
    void ServeUpdate(const std::string& package, const std::string& version, std::string size = {},
                     std::string sha = {})
    {
        ASSERT_TRUE(m_world.Put("Update.zip", package));
        if (size.empty())
            size = std::to_string(package.size());
        if (sha.empty())
            sha = Sha256(package);
        ServeManifest(R"({"version":")" + version + R"(","downloadurl":"x","description":"修正了存档",)" +
                      R"("size":")" + size + R"(","sha256":")" + sha + R"("})");
    }
    size_t ManifestRequests() const
    {
        size_t count = 0;
        for (const LoggedRequest& request : m_world.Requests())
            count += request.method == "POST" && request.path == "/download/pc/update/index.php";
        return count;
    }
    size_t PackageRequests() const { return m_world.Requests("GET", "Update.zip").size(); }

    // An updater that notes where it ran: its session, its parent, and the ini it found.
    static std::string RecordingUpdater()
    {
        return "#!/bin/sh\nset -- $(cat /proc/$$/stat)\necho \"$1 $4 $6\" > session.txt\n"
               "cp QuokkaUpdate.ini seen.ini\n";
    }

    PackageWorld m_world;
    std::vector<AskedBox> m_asked;
    int m_answer = IDNO;
};

TEST_F(UpdateTest, AutomaticCheckAsksNothingWhenOffAndOnlyForNewerVersions)
{
    ASSERT_STREQ(QuokkaVersion(), "0.0.14");
    ServeManifest(R"({"version":"0.0.15","downloadurl":"x","description":"d"})");
    // No settings file: UpdateType is "0".
    EXPECT_FALSE(RunAutomaticUpdateCheck(nullptr));
    SetUpdateType("0");
    EXPECT_FALSE(RunAutomaticUpdateCheck(nullptr));
    EXPECT_EQ(ManifestRequests(), 0u) << "no request while the start-up check is off";
    EXPECT_TRUE(m_asked.empty());

    SetUpdateType("1");
    for (const char* same : {"0.0.14", "0.0.9", "0.0.14.0", "no digits"}) {
        ServeManifest(std::string(R"({"version":")") + same + R"(","description":"d"})");
        EXPECT_FALSE(RunAutomaticUpdateCheck(nullptr));
        EXPECT_TRUE(m_asked.empty()) << same << " is not newer than 0.0.14";
    }
    EXPECT_EQ(ManifestRequests(), 4u);

    for (const char* newer : {"0.0.15", "0.1.0"}) {
        m_asked.clear();
        ServeManifest(std::string(R"({"version":")") + newer +
                      R"(","downloadurl":"x","description":"修正了存档"})");
        EXPECT_FALSE(RunAutomaticUpdateCheck(nullptr)) << "No keeps the program";
        ASSERT_EQ(m_asked.size(), 1u) << newer;
        EXPECT_EQ(m_asked[0].caption, u"提示:检测到新版本" + CDuiString::FromUtf8(newer).Str() + u"是否更新");
        EXPECT_EQ(m_asked[0].text, u"更新说明:\n\n修正了存档");
        EXPECT_EQ(m_asked[0].type, static_cast<UINT>(MB_YESNO));
    }
    EXPECT_EQ(PackageRequests(), 0u) << "No downloads nothing";
    EXPECT_FALSE(fs::exists(m_world.WorkDir() + "QuokkaUpdate.zip"));
}

TEST_F(UpdateTest, FailedFetchesAreSilentAtStartAndToldOnRequest)
{
    SetUpdateType("1");
    // An answer that is not a manifest counts as a failed request.
    for (const char* answer : {"", "not json", "[1,2]"}) {
        ServeManifest(answer);
        EXPECT_FALSE(RunAutomaticUpdateCheck(nullptr));
        EXPECT_EQ(RunManualUpdateCheck(nullptr), 0);
    }
    ASSERT_TRUE(m_world.Faults(R"({"path": "/download/pc/update/index.php", "status": 500})"));
    EXPECT_FALSE(RunAutomaticUpdateCheck(nullptr));
    EXPECT_EQ(RunManualUpdateCheck(nullptr), 0);
    ASSERT_EQ(m_asked.size(), 4u) << "only the manual checks say something";
    for (const AskedBox& box : m_asked) {
        EXPECT_EQ(box.text, u"获取更新信息失败");
        EXPECT_EQ(box.caption, u"提示");
    }

    // Nobody listening at all.
    m_asked.clear();
    ServerEndpoints endpoints = GetServerEndpoints();
    endpoints.DownloadBase = "http://127.0.0.1:1";
    SetServerEndpoints(endpoints);
    EXPECT_FALSE(RunAutomaticUpdateCheck(nullptr));
    EXPECT_TRUE(m_asked.empty());
    EXPECT_EQ(RunManualUpdateCheck(nullptr), 0);
    ASSERT_EQ(m_asked.size(), 1u);
    EXPECT_EQ(m_asked[0].text, u"获取更新信息失败");
}

TEST_F(UpdateTest, ManualCheckSaysUpToDateOrOffersTheNewerVersion)
{
    ServeManifest(R"({"version":"0.0.14","description":"d"})");
    EXPECT_EQ(RunManualUpdateCheck(nullptr), 0);
    ASSERT_EQ(m_asked.size(), 1u);
    EXPECT_EQ(m_asked[0].text, u"Quokka模拟器已是最新版本");
    EXPECT_EQ(m_asked[0].caption, u"提示");

    m_asked.clear();
    ServeManifest(R"({"version":"0.1.0","description":"d"})");
    EXPECT_EQ(RunManualUpdateCheck(nullptr), 0);
    ASSERT_EQ(m_asked.size(), 1u);
    EXPECT_EQ(m_asked[0].caption, u"提示:检测到新版本0.1.0是否更新");
    EXPECT_EQ(PackageRequests(), 0u);
}

// An installed program cannot replace its own files: the manual check sends the user to the package
// manager and the start-up check stays silent, neither asking the server, whatever the server has.
TEST_F(UpdateTest, InstalledTheChecksLeaveTheUpdateToThePackageManagerAndDownloadNothing)
{
    SetUpdateType("1");
    ServeUpdate("a package", "0.1.0");
    AppPaths paths = GetAppPaths();
    paths.Installed = true;
    SetAppPaths(paths);
    m_answer = IDYES;

    EXPECT_FALSE(RunAutomaticUpdateCheck(nullptr));
    EXPECT_TRUE(m_asked.empty()) << "the start-up check is silent";
    EXPECT_EQ(RunManualUpdateCheck(nullptr), 0);
    ASSERT_EQ(m_asked.size(), 1u);
    EXPECT_EQ(m_asked[0].text, u"请通过系统的软件包管理器更新Quokka");
    EXPECT_EQ(m_asked[0].caption, u"提示");
    EXPECT_EQ(m_asked[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(ManifestRequests(), 0u);
    EXPECT_EQ(PackageRequests(), 0u);

    // The portable folder keeps its self-update.
    paths.Installed = false;
    SetAppPaths(paths);
    m_asked.clear();
    m_answer = IDNO;
    EXPECT_EQ(RunManualUpdateCheck(nullptr), 0);
    ASSERT_EQ(m_asked.size(), 1u);
    EXPECT_EQ(m_asked[0].caption, u"提示:检测到新版本0.1.0是否更新");
}

TEST_F(UpdateTest, YesDownloadsChecksUnpacksAndHandsOffToADetachedUpdater)
{
    SetUpdateType("1");
    ASSERT_TRUE(WriteFile(m_world.WorkDir() + "QuokkaUpdate.zip", "an old package"));
    ASSERT_TRUE(WriteFile(m_world.WorkDir() + "QuokkaUpdate.ini", "[Update]\nProgram=/stale\nOther=1\n"));
    ServeUpdate(MakePackage({{"quokka", "#!/bin/sh\nexit 0\n", 0100755},
                             {"QuokkaUpdate.exe", RecordingUpdater(), 0100755}}),
                "0.0.15");
    m_answer = IDYES;

    EXPECT_TRUE(RunAutomaticUpdateCheck(nullptr)) << "886: the caller ends the program";
    EXPECT_EQ(PackageRequests(), 1u);
    EXPECT_FALSE(fs::exists(m_world.WorkDir() + "QuokkaUpdate.zip"));
    EXPECT_TRUE(fs::exists(m_world.WorkDir() + "quokka"));

    ASSERT_TRUE(TestInput::WaitFor([&] { return !ReadFile(m_world.WorkDir() + "seen.ini").empty(); }, 5000));
    const std::string ini = m_world.WorkDir() + "seen.ini";
    EXPECT_EQ(IniFile::GetString(ini, "Update", "Program", ""), RunningExecutable());
    EXPECT_EQ(IniFile::GetString(ini, "Update", "Pid", ""), std::to_string(::getpid()));
    EXPECT_EQ(IniFile::GetString(ini, "Update", "Other", "gone"), "gone") << "the ini is written anew";

    ASSERT_TRUE(
        TestInput::WaitFor([&] { return !ReadFile(m_world.WorkDir() + "session.txt").empty(); }, 5000));
    std::istringstream session(ReadFile(m_world.WorkDir() + "session.txt"));
    long pid = 0, parent = 0, sid = 0;
    session >> pid >> parent >> sid;
    EXPECT_NE(sid, static_cast<long>(::getsid(0))) << "the updater runs in a session of its own";
    EXPECT_NE(sid, pid) << "and leads none, so it can never take a terminal";
    EXPECT_NE(parent, static_cast<long>(::getpid())) << "the updater is no child of the program";
}

TEST_F(UpdateTest, APackageUnlikeItsManifestIsRefusedBeforeAnythingIsUnpacked)
{
    const std::string package = MakePackage(
        {{"quokka", "#!/bin/sh\nexit 0\n", 0100755}, {"QuokkaUpdate.exe", RecordingUpdater(), 0100755}});
    struct Case {
        const char* what;
        std::string size;
        std::string sha;
        bool keys = true;
    };
    const std::vector<Case> cases = {
        {"wrong sha256", {}, std::string(64, '0')},
        {"wrong size", std::to_string(package.size() + 1), {}},
        {"no size and sha256", {}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_world.Put("Update.zip", package));
        CUpdateInfo manifest;
        manifest.version = "0.0.15";
        if (c.keys) {
            manifest.size = c.size.empty() ? std::to_string(package.size()) : c.size;
            manifest.sha256 = c.sha.empty() ? Sha256(package) : c.sha;
        }
        CDownLoadPopFrame window(manifest, UpdateHandOff{"/nonexistent/quokka", 1}, 64);
        ASSERT_NE(window.Create(nullptr, CDownLoadPopFrame::kTitle, UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE),
                  nullptr);
        ASSERT_TRUE(TestInput::WaitFor([&] { return window.LastState() == 9 || window.Finished(); }, 10000));
        EXPECT_EQ(window.LastState(), 9);
        EXPECT_EQ(window.LastErrorCode(), kPopErrorPackageRefused);
        auto* size = static_cast<CLabelUI*>(window.GetPaintManager().FindControl(u"LB_Size"));
        ASSERT_NE(size, nullptr);
        EXPECT_EQ(size->GetText().Str(), u"升级包校验失败");
        EXPECT_FALSE(fs::exists(m_world.WorkDir() + "QuokkaUpdate.zip")) << "the refused package is deleted";
        EXPECT_FALSE(fs::exists(m_world.WorkDir() + "quokka"));
        EXPECT_FALSE(fs::exists(m_world.WorkDir() + "QuokkaUpdate.exe"));
        EXPECT_FALSE(fs::exists(m_world.WorkDir() + "QuokkaUpdate.ini"));
        window.Close(IDOK);
        EXPECT_EQ(window.ShowModal(), IDOK);
    }
}

TEST_F(UpdateTest, AFailedDownloadLeavesTheProgramAndTheNextTrySucceeds)
{
    SetUpdateType("1");
    ServeUpdate(MakePackage({{"quokka", NoiseBytes(300000, 7), 0100755},
                             {"QuokkaUpdate.exe", RecordingUpdater(), 0100755}}),
                "0.0.15");
    ASSERT_TRUE(
        m_world.Faults(R"({"path": "/download/Update.zip", "method": "GET", "status": 503, "times": 1})"));
    m_answer = IDYES;

    CUpdateInfo manifest;
    ASSERT_TRUE(FetchUpdateInfo(manifest));
    {
        CDownLoadPopFrame window(manifest, UpdateHandOff{"/nonexistent/quokka", 1}, 64);
        ASSERT_NE(window.Create(nullptr, CDownLoadPopFrame::kTitle, UI_WNDSTYLE_DIALOG, WS_EX_WINDOWEDGE),
                  nullptr);
        ASSERT_TRUE(TestInput::WaitFor([&] { return window.LastState() == 9 || window.Finished(); }, 10000));
        EXPECT_EQ(window.LastState(), 9);
        EXPECT_EQ(window.LastErrorCode(), 503);
        window.Close(IDOK);
        EXPECT_EQ(window.ShowModal(), IDOK) << "a failed update leaves the window to the user, not 886";
    }
    EXPECT_FALSE(fs::exists(m_world.WorkDir() + "QuokkaUpdate.ini"));

    EXPECT_TRUE(RunAutomaticUpdateCheck(nullptr));
    EXPECT_EQ(PackageRequests(), 2u);
    EXPECT_EQ(ReadFile(m_world.WorkDir() + "quokka"), NoiseBytes(300000, 7));
}

TEST_F(UpdateTest, AConnectionCutMidPackageIsResumedAndThePackageStillChecksOut)
{
    SetUpdateType("1");
    ServeUpdate(MakePackage({{"quokka", NoiseBytes(400000, 11), 0100755},
                             {"QuokkaUpdate.exe", RecordingUpdater(), 0100755}}),
                "0.0.15");
    ASSERT_TRUE(m_world.Faults(
        R"({"path": "/download/Update.zip", "method": "GET", "cutAfter": 150000, "times": 1})"));
    m_answer = IDYES;

    EXPECT_TRUE(RunAutomaticUpdateCheck(nullptr));
    const auto gets = m_world.Requests("GET", "Update.zip");
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[0].range, "");
    EXPECT_EQ(gets[1].range, "bytes=150000-") << "the second request continues the first";
    EXPECT_EQ(ReadFile(m_world.WorkDir() + "quokka"), NoiseBytes(400000, 11));
}

TEST(UpdateHandOffTest, TheUpdaterGetsNoDescriptorOfTheProgramAndAMissingOneIsReported)
{
    testsupport::TempDir dir;
    // A descriptor the program left inheritable (as a lock or socket might be).
    int leaked[2];
    ASSERT_EQ(::pipe(leaked), 0);
    const std::string lister = dir.Path() + "lister";
    ASSERT_TRUE(WriteFile(lister, "#!/bin/sh\nls /proc/$$/fd > fds.txt.part && mv fds.txt.part fds.txt\n"));
    fs::permissions(lister, fs::perms(0755));
    ASSERT_TRUE(StartDetached(lister, dir.Path()));
    ASSERT_TRUE(TestInput::WaitFor([&] { return fs::exists(dir.Path() + "fds.txt"); }, 5000));
    std::istringstream fds(ReadFile(dir.Path() + "fds.txt"));
    for (int fd; fds >> fd;)
        EXPECT_TRUE(fd <= 2 || (fd != leaked[0] && fd != leaked[1])) << "descriptor " << fd << " reached it";
    ::close(leaked[0]);
    ::close(leaked[1]);

    errno = 0;
    EXPECT_FALSE(StartDetached(dir.Path() + "missing", dir.Path()));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(StartDetached(lister, dir.Path() + "no such folder/"));
}

TEST(UpdateHandOffTest, AStartRemovesAStaleCopyAndTheWindowConfirmsByRemovingTheOldProgram)
{
    const std::string exe = RunningExecutable();
    ASSERT_FALSE(exe.empty());
    testsupport::TempDir work;
    ASSERT_TRUE(WriteFile(exe + ".new", "half a program"));
    ASSERT_TRUE(WriteFile(exe + ".old", "the program before"));
    RemoveInterruptedUpdate(exe, work.Path());
    EXPECT_FALSE(fs::exists(exe + ".new"));
    EXPECT_TRUE(fs::exists(exe + ".old")) << "the old program stays until the window exists";
    ConfirmProgramStarted();
    EXPECT_FALSE(fs::exists(exe + ".old"));
    EXPECT_TRUE(fs::exists(exe));
}

// An update whose updater was killed before its swap: the next start removes the package, what was
// unpacked from it, the hand-off and the updater's half-made copies, and nothing else; nothing while
// an updater still runs, and never the program itself.
TEST(UpdateHandOffTest, AStartRemovesWhatAnInterruptedUpdateLeftAndNothingElse)
{
    testsupport::TempDir dir;
    const std::string programDir = dir.Path() + "program/";
    const std::string work = dir.Path() + "work/";
    fs::create_directories(programDir + "database");
    fs::create_directories(work + "cache/image");
    const std::string exe = programDir + "quokka";
    const std::vector<std::string> left = {
        exe + ".new",    exe + ".old.part",         work + "QuokkaUpdate.zip",
        work + "quokka", work + "QuokkaUpdate.ini", work + "QuokkaUpdate.exe"};
    const std::vector<std::string> kept = {exe,
                                           exe + ".old",
                                           programDir + "quokka.cfg",
                                           programDir + "database/quokka.db",
                                           work + "Emulator.zip",
                                           work + "VC2010.zip",
                                           work + "quokka.cfg",
                                           work + "cache/image/1.png"};
    for (const std::string& path : kept)
        ASSERT_TRUE(WriteFile(path, "kept"));
    for (const std::string& path : left)
        ASSERT_TRUE(WriteFile(path, "left by the update"));
    fs::remove(work + "QuokkaUpdate.exe");
    fs::copy_file(QUOKKA_UPDATE_PATH, work + "QuokkaUpdate.exe");
    ASSERT_TRUE(IniFile::WriteStrings(work + "QuokkaUpdate.ini", "Update",
                                      {{"Program", exe}, {"Pid", std::to_string(::getpid())}}));

    // The updater waits for this process to end: it still needs every file.
    platform::ProcessHandle updater = platform::StartProgram(work + "QuokkaUpdate.exe", "", work);
    ASSERT_TRUE(updater);
    EXPECT_EQ(RemoveInterruptedUpdate(exe, work), 0);
    for (const std::string& path : left)
        EXPECT_TRUE(fs::exists(path)) << path;
    ASSERT_TRUE(updater.Terminate());
    ASSERT_EQ(updater.Wait(), platform::WaitResult::Exited);

    EXPECT_EQ(RemoveInterruptedUpdate(exe, work), static_cast<int>(left.size()));
    for (const std::string& path : left)
        EXPECT_FALSE(fs::exists(path)) << path;
    for (const std::string& path : kept)
        EXPECT_EQ(ReadFile(path), "kept") << path;

    // A program run from its work folder is not taken for the unpacked one.
    ASSERT_TRUE(WriteFile(work + "QuokkaUpdate.zip", "package"));
    ASSERT_TRUE(WriteFile(work + "quokka", "the program itself"));
    EXPECT_EQ(RemoveInterruptedUpdate(work + "quokka", work), 1);
    EXPECT_EQ(ReadFile(work + "quokka"), "the program itself");
    EXPECT_FALSE(fs::exists(work + "QuokkaUpdate.zip"));
}

} // namespace
