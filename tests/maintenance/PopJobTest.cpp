// The installer window's job table and the runtime checks over the emulated registry.

#include "maintenance/PopJob.h"
#include "maintenance/RuntimeChecks.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr char16_t kUninstall[] =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

TEST(PopJobTest, PackagesFollowTheWordSizeAndTheirNamesArePercentEncoded)
{
    PopJob job;
    ASSERT_TRUE(MakePopJob(kPopVc2010, 64, "/w/", nullptr, job));
    EXPECT_EQ(
        job.url.substr(job.url.find("/download/")),
        "/download/Microsoft%20Visual%20C%2B%2B%202010%20SP1%20Redistributable%20Package%20%28x64%29.zip");
    EXPECT_EQ(job.zipPath, "/w/VC2010.zip");
    EXPECT_EQ(job.installer, "/w/Microsoft Visual C++ 2010 SP1 Redistributable Package (x64).exe");
    EXPECT_EQ(job.switches, "/q");
    EXPECT_TRUE(job.resumePartial && job.waitForInstaller && !job.deleteZipAfterExtract);
    EXPECT_EQ(job.caption, u"安装VC2010运行库");
    EXPECT_EQ(job.downloadText, u"提示：正在下载VC2010运行库...");
    EXPECT_EQ(job.failureText, u"提示：VC2010运行库安装失败");

    ASSERT_TRUE(MakePopJob(kPopXinput, 32, "/w/", nullptr, job));
    EXPECT_NE(job.url.find("/download/Xinput32.zip"), std::string::npos);
    EXPECT_EQ(job.installer, "/w/Xinput.exe");
    EXPECT_EQ(PopServerFileName(kPopVc2012, 32), "Microsoft Visual C++ 2012 Redistributable (x86).zip");
    EXPECT_EQ(PopServerFileName(kPopDirectX9c, 32), PopServerFileName(kPopDirectX9c, 64));

    ASSERT_TRUE(MakePopJob(kPopSelfUpdate, 64, "/w/", nullptr, job));
    EXPECT_EQ(job.zipPath, "/w/QuokkaUpdate.zip");
    EXPECT_EQ(job.installer, "/w/QuokkaUpdate.exe");
    EXPECT_TRUE(!job.resumePartial && !job.waitForInstaller && job.deleteZipAfterExtract);
    EXPECT_EQ(job.downloadText, u"提示：正在下载升级包...");

    EXPECT_FALSE(MakePopJob(8, 64, "/w/", nullptr, job));
    EXPECT_FALSE(MakePopJob(kPopEmulator, 64, "/w/", nullptr, job));
}

TEST(PopJobTest, TheEmulatorJobFetchesItsAddressAsItStands)
{
    PopEmulator emulator{"FCEUX", "2.6.4", "http://h/download/emu/fc%20x.zip?a=b c", "/p/Emulator/FC/FCEUX"};
    PopJob job;
    ASSERT_TRUE(MakePopJob(kPopEmulator, 64, "/w/", &emulator, job));
    EXPECT_EQ(job.url, emulator.downloadUrl);
    EXPECT_EQ(job.zipPath, "/w/Emulator.zip");
    EXPECT_EQ(job.extractFolder, "/p/Emulator/FC/FCEUX/");
    EXPECT_TRUE(job.installer.empty());
    EXPECT_FALSE(job.resumePartial);
    EXPECT_TRUE(job.deleteZipAfterExtract);
    EXPECT_EQ(job.caption, u"安装FCEUX 2.6.4");
    EXPECT_EQ(job.downloadText, u"提示：正在下载FCEUX 2.6.4");
    EXPECT_EQ(job.successText, u"提示：FCEUX 2.6.4安装成功");
}

TEST(PopJobTest, TheMsiexecSwitchReachesTheInstallerAsWindowsSplitsIt)
{
    PopJob vc2005, vc2008;
    ASSERT_TRUE(MakePopJob(kPopVc2005, 64, "/w/", nullptr, vc2005));
    ASSERT_TRUE(MakePopJob(kPopVc2008, 32, "/w/", nullptr, vc2008));
    EXPECT_EQ(vc2005.switches, "/q:a /c:\"msiexec /i vcredist.msi /qn /l*v %temp%\\vcredist_x86.log\"");
    EXPECT_EQ(vc2008.switches, vc2005.switches);
    EXPECT_EQ(
        platform::SplitCommandLine(vc2005.switches),
        (std::vector<std::string>{"/q:a", "/c:msiexec /i vcredist.msi /qn /l*v %temp%\\vcredist_x86.log"}));
}

class RuntimeChecksTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_DATA_HOME", (m_dir.Path() + "xdg").c_str(), 1);
        ASSERT_TRUE(platform::EnsureWindowsFolder());
    }

    void AddEntry(const std::u16string& key, const std::u16string& displayName)
    {
        ASSERT_TRUE(m_registry.SetString(kUninstall + key, u"DisplayName", displayName));
    }

    testsupport::TempDir m_dir;
    platform::Registry m_registry{m_dir.Path() + "xdg/quokka/windows/"};
};

TEST_F(RuntimeChecksTest, EachRuntimeIsFoundByItsDisplayNameOnly)
{
    EXPECT_FALSE(IsVc2005Installed() || IsVc2008Installed() || IsVc2010Installed() || IsVc2012Installed() ||
                 IsXinputInstalled() || IsDirectX9cInstalled());

    // Near misses: the wrong case, one word of two, the 2012 entry without its second word.
    AddEntry(u"{a}", u"microsoft visual c++ 2005 redistributable");
    AddEntry(u"{b}", u"Microsoft Visual C++ 2008 x64 Runtime");
    AddEntry(u"{c}", u"Microsoft Visual C++ 2012 x64 Minimum Runtime - 11.0.61030");
    ASSERT_TRUE(m_registry.SetString(kUninstall + std::u16string(u"{d}"), u"Publisher",
                                     u"Microsoft Xbox 360 Accessories"));
    EXPECT_FALSE(IsVc2005Installed() || IsVc2008Installed() || IsVc2012Installed() || IsXinputInstalled());

    AddEntry(u"{e}", u"Microsoft Visual C++ 2005 Redistributable (x64)");
    AddEntry(u"{f}", u"Microsoft Visual C++ 2008 Redistributable - x86 9.0.30729.6161");
    AddEntry(u"{g}", u"Microsoft Visual C++ 2010  x64 Redistributable - 10.0.40219");
    AddEntry(u"{h}", u"Microsoft Visual C++ 2012 x64 Additional Runtime - 11.0.61030");
    AddEntry(u"{i}", u"Microsoft Xbox 360 Accessories 1.2");
    EXPECT_TRUE(IsVc2005Installed() && IsVc2008Installed() && IsVc2010Installed() && IsVc2012Installed() &&
                IsXinputInstalled());

    std::vector<UninstallEntry> entries = ReadUninstallEntries(m_registry);
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_EQ(entries[3].Publisher, u"Microsoft Xbox 360 Accessories");
    EXPECT_TRUE(entries[3].DisplayName.empty());
}

TEST_F(RuntimeChecksTest, DirectXNeedsAllTwentyLibrariesWhateverTheirCase)
{
    const std::string system = platform::SystemFolder();
    for (int version = 24; version <= 42; ++version)
        ASSERT_TRUE(testsupport::WriteFile(system + "D3DX9_" + std::to_string(version) + ".DLL", "x"));
    std::filesystem::create_directories(system + "d3dx9_43.dll");
    ASSERT_TRUE(testsupport::WriteFile(system + "d3dx9_43.dl", "x"));
    EXPECT_FALSE(IsDirectX9cInstalled());
    std::filesystem::remove(system + "d3dx9_43.dll");
    ASSERT_TRUE(testsupport::WriteFile(system + "d3dx9_43.dll", "x"));
    EXPECT_TRUE(IsDirectX9cInstalled());
    EXPECT_FALSE(IsDirectX9cInstalled(m_dir.Path() + "missing/"));
}

} // namespace
