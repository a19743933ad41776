#include <cstdio>

#include "cli/Commands.h"

int RunStreamsCommand(const CommandArgs&) {
    std::fprintf(stderr, "dvdconv streams: not available in this build\n");
    return 2;
}
