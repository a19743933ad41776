#include <cstdio>

#include "cli/Commands.h"

int RunInfoCommand(const CommandArgs&) {
    std::fprintf(stderr, "dvdconv: not available in this build\n");
    return 2;
}
