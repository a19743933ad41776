#include "platform/win/DebugTrace.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex traceLock;
} // namespace

bool DebugTraceEnabled() {
    static const bool enabled = std::getenv("DVDCONV_DEBUG") != nullptr;
    return enabled;
}

void DebugTraceV(const char* format, std::va_list args) {
    if (!DebugTraceEnabled()) return;
    char line[2048];
    std::vsnprintf(line, sizeof line, format, args);
    std::lock_guard lock(traceLock);
    std::fputs(line, stderr);
}

void DebugTrace(const char* format, ...) {
    if (!DebugTraceEnabled()) return;
    std::va_list args;
    va_start(args, format);
    DebugTraceV(format, args);
    va_end(args);
}
