#include <cstdio>

#include "cli/Commands.h"

int RunProfilesCommand(const CommandArgs&) {
    std::fprintf(stderr, "dvdconv: not available in this build\n");
    return 2;
}
