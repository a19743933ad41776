#include "platform/win/MessageService.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/win/DebugTrace.h"

namespace {
std::mutex sinkLock;
MessageService::Sink& CurrentSink() {
    static MessageService::Sink sink;
    return sink;
}
} // namespace

void MessageService::Show(const std::string& text, MessageKind kind) {
    Sink sink;
    {
        std::lock_guard lock(sinkLock);
        sink = CurrentSink();
    }
    DebugTrace("message: %s\n", text.c_str());
    if (sink)
        sink(kind, text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

MessageService::Sink MessageService::SetSink(Sink sink) {
    std::lock_guard lock(sinkLock);
    return std::exchange(CurrentSink(), std::move(sink));
}
