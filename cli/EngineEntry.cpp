// Entry point of the media engine module (see Engine.h).
#include <cstdio>
#include <string_view>

#include "cli/Engine.h"
#include "platform/win/DebugTrace.h"

namespace {

struct EngineCommand {
    std::string_view name;
    int (*run)(const CommandArgs&);
};

constexpr EngineCommand kEngineCommands[] = {
    {"streams", RunStreamsCommand},
    {"convert", RunConvertCommand},
};

} // namespace

extern "C" __attribute__((visibility("default"))) int dvdconv_engine_run(const char* command, int argc,
                                                                         const char* const* argv) {
    // FFmpeg's own chatter (encoder statistics, warnings) goes to the debug
    // trace; the commands report failures themselves.
    RouteLibraryLogsToTrace();
    CommandArgs args(argv, argv + argc);
    for (const EngineCommand& c : kEngineCommands)
        if (c.name == command) return c.run(args);
    std::fprintf(stderr, "dvdconv: the media engine has no command '%s'\n", command);
    return 2;
}
