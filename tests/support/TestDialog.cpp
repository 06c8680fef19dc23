#include "tests/support/TestDialog.h"

#include "tests/support/OffscreenUi.h"
#include "ui/TestInput.h"

namespace testsupport {

void TestDialog::Notify(UiLib::TNotifyUI& msg)
{
    notes.push_back(Note{msg.sType.Str(), msg.pSender != nullptr ? msg.pSender->GetName().Str() : u"",
                         msg.wParam, msg.lParam, msg.pSender});
    if (onNotify)
        onNotify(msg);
    else
        CDialogFrameWnd::Notify(msg);
}

UiLib::CControlUI* TestDialog::CreateControl(UiLib::LPCTSTR pstrClass)
{
    return factory ? factory(pstrClass) : nullptr;
}

UiLib::LRESULT TestDialog::HandleCustomMessage(UiLib::UINT uMsg, UiLib::WPARAM wParam, UiLib::LPARAM lParam,
                                               bool& handled)
{
    handled = onMessage ? onMessage(uMsg, wParam, lParam) : false;
    return 0;
}

bool TestDialog::Open(UiLib::DWORD style, UiLib::DWORD exStyle, UiLib::HWND owner)
{
    if (Create(owner, u"测试", style, exStyle) == nullptr)
        return false;
    if (!(style & UiLib::WS_VISIBLE))
        ShowWindow(true);
    UiLib::TestInput::ProcessEvents();
    m_pm.UpdateLayout();
    return true;
}

void TestDialog::ClickOn(std::u16string_view name)
{
    testsupport::ClickOn(GetHWND(), name);
}

int TestDialog::Count(std::u16string_view type, std::u16string_view sender) const
{
    int count = 0;
    for (const Note& note : notes) {
        if (note.type == type && (sender.empty() || note.sender == sender))
            ++count;
    }
    return count;
}

const Note* TestDialog::Last(std::u16string_view type) const
{
    for (auto it = notes.rbegin(); it != notes.rend(); ++it) {
        if (it->type == type)
            return &*it;
    }
    return nullptr;
}

} // namespace testsupport
