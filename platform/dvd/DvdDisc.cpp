#include "platform/dvd/DvdDisc.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <dvdread/dvd_reader.h>
}

#include "platform/dvd/DvdIfo.h"
#include "platform/win/DebugTrace.h"

namespace {

// libdvdread's log lines (they carry no newline) into the debug trace.
void DvdReadLog(void*, dvd_logger_level_t level, const char* format, va_list args) {
    if (!DebugTraceEnabled()) return;
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    static const char* const names[] = {"info", "error", "warning", "debug"};
    const char* name = unsigned(level) < 4 ? names[level] : "?";
    DebugTrace("libdvdread %s: %s\n", name, line);
}

const dvd_logger_cb kLogger = {DvdReadLog};

int Bcd(std::uint8_t v) {
    return (v >> 4) * 10 + (v & 0x0F);
}

// Two letters, lowered ("EN" -> "en"); anything else (unset, garbage) is no language.
std::int32_t LanguageCode(std::uint16_t code) {
    auto lower = [](int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    int first = lower(code >> 8), second = lower(code & 0xFF);
    if (first < 'a' || first > 'z' || second < 'a' || second > 'z') return 0;
    return first << 8 | second;
}

// The whole of an information file (title set 0 = VIDEO_TS) or of its backup, read through
// libdvdread (which knows folders, images and devices); empty when it cannot be read.
std::vector<std::uint8_t> ReadInfoFile(dvd_reader_t* dvd, int titleSet, bool backup) {
    std::vector<std::uint8_t> bytes;
    dvd_file_t* file =
        DVDOpenFile(dvd, titleSet, backup ? DVD_READ_INFO_BACKUP_FILE : DVD_READ_INFO_FILE);
    if (!file) return bytes;
    ssize_t blocks = DVDFileSize(file);
    constexpr ssize_t kMaxBlocks = 8192; // 16 MiB: far above any real IFO
    if (blocks > 0 && blocks <= kMaxBlocks) {
        bytes.resize(std::size_t(blocks) * kDvdSectorSize);
        ssize_t got = DVDReadBytes(file, bytes.data(), bytes.size());
        bytes.resize(got > 0 ? std::size_t(got) : 0);
    }
    DVDCloseFile(file);
    return bytes;
}

// Audio and subpicture streams of a title: from the title set's attributes, present where the
// PGC's stream control says so, numbered by the physical stream number the control gives.
void DescribeStreams(const DvdVtsIfo& vts, const DvdIfoPgc& pgc, DvdTitleInfo& info) {
    bool anyAudioControl = false;
    for (std::uint16_t control : pgc.audioControl)
        anyAudioControl |= (control & 0x8000) != 0;
    for (std::size_t i = 0; i < vts.audio.size() && info.audioCount < kDvdMaxStreams; ++i) {
        int n = int(i);
        if (anyAudioControl) {
            if (!(pgc.audioControl[i] & 0x8000)) continue;
            n = (pgc.audioControl[i] >> 8) & 7;
        }
        const DvdIfoAudio& attr = vts.audio[i];
        std::int32_t id, format;
        switch (attr.format) {
        case 0:
            id = 0xBD80 + n, format = kDvdAudioAc3;
            break;
        case 2:
            id = 0xC000 + (n << 8), format = kDvdAudioMpeg1;
            break;
        case 3:
            id = 0xC000 + (n << 8), format = kDvdAudioMpeg2;
            break;
        case 4:
            id = 0xBDA0 + n, format = kDvdAudioLpcm;
            break;
        case 6:
            id = 0xBD88 + n, format = kDvdAudioDts;
            break;
        default: // SDDS and reserved codes: no stream id is defined for them
            DebugTrace("libDvd: audio stream %zu has format %d, left out\n", i, attr.format);
            continue;
        }
        int k = info.audioCount++;
        info.audioIds[k] = id;
        info.audioFormats[k] = format;
        info.audioLanguages[k] = attr.langType == 1 ? LanguageCode(attr.lang) : 0;
        info.audioChannels[k] = attr.channels;
    }

    // Which of the four numbers of a subpicture control applies: 4:3 pictures use the first,
    // 16:9 pictures the "wide" one.
    bool wide = vts.aspect == 3;
    bool anySubpControl = false;
    for (std::uint32_t control : pgc.subpictureControl)
        anySubpControl |= (control & 0x80000000u) != 0;
    for (std::size_t i = 0; i < vts.subpictures.size() && info.subtitleCount < kDvdMaxStreams;
         ++i) {
        int n = int(i);
        if (anySubpControl) {
            std::uint32_t control = pgc.subpictureControl[i];
            if (!(control & 0x80000000u)) continue;
            n = wide ? (control >> 16) & 0x1F : (control >> 24) & 0x1F;
        }
        const DvdIfoSubpicture& attr = vts.subpictures[i];
        int k = info.subtitleCount++;
        info.subtitleIds[k] = 0xBD20 + n;
        info.subtitleLanguages[k] = attr.langType == 1 ? LanguageCode(attr.lang) : 0;
    }
}

// Parses an information file, falling back to its backup as players do.
template <typename Ifo, typename Parse>
bool ReadIfo(dvd_reader_t* dvd, int titleSet, Ifo& ifo, Parse parse) {
    for (bool backup : {false, true}) {
        std::vector<std::uint8_t> bytes = ReadInfoFile(dvd, titleSet, backup);
        if (!bytes.empty() && parse(bytes.data(), bytes.size(), ifo)) return true;
        DebugTrace("libDvd: %s of title set %d cannot be used\n", backup ? "BUP" : "IFO", titleSet);
    }
    return false;
}

// An ISO 9660 image must hold the whole volume its primary descriptor declares; a cut image
// would open and list its titles, then fail in the middle of a conversion.
bool ImageIsWhole(const char* path, std::uint64_t fileSize) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true; // libdvdread reports it
    std::uint8_t pvd[2048];
    ssize_t got = ::pread(fd, pvd, sizeof pvd, 16 * 2048);
    ::close(fd);
    if (got != ssize_t(sizeof pvd) || pvd[0] != 1 || std::memcmp(pvd + 1, "CD001", 5) != 0)
        return true; // not ISO 9660 (a bare UDF image): nothing to compare
    std::uint64_t blocks = pvd[80] | pvd[81] << 8 | pvd[82] << 16 | std::uint64_t(pvd[83]) << 24;
    std::uint64_t blockSize = pvd[128] | pvd[129] << 8;
    if (blockSize == 0) blockSize = 2048;
    return fileSize >= blocks * blockSize;
}

} // namespace

double DvdPlaybackTimeMs(std::uint8_t hour, std::uint8_t minute, std::uint8_t second,
                         std::uint8_t frameU) {
    std::int64_t seconds = Bcd(hour) * 3600LL + Bcd(minute) * 60 + Bcd(second);
    int frames = Bcd(frameU & 0x3F);
    switch (frameU >> 6) {
    case 1: // 25 fps
        return double(seconds) * 1000.0 + frames * 40.0;
    case 3: // 29.97 fps, counted at a nominal 30
        return double(seconds * 30 + frames) * 1001.0 / 30.0;
    default: // no valid rate: whole seconds only
        return double(seconds) * 1000.0;
    }
}

std::string DvdNormalisePath(const std::string& path) {
    struct stat st;
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    std::size_t slash = p.rfind('/');
    std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
    std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
    if (stat(p.c_str(), &st) != 0) return path;
    if (S_ISREG(st.st_mode)) {
        // One of the disc's own files (VIDEO_TS.IFO, VTS_01_1.VOB, ...) stands for its folder.
        std::size_t dot = base.rfind('.');
        std::string ext = dot == std::string::npos ? "" : base.substr(dot);
        bool discFile = strcasecmp(ext.c_str(), ".IFO") == 0 ||
                        strcasecmp(ext.c_str(), ".BUP") == 0 ||
                        strcasecmp(ext.c_str(), ".VOB") == 0;
        return discFile ? DvdNormalisePath(parent) : path;
    }
    if (S_ISDIR(st.st_mode) && strcasecmp(base.c_str(), "VIDEO_TS") == 0) return parent;
    return path;
}

std::unique_ptr<CDvdDisc> CDvdDisc::Open(const char* path) {
    if (!path || !*path) {
        DebugTrace("libDvd: open: empty path\n");
        return nullptr;
    }
    std::string where = DvdNormalisePath(path);
    struct stat st;
    if (stat(where.c_str(), &st) != 0) {
        DebugTrace("libDvd: open: %s: %s\n", path, std::strerror(errno));
        return nullptr;
    }
    if (S_ISREG(st.st_mode) && st.st_size < 2048 * 32) {
        // Not even the volume descriptors of an image fit: libdvdread would only fail later.
        DebugTrace("libDvd: open: %s: file too small for a disc image\n", path);
        return nullptr;
    }
    if (S_ISREG(st.st_mode) && !ImageIsWhole(where.c_str(), std::uint64_t(st.st_size))) {
        DebugTrace("libDvd: open: %s: the image is shorter than its volume\n", path);
        return nullptr;
    }
    std::unique_ptr<CDvdDisc> disc(new CDvdDisc);
    disc->dvd_ = DVDOpen2(nullptr, &kLogger, where.c_str());
    if (!disc->dvd_) {
        DebugTrace("libDvd: open: %s: libdvdread cannot open it\n", where.c_str());
        return nullptr;
    }
    if (!disc->Describe()) return nullptr;
    return disc;
}

CDvdDisc::~CDvdDisc() {
    if (vob_) DVDCloseFile(vob_);
    if (dvd_) DVDClose(dvd_);
}

bool CDvdDisc::Describe() {
    DvdVmgIfo vmg;
    if (!ReadIfo(dvd_, 0, vmg, ParseVmgIfo)) {
        DebugTrace("libDvd: open: neither VIDEO_TS.IFO nor VIDEO_TS.BUP can be used\n");
        return false;
    }
    info_ = std::make_unique<DvdDiscInfo>();
    std::memset(info_.get(), 0, sizeof(DvdDiscInfo));
    int count = int(vmg.titles.size());
    if (count > kDvdMaxTitles) {
        DebugTrace("libDvd: the disc has %d titles, the first %d are listed\n", count,
                   kDvdMaxTitles);
        count = kDvdMaxTitles;
    }
    info_->titleCount = count;
    layout_.assign(count, {});

    std::vector<DvdVtsIfo> sets(vmg.titleSets + 1);
    std::vector<int> state(vmg.titleSets + 1, 0); // 0 not tried, 1 parsed, -1 unusable
    int described = 0;
    for (int t = 0; t < count; ++t) {
        const DvdIfoTitle& entry = vmg.titles[t];
        DvdTitleInfo& info = info_->titles[t];
        TitleLayout& layout = layout_[t];
        int set = entry.titleSet;
        if (set < 1 || set > vmg.titleSets) {
            DebugTrace("libDvd: title %d names title set %d of %d\n", t, set, vmg.titleSets);
            continue;
        }
        if (state[set] == 0) state[set] = ReadIfo(dvd_, set, sets[set], ParseVtsIfo) ? 1 : -1;
        if (state[set] < 0) continue;
        const DvdVtsIfo& vts = sets[set];
        if (entry.vtsTitle < 1 || entry.vtsTitle > int(vts.titles.size())) {
            DebugTrace("libDvd: title %d names missing title %d of title set %d\n", t,
                       entry.vtsTitle, set);
            continue;
        }
        const std::vector<DvdIfoPart>& parts = vts.titles[entry.vtsTitle - 1];
        int chapters = int(parts.size());
        if (entry.chapters > 0) chapters = std::min(chapters, entry.chapters);
        if (chapters > kDvdMaxChapters) // all are read; the description holds the first 64
            DebugTrace("libDvd: title %d has %d chapters, the first %d are listed\n", t, chapters,
                       kDvdMaxChapters);

        layout.titleSet = set;
        std::set<int> pgcsTimed;
        const DvdIfoPgc* firstPgc = nullptr;
        double durationMs = 0;
        for (int c = 0; c < chapters; ++c) {
            int pgcn = parts[c].pgcn, pgn = parts[c].pgn;
            const DvdIfoPgc* pgc =
                pgcn >= 1 && pgcn <= int(vts.pgcs.size()) ? &vts.pgcs[pgcn - 1] : nullptr;
            if (!pgc || !pgc->valid || pgn < 1 || pgn > int(pgc->programMap.size())) {
                DebugTrace("libDvd: title %d chapter %d names a missing program\n", t, c);
                break;
            }
            if (!firstPgc) firstPgc = pgc;
            if (pgcsTimed.insert(pgcn).second) {
                const std::uint8_t* tm = pgc->playbackTime;
                durationMs += DvdPlaybackTimeMs(tm[0], tm[1], tm[2], tm[3]);
            }
            // The chapter runs to the next chapter's first cell when that one follows in the
            // same PGC, else to the end of the PGC.
            int firstCell = pgc->programMap[pgn - 1];
            int lastCell = int(pgc->cells.size());
            if (c + 1 < chapters && parts[c + 1].pgcn == pgcn && parts[c + 1].pgn > pgn &&
                parts[c + 1].pgn <= int(pgc->programMap.size()))
                lastCell = pgc->programMap[parts[c + 1].pgn - 1] - 1;
            std::vector<DvdSectorRange> cells;
            std::uint64_t sectors = 0;
            for (int cell = firstCell; cell <= lastCell; ++cell) {
                const DvdIfoCell& cp = pgc->cells[cell - 1];
                if (cp.blockType == 1 && cp.blockMode != 1) continue; // another angle
                if (cp.lastSector < cp.firstSector) {
                    DebugTrace("libDvd: title %d cell %d has no sectors\n", t, cell);
                    continue;
                }
                DvdSectorRange range{cp.firstSector, cp.lastSector};
                if (!cells.empty() && cells.back().last + 1 == range.first)
                    cells.back().last = range.last; // contiguous: one run
                else
                    cells.push_back(range);
                sectors += range.Count();
            }
            layout.chapters.push_back(std::move(cells));
            // Past 64 chapters the last entry takes in the rest, so the entries still add up
            // to the whole title (the DVD source takes that sum as the title's length).
            std::uint32_t& slot = info.chapterSectors[std::min(c, kDvdMaxChapters - 1)];
            slot = std::uint32_t(std::min<std::uint64_t>(slot + sectors, UINT32_MAX));
        }
        if (!TitleSetHolds(set, layout)) {
            DebugTrace("libDvd: title %d lies past the end of VTS_%02d's video files\n", t, set);
            layout = {};
            std::memset(&info, 0, sizeof info);
            continue;
        }
        info.chapterCount = std::min(int(layout.chapters.size()), kDvdMaxChapters);
        info.durationMs = durationMs;
        if (firstPgc) {
            DescribeStreams(vts, *firstPgc, info);
            // A table of sixteen zeros is no table: the authoring tool left it out.
            std::copy(std::begin(firstPgc->palette), std::end(firstPgc->palette), layout.palette);
            layout.hasPalette = std::any_of(std::begin(layout.palette), std::end(layout.palette),
                                            [](std::uint32_t c) { return c != 0; });
        }
        if (info.chapterCount > 0) ++described;
    }
    if (described == 0) {
        DebugTrace("libDvd: open: no title of the disc can be read\n");
        return false;
    }
    return true;
}

bool CDvdDisc::TitleSetHolds(int titleSet, const TitleLayout& layout) {
    std::uint32_t end = 0; // one past the last sector used
    for (const auto& chapter : layout.chapters)
        for (const DvdSectorRange& r : chapter)
            end = std::max(end, r.last + 1);
    dvd_file_t* vob = DVDOpenFile(dvd_, titleSet, DVD_READ_TITLE_VOBS);
    if (!vob) return false;
    ssize_t size = DVDFileSize(vob);
    DVDCloseFile(vob);
    return size >= 0 && std::uint64_t(size) >= end;
}

bool CDvdDisc::Palette(int title, std::uint32_t palette[16]) const {
    if (!palette || title < 0 || title >= int(layout_.size()) || !layout_[title].hasPalette)
        return false;
    std::copy(std::begin(layout_[title].palette), std::end(layout_[title].palette), palette);
    return true;
}

bool CDvdDisc::SetArea(int title, int chapter) {
    if (title < 0 || title >= int(layout_.size()) || chapter < 0 ||
        chapter >= int(layout_[title].chapters.size())) {
        DebugTrace("libDvd: SetArea(%d, %d): no such title or chapter\n", title, chapter);
        return false;
    }
    int set = layout_[title].titleSet;
    if (!vob_ || vobTitleSet_ != set) {
        if (vob_) DVDCloseFile(vob_);
        vob_ = DVDOpenFile(dvd_, set, DVD_READ_TITLE_VOBS);
        vobTitleSet_ = vob_ ? set : 0;
        if (!vob_) {
            DebugTrace("libDvd: SetArea(%d, %d): VTS_%02d video files cannot be opened\n", title,
                       chapter, set);
            areaTitle_ = -1;
            area_.clear();
            areaStarts_.clear();
            areaSectors_ = pos_ = 0;
            return false;
        }
    }
    areaTitle_ = title;
    areaChapter_ = chapter;
    BuildArea(int(layout_[title].chapters.size()));
    return true;
}

bool CDvdDisc::SetStopPos(int stopTitle, int stopChapter) {
    if (areaTitle_ < 0 || stopTitle < 0 || stopChapter < 0) {
        DebugTrace("libDvd: SetStopPos(%d, %d): no area or bad stop\n", stopTitle, stopChapter);
        return false;
    }
    int chapters = int(layout_[areaTitle_].chapters.size());
    int end;
    if (stopTitle > areaTitle_)
        end = chapters;
    else if (stopTitle < areaTitle_)
        end = areaChapter_;
    else
        // A stop at or past the last listed chapter is the end (the 64th listed chapter of a
        // longer title stands for the rest of it).
        end = stopChapter >= info_->titles[areaTitle_].chapterCount
                  ? chapters
                  : std::clamp(stopChapter, areaChapter_, chapters);
    BuildArea(end);
    return true;
}

void CDvdDisc::BuildArea(int endChapter) {
    area_.clear();
    areaStarts_.clear();
    areaSectors_ = 0;
    pos_ = 0;
    for (int c = areaChapter_; c < endChapter; ++c) {
        for (const DvdSectorRange& r : layout_[areaTitle_].chapters[c]) {
            if (!area_.empty() && area_.back().last + 1 == r.first) {
                area_.back().last = r.last;
            } else {
                area_.push_back(r);
                areaStarts_.push_back(areaSectors_);
            }
            areaSectors_ += r.Count();
        }
    }
}

int CDvdDisc::Read(std::uint8_t* buffer, int size) {
    if (areaTitle_ < 0 || !vob_ || !buffer || size < kDvdSectorSize) {
        DebugTrace("libDvd: Read: no area, no buffer or size %d below one sector\n", size);
        return -1;
    }
    std::uint64_t want = std::uint64_t(size) / kDvdSectorSize;
    int done = 0; // sectors delivered
    while (want > 0 && pos_ < areaSectors_) {
        // The range that holds pos_: the last one starting at or before it.
        auto it = std::upper_bound(areaStarts_.begin(), areaStarts_.end(), pos_);
        std::size_t i = std::size_t(it - areaStarts_.begin()) - 1;
        std::uint64_t into = pos_ - areaStarts_[i];
        std::uint64_t n = std::min(want, area_[i].Count() - into);
        std::uint64_t sector = area_[i].first + into;
        ssize_t got = DVDReadBlocks(vob_, int(sector), std::size_t(n),
                                    buffer + std::size_t(done) * kDvdSectorSize);
        if (got <= 0) {
            DebugTrace("libDvd: Read: sector %llu of VTS_%02d cannot be read\n",
                       (unsigned long long)sector, vobTitleSet_);
            return done > 0 ? done * kDvdSectorSize : -1;
        }
        pos_ += std::uint64_t(got);
        done += int(got);
        want -= std::uint64_t(got);
        if (std::uint64_t(got) < n) break; // short read: deliver what came
    }
    return done * kDvdSectorSize;
}

std::int64_t CDvdDisc::Seek(std::int64_t offset, int origin) {
    if (areaTitle_ < 0) {
        DebugTrace("libDvd: Seek: no area\n");
        return -1;
    }
    std::int64_t base;
    switch (origin) {
    case 0:
        base = 0;
        break;
    case 1:
        base = std::int64_t(pos_) * kDvdSectorSize;
        break;
    case 2:
        base = std::int64_t(areaSectors_) * kDvdSectorSize;
        break;
    default:
        DebugTrace("libDvd: Seek: origin %d\n", origin);
        return -1;
    }
    std::int64_t target = base + offset;
    if (target < 0) {
        DebugTrace("libDvd: Seek: %lld is before the area\n", (long long)target);
        return -1;
    }
    pos_ = std::min<std::uint64_t>(std::uint64_t(target) / kDvdSectorSize, areaSectors_);
    return std::int64_t(pos_) * kDvdSectorSize;
}
