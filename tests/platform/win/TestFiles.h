// Helpers for tests that need files: a temporary folder removed at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "dvdconv-test-XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        path_ = made ? made : pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path Write(const std::string& name, std::string_view bytes) const {
        std::filesystem::path file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::filesystem::path path_;
};

// The source tree: DVDCONV_SOURCE_DIR when set, else the folder the test was
// built from (the tests' CMake files pass it as DVDCONV_SOURCE_DIR_DEFAULT).
inline std::filesystem::path SourceDir() {
    const char* dir = std::getenv("DVDCONV_SOURCE_DIR");
    if (dir && dir[0]) return dir;
#ifdef DVDCONV_SOURCE_DIR_DEFAULT
    return DVDCONV_SOURCE_DIR_DEFAULT;
#else
    return ".";
#endif
}
