#include "platform/Trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace platform {
namespace {

bool TraceFromEnvironment()
{
    const char* value = std::getenv("QUOKKA_TRACE");
    return value && *value && std::strcmp(value, "0") != 0;
}

std::atomic<bool>& TraceFlag()
{
    static std::atomic<bool> flag{TraceFromEnvironment()};
    return flag;
}

std::mutex& TraceMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

void SetTraceEnabled(bool enabled) { TraceFlag() = enabled; }

bool TraceEnabled() { return TraceFlag(); }

void Trace(std::string_view text)
{
    if (!TraceEnabled())
        return;
    std::lock_guard lock(TraceMutex());
    std::fprintf(stderr, "[quokka] %.*s\n", static_cast<int>(text.size()), text.data());
}

void TraceF(const char* format, ...)
{
    if (!TraceEnabled())
        return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    Trace(text);
}

} // namespace platform
