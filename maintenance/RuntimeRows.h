#pragma once

#include "maintenance/RuntimeCheckWorker.h"
#include "ui/UiTypes.h"

#include <functional>
#include <memory>
#include <string_view>

namespace UiLib {
class CPaintManagerUI;
}

// The settings window's runtime page: six rows, each a text ("已安装" or "未安装") and an install button
// ("修复" or "安装"), filled from the runtime checks. The checks run on a CRuntimeCheckWorker that posts
// their result to the window, so the window never waits for the registry; the worker is joined when
// this object goes. UI thread only.
class CRuntimeRows {
public:
    CRuntimeRows();
    ~CRuntimeRows();
    CRuntimeRows(const CRuntimeRows&) = delete;
    CRuntimeRows& operator=(const CRuntimeRows&) = delete;

    // What the checks run; by default ReadRuntimeStates. Call it before Attach.
    void SetCheck(CRuntimeCheckWorker::Check check);
    // The rows are in `pm` of `window`: starts the first check.
    void Attach(UiLib::HWND window, UiLib::CPaintManagerUI& pm);
    // Runs the checks again (after an install window); the rows change when the result comes.
    void Refresh();
    // The runtime (a PopJobKind) that the install button named `name` installs; -1 for another name.
    static int KindOfButton(std::u16string_view name);
    // Shows the result that a posted message carries and frees it; false, nothing taken, for any
    // other message.
    bool HandleMessage(UiLib::UINT message, UiLib::LPARAM lParam);

private:
    void Show(const RuntimeStates& states);

    std::unique_ptr<CRuntimeCheckWorker> m_worker;
    UiLib::HWND m_window = nullptr;
    UiLib::CPaintManagerUI* m_pm = nullptr;
};
