#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace testsupport {

// Sets an environment variable, or unsets it for nullopt, and puts the old value back when it goes.
// Tests point HOME and XDG_DATA_HOME into their own folders with it, so nothing they do reaches the
// real home (the trash, for one).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

} // namespace testsupport
