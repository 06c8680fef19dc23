#include "account/SecurityCodePrompt.h"

#include <mutex>

namespace {

class CClosedPrompt : public ISecurityCodePrompt {
public:
    int AskSecurityCode(platform::HWND, const std::string&, const std::string&, std::string&) override
    {
        return kSecurityCodeClosed;
    }
};

std::mutex g_mutex;
std::shared_ptr<ISecurityCodePrompt> g_prompt;

} // namespace

void InstallSecurityCodePrompt(std::shared_ptr<ISecurityCodePrompt> prompt)
{
    std::lock_guard lock(g_mutex);
    g_prompt = std::move(prompt);
}

std::shared_ptr<ISecurityCodePrompt> InstalledSecurityCodePrompt()
{
    {
        std::lock_guard lock(g_mutex);
        if (g_prompt)
            return g_prompt;
    }
    static const auto closed = std::make_shared<CClosedPrompt>();
    return closed;
}
