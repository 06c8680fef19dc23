#pragma once

#include "foundation/HttpClient.h"
#include "maintenance/UpdateInfo.h"
#include "ui/UiTypes.h"

#include <string>

// The program's update checks: the automatic one at start-up and the manual one of the settings
// window's "检查更新" button. Both fetch the update manifest, compare its version with the
// program's (CompareVersions), ask the user when the server's is newer and on Yes open the
// installer window with the self-update job, over `owner`.
//
// Both run on the UI thread and block it while the manifest is fetched (at most its 5-second
// time-out); the download runs on the installer window's worker.

// POSTs an empty body to the update manifest's address (connect and total time-out 5 s). True with
// `info` filled when the answer came with status 200, is not empty and is a JSON object; false,
// `info` untouched, otherwise.
bool FetchUpdateInfo(CUpdateInfo& info, const TransferCancel* cancel = nullptr);

// Whether the manifest names a version newer than the program's.
bool IsNewerThanProgram(const CUpdateInfo& info);

// The question asked for a newer version: caption "提示:检测到新版本<version>是否更新", text
// "更新说明:\n\n<description>".
std::u16string UpdatePromptCaption(const CUpdateInfo& info);
std::u16string UpdatePromptText(const CUpdateInfo& info);

// Asks about the newer version in `info` and on Yes runs the installer window's self-update job
// with the manifest's size and SHA-256. Returns the window's result (886 once the updater has been
// started and the program must end), or 0 when the user said No.
//
// QUOKKA_TEST_UPDATE_ANSWER ("yes" or "no") answers the question without showing it, for runs of
// the real program under test; the question is traced either way.
int OfferUpdate(UiLib::HWND owner, const CUpdateInfo& info);

// What the settings window's check says when the program runs installed (IsInstalledMode): the
// program cannot replace its own files there, and its package is updated with the system's.
inline constexpr char16_t kPackageManagerUpdateText[] = u"请通过系统的软件包管理器更新Quokka";

// The start-up check. Does nothing (no request) when the UpdateType setting is "0" or the program
// runs installed; a failed fetch and an up-to-date program are silent. True when the updater has been
// started: the caller then closes the main window with result 1, which ends the program.
bool RunAutomaticUpdateCheck(UiLib::HWND owner);

// The settings window's check. Installed, it says kPackageManagerUpdateText (caption "提示") and
// fetches nothing. A failed fetch says "获取更新信息失败", an up-to-date program
// "Quokka模拟器已是最新版本" (caption "提示"). Returns 886 when the updater has been started (the
// settings window then closes with 886, and the main window after it), 0 otherwise.
int RunManualUpdateCheck(UiLib::HWND owner);
