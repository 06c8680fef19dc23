#include "emulator/KeyMapTipsFrame.h"

#include "foundation/AppPaths.h"
#include "foundation/StringConv.h"
#include "platform/Trace.h"
#include "ui/RichEdit.h"

#include <charconv>
#include <fstream>
#include <stdexcept>

namespace {

// The name in the tip files of each platform that has tips, by type id.
struct TipPlatform {
    int typeId;
    const char* name;
};

constexpr TipPlatform kTipPlatforms[] = {
    {119, "PS"},  {120, "GBA"}, {121, "SFC"}, {122, "MD"},  {123, "MAME"}, {124, "GBC"},
    {125, "FC"},  {126, "FBA"}, {127, "NDS"}, {129, "PSP"}, {130, "N64"},  {131, "WSC"},
    {133, "DC"},  {140, "WII"}, {142, "PS2"}, {146, "MAME"}, {148, "PCE"},
};

} // namespace

std::string CKeyMapTipsFrame::TipFileName(std::string_view platform, int controlMethod)
{
    int typeId = 0;
    const char* end = platform.data() + platform.size();
    auto [rest, error] = std::from_chars(platform.data(), end, typeId);
    if (error != std::errc() || rest != end)
        return {};
    for (const TipPlatform& entry : kTipPlatforms) {
        if (entry.typeId != typeId)
            continue;
        if (controlMethod == 1)
            return std::string("LocalGameRes/keymap/gamepad/手柄") + entry.name + ".txt";
        if (controlMethod == 2)
            return std::string("LocalGameRes/keymap/keyboard/键盘") + entry.name + ".txt";
        return {};
    }
    return {};
}

std::u16string CKeyMapTipsFrame::LoadTipsText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    // Whole lines, however long: a line never breaks at some buffer's size.
    std::string text;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        text += line;
        text += '\n';
    }
    try {
        std::u16string wide = Utf8ToUtf16(text);
        if (!wide.empty() && wide.front() == u'\uFEFF')
            wide.erase(0, 1); // a byte order mark is no text
        return wide;
    } catch (const std::runtime_error&) {
    }
    try {
        return AnsiToUtf16(text);
    } catch (const std::runtime_error&) {
        platform::Trace("key map tips: the tip file is neither UTF-8 nor in the process code page");
        return {};
    }
}

void CKeyMapTipsFrame::InitWindow()
{
    m_tips = static_cast<UiLib::CRichEditUI*>(m_pm.FindControl(u"Rd_KeyMapTis"));
}

UiLib::HWND CKeyMapTipsFrame::CreateHidden()
{
    if (GetHWND() != nullptr)
        return GetHWND();
    UiLib::HWND hwnd = Create(nullptr, u"操作提示", kStyle, kExStyle);
    if (hwnd != nullptr)
        SetIcon(107);
    return hwnd;
}

void CKeyMapTipsFrame::ShowFor(const std::string& instancePath, const std::string& platform, int controlMethod)
{
    if (GetHWND() == nullptr)
        return;
    const std::string name = TipFileName(platform, controlMethod);
    const std::u16string text = name.empty() ? std::u16string() : LoadTipsText(instancePath + name);
    if (m_tips != nullptr) {
        m_tips->SetText(UiLib::CDuiString(text));
        m_tips->SetScrollPos(UiLib::SIZE{0, 0});
    }
    ShowWindow(true, false);
    if (IsMinimized())
        ShowWindowCmd(UiLib::SW_RESTORE);
    RightWindow();
}

void CKeyMapTipsFrame::ShowFor(const std::string& platform, int controlMethod)
{
    ShowFor(InstancePath(), platform, controlMethod);
}

void CKeyMapTipsFrame::HideTips()
{
    if (GetHWND() != nullptr)
        ShowWindow(false, false);
}

UiLib::CDuiString CKeyMapTipsFrame::TipsText() const
{
    return m_tips != nullptr ? m_tips->GetText() : UiLib::CDuiString();
}

void CKeyMapTipsFrame::Notify(UiLib::TNotifyUI& msg)
{
    if (msg.sType == u"click" && msg.pSender != nullptr && msg.pSender->GetName() == u"Btn_Close")
        SendMessage(UiLib::WM_SYSCOMMAND, UiLib::SC_MINIMIZE, 0);
}

UiLib::LRESULT CKeyMapTipsFrame::HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM,
                                                     bool& handled)
{
    // Closing only minimises: the window lives as long as the program.
    if (uMsg == UiLib::WM_SYSCOMMAND && (wParam & 0xFFF0) == UiLib::SC_CLOSE) {
        SendMessage(UiLib::WM_SYSCOMMAND, UiLib::SC_MINIMIZE, 0);
        handled = true;
    }
    return 0;
}
