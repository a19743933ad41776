// The one path for fixed user-facing texts ("Open DVD error", ...). The window
// installs a sink that shows a message box, the command line one that prints
// to standard error, tests one that records. Without a sink, texts go to
// standard error. Call from the user-interface (or main) thread.
#pragma once

#include <functional>
#include <string>

enum class MessageKind { Error, Warning, Information };

class MessageService {
public:
    using Sink = std::function<void(MessageKind, const std::string& text)>;

    // Shows `text`; returns when the user has seen it (modal in the window).
    static void Show(const std::string& text, MessageKind kind = MessageKind::Error);
    // Replaces the sink; returns the previous one so a scope can restore it.
    static Sink SetSink(Sink sink);
};
