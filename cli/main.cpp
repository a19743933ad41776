// dvdconv: the converter without a window.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/Commands.h"
#include "cli/Engine.h"

namespace {

struct Command {
    const char* name;
    const char* synopsis;
    int (*run)(const CommandArgs&); // null: runs in the media engine module
};

constexpr Command kCommands[] = {
    {"info", "info DISC [--json]              list the titles of a disc", RunInfoCommand},
    {"profiles", "profiles [--json]               list the output profiles", RunProfilesCommand},
    {"streams",
     "streams DISC --title N [--chapter C] [--json] [--demux [--start S] [--length L]]\n"
     "                                  list the streams of a title; --demux runs the\n"
     "                                  demultiplexer and counts packets per output",
     nullptr},
    {"convert",
     "convert DISC [--titles 1,3 | --all] [--profile NAME|INDEX] [--out DIR] [--merge]\n"
     "          [--start HH:MM:SS --length HH:MM:SS] [--crop L,T,R,B] [--aspect keep|full|16:9|4:3]\n"
     "          [--brightness N --saturation N --hue N --volume N] [--audio ID] [--subtitle ID|none]\n"
     "          [--cpu-usage PERCENT] [--overwrite]  convert titles into media files",
     nullptr},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: dvdconv COMMAND [OPTIONS]\n\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(out, "  dvdconv %s\n", c.synopsis);
    std::fprintf(out, "\nDISC is a DVD drive (/dev/sr0), a mounted disc, a VIDEO_TS folder or its\n"
                      "parent, or a disc image file.\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    for (const Command& c : kCommands) {
        if (name != c.name) continue;
        CommandArgs args(argv + 2, argv + argc);
        return c.run ? c.run(args) : RunEngineCommand(c.name, args);
    }
    std::fprintf(stderr, "dvdconv: unknown command '%s'\n\n", name.c_str());
    PrintUsage(stderr);
    return 2;
}
