#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/Engine.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> EngineCandidates() {
    std::error_code ec;
    fs::path dir = fs::read_symlink("/proc/self/exe", ec).parent_path();
    if (ec) return {};
    return {dir / "dvdconv-engine.so", dir / ".." / "lib" / "dvdconv" / "dvdconv-engine.so"};
}

} // namespace

int RunEngineCommand(const char* command, const CommandArgs& args) {
    std::string why = "dvdconv-engine.so not found beside the program";
    for (const fs::path& candidate : EngineCandidates()) {
        if (!fs::exists(candidate)) continue;
        void* module = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            why = dlerror();
            continue;
        }
        auto entry = reinterpret_cast<EngineEntry>(dlsym(module, DVDCONV_ENGINE_ENTRY));
        if (!entry) {
            why = candidate.string() + " has no entry point";
            dlclose(module);
            continue;
        }
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        // The module stays loaded until exit: its threads and statics may outlive the call.
        return entry(command, static_cast<int>(argv.size()), argv.data());
    }
    std::fprintf(stderr, "dvdconv %s: the media engine could not be loaded (%s)\n", command, why.c_str());
    return 1;
}
