#include "maintenance/UpdateCheck.h"

#include "emulator/EmulatorList.h"
#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/ServerEndpoints.h"
#include "foundation/StringConv.h"
#include "maintenance/DownLoadPopFrame.h"
#include "maintenance/UpdateVersion.h"
#include "platform/Trace.h"
#include "ui/MessageBox.h"

#include <json/json.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

using namespace UiLib;

namespace {

// The manifest request's total time-out.
constexpr long kManifestTimeoutSeconds = 5;

std::u16string Wide(const std::string& ansi)
{
    try {
        return AnsiToUtf16(ansi);
    } catch (const std::exception&) {
        return u"?";
    }
}

// True when `body` is one JSON object (what a manifest is); anything else is a failed answer.
bool IsJsonObject(const std::string& body)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    return reader->parse(body.data(), body.data() + body.size(), &root, &errors) && root.isObject();
}

int Ask(HWND owner, const CUpdateInfo& info)
{
    const std::u16string caption = UpdatePromptCaption(info);
    platform::TraceF("update: newer version %s offered (this is %s)", info.version.c_str(), QuokkaVersion());
    if (const char* answer = std::getenv("QUOKKA_TEST_UPDATE_ANSWER")) {
        platform::TraceF("update: question answered \"%s\" by the test", answer);
        return std::strcmp(answer, "yes") == 0 ? IDYES : IDNO;
    }
    return MessageBox(owner, CDuiString(UpdatePromptText(info)), CDuiString(caption), MB_YESNO);
}

} // namespace

bool FetchUpdateInfo(CUpdateInfo& info, const TransferCancel* cancel)
{
    std::string body;
    if (!NetPost(body, UpdateInfoUrl(), "", "", kManifestTimeoutSeconds, cancel)) {
        platform::Trace("update: the manifest request failed");
        return false;
    }
    if (body.empty() || !IsJsonObject(body)) {
        platform::Trace("update: the manifest answer is empty or not a JSON object");
        return false;
    }
    CUpdateInfo parsed;
    if (!parsed.ParseText(body))
        return false;
    info = parsed;
    return true;
}

bool IsNewerThanProgram(const CUpdateInfo& info)
{
    return CompareVersions(QuokkaVersion(), info.version) < 0;
}

std::u16string UpdatePromptCaption(const CUpdateInfo& info)
{
    return u"提示:检测到新版本" + Wide(info.version) + u"是否更新";
}

std::u16string UpdatePromptText(const CUpdateInfo& info)
{
    return u"更新说明:\n\n" + Wide(info.description);
}

int OfferUpdate(HWND owner, const CUpdateInfo& info)
{
    if (Ask(owner, info) != IDYES) {
        platform::Trace("update: declined; nothing downloaded");
        return 0;
    }
    CDownLoadPopFrame window(info);
    const int result = window.DoModal(owner, CDownLoadPopFrame::kTitle);
    platform::TraceF("update: installer window ended with %d", result);
    return result;
}

bool RunAutomaticUpdateCheck(HWND owner)
{
    if (IsInstalledMode()) {
        platform::Trace("update: installed; the package manager updates the program, nothing is checked");
        return false;
    }
    CAppSettings settings(ConfigFilePath());
    if (settings.UpdateType() == "0")
        return false;
    CUpdateInfo info;
    if (!FetchUpdateInfo(info))
        return false;
    if (!IsNewerThanProgram(info)) {
        platform::TraceF("update: %s is up to date (the server has %s)", QuokkaVersion(),
                         info.version.c_str());
        return false;
    }
    return OfferUpdate(owner, info) == CDownLoadPopFrame::kResultUpdateReady;
}

int RunManualUpdateCheck(HWND owner)
{
    if (IsInstalledMode()) {
        platform::Trace("update: installed; the user is sent to the package manager");
        MessageBox(owner, kPackageManagerUpdateText, u"提示", MB_OK);
        return 0;
    }
    CUpdateInfo info;
    if (!FetchUpdateInfo(info)) {
        MessageBox(owner, u"获取更新信息失败", u"提示", MB_OK);
        return 0;
    }
    if (!IsNewerThanProgram(info)) {
        MessageBox(owner, u"Quokka模拟器已是最新版本", u"提示", MB_OK);
        return 0;
    }
    return OfferUpdate(owner, info) == CDownLoadPopFrame::kResultUpdateReady
               ? CDownLoadPopFrame::kResultUpdateReady
               : 0;
}
