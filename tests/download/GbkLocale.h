#pragma once

#include "platform/CodePage.h"
#include "tests/support/TempDir.h"

#include <clocale>
#include <cstdlib>
#include <string>

namespace testsupport {

// Puts the process under a GBK locale compiled into a temporary folder (this machine may have none
// installed), so that its narrow paths are GBK, and puts the C locale back when it goes. Active()
// is false when the locale cannot be made here; nothing is changed then.
class ScopedGbkLocale {
public:
    ScopedGbkLocale()
    {
        const std::string command =
            "localedef -i zh_CN -f GBK " + m_folder.Path() + "zh_CN.GBK >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0)
            return;
        setenv("LOCPATH", m_folder.Path().c_str(), 1);
        setenv("LC_ALL", "zh_CN.GBK", 1);
        std::setlocale(LC_ALL, "");
        platform::SetProcessCodePage(""); // read from the locale again
        m_active = platform::ProcessCodePage() == "GBK";
    }
    ScopedGbkLocale(const ScopedGbkLocale&) = delete;
    ScopedGbkLocale& operator=(const ScopedGbkLocale&) = delete;
    ~ScopedGbkLocale()
    {
        std::setlocale(LC_ALL, "C");
        unsetenv("LC_ALL");
        unsetenv("LOCPATH");
        platform::SetProcessCodePage("");
    }

    bool Active() const { return m_active; }

private:
    TempDir m_folder;
    bool m_active = false;
};

} // namespace testsupport
