// The media engine: the commands that need FFmpeg, Qt and the pipeline live in
// a module (dvdconv-engine.so) that the front end loads only when one of them
// runs, so listing a disc starts as quickly as a plain disc lister.
#pragma once

#include "cli/Commands.h"

// The module's one entry point, resolved by name.
#define DVDCONV_ENGINE_ENTRY "dvdconv_engine_run"
using EngineEntry = int (*)(const char* command, int argc, const char* const* argv);

// Loads the module from beside the program (or ../lib/dvdconv) and runs the
// command there; prints why and returns 1 when the module cannot be loaded.
int RunEngineCommand(const char* command, const CommandArgs& args);
