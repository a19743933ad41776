// Helpers for the source tests: the authored test discs, reference bytes read
// straight through the disc functions, and a copy of a disc whose data can be
// cut short.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/dvd/LibDvd.h"

namespace testdisc {

namespace fs = std::filesystem;

// Folder of the authored NTSC disc (three titles, title 0 with four chapters).
inline fs::path NtscFolder() {
    const char* root = std::getenv("DVDCONV_TEST_DISCS");
    return fs::path(root ? root : "") / "ntsc";
}

// A disc handle closed when the scope ends.
class Disc {
public:
    explicit Disc(const fs::path& path) : handle_(MyDVDOpen(path.c_str())) {}
    ~Disc() { Close(); }
    Disc(const Disc&) = delete;
    Disc& operator=(const Disc&) = delete;
    DvdHandle Handle() const { return handle_; }
    void Close() {
        MyDVDClose(handle_);
        handle_ = 0;
    }
    DvdDiscInfo Info() const {
        DvdDiscInfo info{};
        MyDVDGetInfo(handle_, &info);
        return info;
    }

private:
    DvdHandle handle_;
};

// Every byte of an area, read with the disc functions on a handle of its own.
// chapter -1 selects the whole title.
inline std::vector<std::uint8_t> AreaBytes(const fs::path& disc, int title, int chapter) {
    Disc d(disc);
    std::vector<std::uint8_t> out;
    if (d.Handle() == 0) return out;
    if (chapter < 0) {
        MyDVDSetArea(d.Handle(), title, 0);
        MyDvdSetStopPos(d.Handle(), title + 1, 0);
    } else {
        MyDVDSetArea(d.Handle(), title, chapter);
        MyDvdSetStopPos(d.Handle(), title, chapter + 1);
    }
    std::uint8_t block[10240];
    int n;
    while ((n = MyDVDRead(d.Handle(), block, sizeof block)) > 0) out.insert(out.end(), block, block + n);
    return out;
}

// Title length in bytes from the disc description.
inline std::int64_t DescribedBytes(const DvdTitleInfo& t) {
    std::int64_t sectors = 0;
    for (int i = 0; i < t.chapterCount; ++i) sectors += t.chapterSectors[i];
    return sectors * kDvdSectorSize;
}

// A copy of `disc` in `dest` with its own copy of the video file `vob`
// (such as "VTS_02_1.VOB"), which a test may then cut short; the other files
// are links to the originals.
inline void CopyDiscWithOwnVob(const fs::path& disc, const fs::path& dest, const std::string& vob) {
    fs::create_directories(dest / "VIDEO_TS");
    for (const auto& entry : fs::directory_iterator(disc / "VIDEO_TS")) {
        const fs::path to = dest / "VIDEO_TS" / entry.path().filename();
        if (entry.path().filename() == vob)
            fs::copy_file(entry.path(), to);
        else
            fs::create_symlink(fs::absolute(entry.path()), to);
    }
}

// A fresh temporary folder, removed when the scope ends.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "dvdconv-source-XXXXXX").string();
        path_ = mkdtemp(tmpl.data()) ? fs::path(tmpl) : fs::path();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

} // namespace testdisc
