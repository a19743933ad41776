// Kept apart from the trace itself so that programs which never call it do
// not load FFmpeg at start-up.
#include <mutex>

#include "platform/win/DebugTrace.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {
void FfmpegLog(void*, int level, const char* fmt, std::va_list args) {
    if (level > AV_LOG_WARNING || !DebugTraceEnabled()) return;
    DebugTraceV(fmt, args);
}
} // namespace

void RouteLibraryLogsToTrace() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(FfmpegLog); });
}
