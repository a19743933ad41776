#include "platform/win/DataFiles.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path ProgramFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path();
}

fs::path ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    return HomeFolder() / ".config";
}

bool IsFolder(const fs::path& p) {
    std::error_code ec;
    return !p.empty() && fs::is_directory(p, ec);
}

// Reads XDG_VIDEOS_DIR="..." from user-dirs.dirs, expanding a leading $HOME.
fs::path UserDirsVideos() {
    std::ifstream in(ConfigHome() / "user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_VIDEOS_DIR=";
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        while (!value.empty() &&
               (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = HomeFolder().string() + value.substr(5);
        if (!value.empty() && value[0] == '/') return value;
    }
    return {};
}

fs::path WithoutTrailingSlash(fs::path p) {
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

} // namespace

std::vector<fs::path> DataFolders() {
    std::vector<fs::path> folders;
    if (const char* dir = std::getenv("DVDCONV_DATA_DIR"); dir && dir[0]) folders.push_back(dir);
    folders.push_back(".");
    fs::path program = ProgramFolder();
    if (!program.empty()) {
        folders.push_back(program);
        folders.push_back((program / ".." / "share" / "dvdconv").lexically_normal());
    }
    return folders;
}

fs::path FindDataFile(std::string_view relativeName) {
    std::error_code ec;
    for (const fs::path& folder : DataFolders()) {
        fs::path candidate = folder == "." ? fs::path(relativeName) : folder / relativeName;
        if (fs::exists(candidate, ec)) return candidate;
    }
    return fs::path(relativeName);
}

fs::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0]) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

fs::path VideosFolder() {
    if (const char* env = std::getenv("XDG_VIDEOS_DIR"); env && env[0] == '/' && IsFolder(env))
        return WithoutTrailingSlash(env);
    if (fs::path fromFile = UserDirsVideos(); IsFolder(fromFile))
        return WithoutTrailingSlash(fromFile);
    if (fs::path videos = HomeFolder() / "Videos"; IsFolder(videos)) return videos;
    return WithoutTrailingSlash(HomeFolder());
}
