#include "maintenance/RuntimeRows.h"

#include "foundation/AppMessages.h"
#include "maintenance/PopJob.h"
#include "ui/PaintManager.h"

namespace {

// The checks' result reaches the window as this message; lParam is a RuntimeStates* that its
// receiver frees. The number means something only to the settings window.
constexpr UiLib::UINT kWmRuntimeStates = kWmUser + 302;

struct RuntimeRow {
    int kind;
    const char16_t* text;
    const char16_t* button;
    bool RuntimeStates::*installed;
};

const RuntimeRow kRuntimeRows[] = {
    {kPopVc2005, u"Tx_IsInstallVc2005", u"Btn_InstallVc2005", &RuntimeStates::vc2005},
    {kPopVc2008, u"Tx_IsInstallVc2008", u"Btn_InstallVc2008", &RuntimeStates::vc2008},
    {kPopVc2010, u"Tx_IsInstallVc2010", u"Btn_InstallVc2010", &RuntimeStates::vc2010},
    {kPopVc2012, u"Tx_IsInstallVc2012", u"Btn_InstallVc2012", &RuntimeStates::vc2012},
    {kPopDirectX9c, u"Tx_IsInstalledDx", u"Btn_InstallDx", &RuntimeStates::directX9c},
    {kPopXinput, u"Tx_IsInstalledXinput", u"Btn_InstallXinput", &RuntimeStates::xinput},
};

} // namespace

CRuntimeRows::CRuntimeRows() : m_worker(std::make_unique<CRuntimeCheckWorker>()) {}

CRuntimeRows::~CRuntimeRows() = default;

void CRuntimeRows::SetCheck(CRuntimeCheckWorker::Check check)
{
    m_worker = std::make_unique<CRuntimeCheckWorker>(std::move(check));
}

void CRuntimeRows::Attach(UiLib::HWND window, UiLib::CPaintManagerUI& pm)
{
    m_window = window;
    m_pm = &pm;
    Refresh();
}

void CRuntimeRows::Refresh()
{
    if (m_window != nullptr)
        m_worker->Request(m_window, kWmRuntimeStates);
}

int CRuntimeRows::KindOfButton(std::u16string_view name)
{
    for (const RuntimeRow& row : kRuntimeRows) {
        if (name == row.button)
            return row.kind;
    }
    return -1;
}

bool CRuntimeRows::HandleMessage(UiLib::UINT message, UiLib::LPARAM lParam)
{
    if (message != kWmRuntimeStates)
        return false;
    std::unique_ptr<RuntimeStates> states(reinterpret_cast<RuntimeStates*>(lParam));
    if (states != nullptr && m_pm != nullptr)
        Show(*states);
    return true;
}

void CRuntimeRows::Show(const RuntimeStates& states)
{
    for (const RuntimeRow& row : kRuntimeRows) {
        const bool installed = states.*row.installed;
        if (UiLib::CControlUI* text = m_pm->FindControl(row.text))
            text->SetText(installed ? u"已安装" : u"未安装");
        if (UiLib::CControlUI* button = m_pm->FindControl(row.button))
            button->SetText(installed ? u"修复" : u"安装");
    }
}
