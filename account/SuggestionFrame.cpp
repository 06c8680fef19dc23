#include "account/SuggestionFrame.h"

#include "foundation/ServerEndpoints.h"
#include "maintenance/UpdateVersion.h"
#include "platform/Process.h"
#include "platform/ShowItem.h"
#include "ui/Text.h"

namespace {

constexpr char16_t kLinkOpen[] = u"<f 0><a>";
constexpr char16_t kLinkClose[] = u"</a></f>";

void RemoveAll(std::u16string& text, std::u16string_view part)
{
    for (size_t at = text.find(part); at != std::u16string::npos; at = text.find(part, at))
        text.erase(at, part.size());
}

} // namespace

UiLib::CDuiString CSuggestionFrame::LinkMarkup(const std::string& address)
{
    return UiLib::CDuiString(kLinkOpen) + UiLib::CDuiString::FromUtf8(address).Str() + kLinkClose;
}

std::string CSuggestionFrame::LinkAddress(const UiLib::CDuiString& markup)
{
    std::u16string text(markup.Str());
    RemoveAll(text, kLinkOpen);
    RemoveAll(text, kLinkClose);
    const UiLib::CDuiString rest(text);
    const std::string address = rest.ToUtf8();
    // Only a web address goes to the desktop's opener: anything else in the text (a file name, an
    // option) is not ours to open.
    if (address.rfind("http://", 0) != 0 && address.rfind("https://", 0) != 0)
        return {};
    return address;
}

void CSuggestionFrame::InitWindow()
{
    if (UiLib::CControlUI* version = m_pm.FindControl(u"Tx_Version"))
        version->SetText(UiLib::CDuiString::FromUtf8(QuokkaVersion()));
    if (UiLib::CControlUI* forum = m_pm.FindControl(u"Tx_bbsUrl"))
        forum->SetText(LinkMarkup(SiteUrl("bbs/")));
}

void CSuggestionFrame::Notify(UiLib::TNotifyUI& msg)
{
    if (msg.pSender == nullptr)
        return;
    const UiLib::CDuiString& name = msg.pSender->GetName();
    if (msg.sType == u"link" && name == u"Tx_bbsUrl")
        return OpenForum(msg.pSender->GetText());
    if (msg.sType == u"click" && name == u"Btn_Close")
        Close(kClosed);
}

void CSuggestionFrame::OpenForum(const UiLib::CDuiString& markup)
{
    const std::string address = LinkAddress(markup);
    if (address.empty())
        return;
    // The opener runs on its own; its handle is dropped and the child reaped later.
    platform::StartProcess("xdg-open", platform::QuoteCommandLineArgument(address), "");
}

int CSuggestionFrame::Run(UiLib::HWND owner)
{
    CSuggestionFrame dialog;
    return dialog.DoModal(owner, u"反馈", kStyle, kExStyle);
}
