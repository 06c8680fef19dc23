#include "maintenance/PopJob.h"

#include "foundation/ServerEndpoints.h"
#include "foundation/StringConv.h"
#include "maintenance/RuntimeChecks.h"

#include <cstdio>
#include <exception>

namespace {

struct KindTexts {
    const char16_t* caption;
    const char16_t* what; // the runtime's name in the status texts
    const char* localZip;
    const char* installer; // kinds 0 to 2; the others run the package's own name with ".exe"
    const char* switches;
};

// Kinds 0 to 6, in order.
const KindTexts kKinds[] = {
    {u"自动升级", u"升级包", "QuokkaUpdate.zip", "QuokkaUpdate.exe", ""},
    {u"安装Xinput驱动", u"Xinput驱动", "Xinput.zip", "Xinput.exe", "/q"},
    {u"安装DirectX9c", u"DirectX9c", "DirectX9c.zip", "DirectX9c.exe", "/q"},
    {u"安装VC2005运行库", u"VC2005运行库", "VC2005.zip", nullptr, kMsiexecSwitch},
    {u"安装VC2008运行库", u"VC2008运行库", "VC2008.zip", nullptr, kMsiexecSwitch},
    {u"安装VC2010运行库", u"VC2010运行库", "VC2010.zip", nullptr, "/q"},
    {u"安装VC2012运行库", u"VC2012运行库", "VC2012.zip", nullptr, "/q"},
};

std::u16string Wide(const std::string& ansi)
{
    try {
        return AnsiToUtf16(ansi);
    } catch (const std::exception&) {
        return u"?";
    }
}

// The file name without its last extension.
std::string StripExtension(const std::string& name)
{
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

std::string PopServerFileName(int kind, int osBits)
{
    const bool x64 = osBits == 64;
    switch (kind) {
    case kPopSelfUpdate:
        return "Update.zip";
    case kPopXinput:
        return x64 ? "Xinput64.zip" : "Xinput32.zip";
    case kPopDirectX9c:
        return "DirectX9c.zip";
    case kPopVc2005:
        return x64 ? "Microsoft Visual C++ 2005 SP1 Redistributable Package (x64).zip"
                   : "Microsoft Visual C++ 2005 SP1 Redistributable Package (x86).zip";
    case kPopVc2008:
        return x64 ? "Microsoft Visual C++ 2008 SP1 Redistributable Package (x64).zip"
                   : "Microsoft Visual C++ 2008 SP1 Redistributable Package (x86).zip";
    case kPopVc2010:
        return x64 ? "Microsoft Visual C++ 2010 SP1 Redistributable Package (x64).zip"
                   : "Microsoft Visual C++ 2010 SP1 Redistributable Package (x86).zip";
    case kPopVc2012:
        return x64 ? "Microsoft Visual C++ 2012 Redistributable (x64).zip"
                   : "Microsoft Visual C++ 2012 Redistributable (x86).zip";
    default:
        return {};
    }
}

std::string PercentEncodePath(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        out += hex;
    }
    return out;
}

bool MakePopJob(int kind, int osBits, const std::string& workDir, const PopEmulator* emulator, PopJob& job)
{
    job = PopJob{};
    job.kind = kind;
    job.installerDir = workDir;
    if (kind == kPopEmulator) {
        if (!emulator)
            return false;
        std::u16string nameVersion = Wide(emulator->name) + u" " + Wide(emulator->version);
        job.caption = u"安装" + nameVersion;
        job.downloadText = u"提示：正在下载" + nameVersion;
        job.successText = u"提示：" + nameVersion + u"安装成功";
        job.zipPath = workDir + "Emulator.zip";
        job.url = emulator->downloadUrl;
        job.extractFolder = emulator->folder;
        if (!job.extractFolder.empty() && job.extractFolder.back() != '/')
            job.extractFolder += '/';
        // Unpacked into the emulator's folder, the package is of no further use; a failed download
        // is never continued either (another emulator may come next).
        job.deleteZipAfterExtract = true;
        // An update must never leave the emulator's folder half old, half new.
        job.replaceFolder = true;
        return true;
    }
    if (kind < kPopSelfUpdate || kind > kPopVc2012)
        return false;
    const KindTexts& texts = kKinds[kind];
    const std::string serverName = PopServerFileName(kind, osBits);
    job.caption = texts.caption;
    job.downloadText = std::u16string(u"提示：正在下载") + texts.what + u"...";
    if (kind != kPopSelfUpdate) {
        job.successText = std::u16string(u"提示：") + texts.what + u"安装成功";
        job.failureText = std::u16string(u"提示：") + texts.what + u"安装失败";
    }
    job.zipPath = workDir + texts.localZip;
    job.url = DownloadFileUrl(PercentEncodePath(serverName));
    job.extractFolder = workDir;
    job.installer =
        workDir + (texts.installer ? std::string(texts.installer) : StripExtension(serverName) + ".exe");
    job.switches = texts.switches;
    job.resumePartial = kind != kPopSelfUpdate;
    job.deleteZipAfterExtract = kind == kPopSelfUpdate;
    job.waitForInstaller = kind != kPopSelfUpdate;
    return true;
}

bool RunPopJobCheck(int kind)
{
    switch (kind) {
    case kPopXinput:
        return IsXinputInstalled();
    case kPopDirectX9c:
        return IsDirectX9cInstalled();
    case kPopVc2005:
        return IsVc2005Installed();
    case kPopVc2008:
        return IsVc2008Installed();
    case kPopVc2010:
        return IsVc2010Installed();
    case kPopVc2012:
        return IsVc2012Installed();
    default:
        return false;
    }
}
