#pragma once

#include <string_view>

namespace platform {

// Debug traces: written to stderr only while tracing is switched on (QUOKKA_TRACE=1 in the
// environment at start-up, or SetTraceEnabled). There is no log file.
void SetTraceEnabled(bool enabled);
bool TraceEnabled();

// Writes one line; cheap when tracing is off.
void Trace(std::string_view text);

// printf-style convenience; formats only when tracing is on.
void TraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace platform
