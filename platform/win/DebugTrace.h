// Internal trace: printf-style lines for developers, written to standard
// error only when the environment variable DVDCONV_DEBUG is set (any value).
// Safe from any thread; lines from different threads do not interleave.
#pragma once

#include <cstdarg>

// Formats like printf; the text is written as is (callers end it with "\n").
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void DebugTraceV(const char* format, std::va_list args);
// True when tracing is on; lets callers skip building expensive trace text.
bool DebugTraceEnabled();
// Routes FFmpeg's and libdvdread's own log output into the trace. Idempotent.
void RouteLibraryLogsToTrace();
