// dvdconv convert DISC [--titles 1,3 | --all] [--profile NAME|INDEX] [--out DIR] [--merge]
//   [--start HH:MM:SS --length HH:MM:SS] [--crop L,T,R,B] [--aspect keep|full|16:9|4:3]
//   [--brightness N --saturation N --hue N --volume N] [--audio ID] [--subtitle ID|none]
//   [--cpu-usage PERCENT] [--overwrite]
//
// Converts titles of a disc with the same batch run as the window: one file
// per title named "Title_NN" plus the profile's extension (one file for all
// with --merge), a progress line on the terminal, a summary of the files
// written and of what failed, and exit status 1 when any title failed.
// Defaults: every title of at least 3 s, the default profile, the configured
// output folder and CPU usage. Titles count from 1.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/StartupState.h"
#include "app/TitleListText.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"
#include "convert/ConversionBatch.h"
#include "convert/ConversionGraph.h"
#include "platform/dvd/LibDvd.h"
#include "platform/win/DataFiles.h"
#include "platform/win/TextConvert.h"
#include "profiles/ProfileCatalogue.h"
#include "sink/OutputFileWriter.h"

namespace fs = std::filesystem;

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

// "HH:MM:SS", "MM:SS" or seconds, each part may carry a fraction; ms.
bool ParseClock(const std::optional<std::string>& text, double* ms) {
    if (!text) return true;
    double total = 0;
    int parts = 0;
    std::stringstream in(*text);
    std::string part;
    while (std::getline(in, part, ':')) {
        char* end = nullptr;
        double v = std::strtod(part.c_str(), &end);
        if (part.empty() || *end || v < 0 || ++parts > 3) return false;
        total = total * 60 + v;
    }
    if (parts == 0) return false;
    *ms = total * 1000.0;
    return true;
}

bool ParseInt(const std::string& text, long lo, long hi, long* out, int base = 10) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, base);
    if (text.empty() || *end || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool ParseList(const std::string& text, std::vector<long>& out, long lo, long hi) {
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        long v;
        if (!ParseInt(part, lo, hi, &v)) return false;
        out.push_back(v);
    }
    return !out.empty();
}

std::string Clock(std::int64_t ms) {
    if (ms < 0) return "--:--:--";
    std::int64_t s = ms / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", int(s / 3600), int(s / 60 % 60), int(s % 60));
    return buf;
}

bool FindProfile(const ProfileCatalogue& catalogue, const std::string& wanted, OutputProfile& out) {
    long index;
    if (ParseInt(wanted, 0, 1 << 30, &index)) return catalogue.FindByIndex(std::int32_t(index), out);
    bool found = false;
    catalogue.Lock();
    for (auto* n = catalogue.First(); n; n = catalogue.Next(n))
        if (Utf16ToUtf8(TextOf(n->profile.ProfileName)) == wanted) {
            out = n->profile;
            found = true;
            break;
        }
    catalogue.Unlock();
    return found;
}

bool DefaultProfileOf(const ProfileCatalogue& catalogue, OutputProfile& out) {
    if (catalogue.FindByIndex(1, out)) return true;
    catalogue.Lock();
    const auto* first = catalogue.First();
    if (first) out = first->profile;
    catalogue.Unlock();
    return first != nullptr;
}

struct Options {
    std::string disc;
    std::vector<long> titles; // from 1; empty: every listed title
    std::optional<std::string> profile, out;
    bool merge = false, overwrite = false;
    double startMs = 0, lengthMs = -1;
    PictureSettings picture;
    int audioId = -1, subtitleId = -1;
    std::optional<long> cpuUsage;
};

int Parse(const CommandArgs& args, Options& o) {
    CliOptions opts("convert", args);
    auto titles = opts.Value("--titles");
    bool all = opts.Flag("--all");
    o.profile = opts.Value("--profile");
    o.out = opts.Value("--out");
    o.merge = opts.Flag("--merge");
    auto start = opts.Value("--start"), length = opts.Value("--length");
    auto crop = opts.Value("--crop"), aspect = opts.Value("--aspect");
    auto brightness = opts.Value("--brightness"), saturation = opts.Value("--saturation");
    auto hue = opts.Value("--hue"), volume = opts.Value("--volume");
    auto audio = opts.Value("--audio"), subtitle = opts.Value("--subtitle");
    auto cpu = opts.Value("--cpu-usage");
    o.overwrite = opts.Flag("--overwrite");
    auto disc = opts.Positional();
    if (opts.HasError() || !opts.Finish()) return opts.ReportErrors();
    if (!disc) return opts.UsageError("missing DISC");
    o.disc = *disc;
    if (titles && all) return opts.UsageError("--titles and --all exclude each other");
    if (titles && !ParseList(*titles, o.titles, 1, 99))
        return opts.UsageError("--titles wants title numbers from 1, such as 1,3");
    if (!ParseClock(start, &o.startMs)) return opts.UsageError("--start wants HH:MM:SS");
    if (!ParseClock(length, &o.lengthMs)) return opts.UsageError("--length wants HH:MM:SS");
    if (crop) {
        std::vector<long> c;
        if (!ParseList(*crop, c, 0, 4096) || c.size() != 4)
            return opts.UsageError("--crop wants the picture rectangle L,T,R,B in source pixels (8,0,712,480)");
        o.picture.cropLeft = std::int32_t(c[0]);
        o.picture.cropTop = std::int32_t(c[1]);
        o.picture.cropRight = std::int32_t(c[2]);
        o.picture.cropBottom = std::int32_t(c[3]);
    }
    if (aspect) {
        const char* names[] = {"keep", "full", "16:9", "4:3"};
        int mode = -1;
        for (int i = 0; i < 4; ++i)
            if (*aspect == names[i]) mode = i;
        if (mode < 0) return opts.UsageError("--aspect wants keep, full, 16:9 or 4:3");
        o.picture.aspectMode = mode;
    }
    struct Range {
        const std::optional<std::string>& text;
        const char* name;
        long lo, hi;
        std::int32_t* field;
    } ranges[] = {{brightness, "--brightness", 0, 256, &o.picture.lumaGain},
                  {saturation, "--saturation", 0, 128, &o.picture.saturation},
                  {hue, "--hue", -180, 180, &o.picture.hue},
                  {volume, "--volume", 0, 1024, &o.picture.volume}};
    for (const Range& r : ranges) {
        long v;
        if (!r.text) continue;
        if (!ParseInt(*r.text, r.lo, r.hi, &v))
            return opts.UsageError(std::string(r.name) + " wants a number from " +
                                   std::to_string(r.lo) + " to " + std::to_string(r.hi));
        *r.field = std::int32_t(v);
    }
    long id;
    if (audio) {
        if (!ParseInt(*audio, 0, 0xFFFF, &id, 0)) return opts.UsageError("--audio wants a stream id such as 0xBD80");
        o.audioId = int(id);
    }
    if (subtitle && *subtitle != "none") {
        if (!ParseInt(*subtitle, 0, 0xFFFF, &id, 0))
            return opts.UsageError("--subtitle wants a stream id such as 0xBD20, or none");
        o.subtitleId = int(id);
    }
    if (cpu) {
        if (!ParseInt(*cpu, 1, 100, &id)) return opts.UsageError("--cpu-usage wants a percentage from 1 to 100");
        o.cpuUsage = id;
    }
    return 0;
}

void PrintProgress(const BatchProgress& p, const std::vector<BatchItem>& items, bool merge) {
    if (p.itemIndex < 0 || p.itemIndex >= int(items.size())) return;
    const int width = 30;
    int filled = int(p.batchFraction * width + 0.5);
    std::string bar(size_t(filled), '#');
    bar.resize(width, '.');
    std::string name = merge ? fs::path(p.outputPath).filename().string() + " (" +
                                   items[size_t(p.itemIndex)].outputName + ")"
                             : items[size_t(p.itemIndex)].outputName;
    std::fprintf(stderr, "\r[%s] %s %3d%% | batch %3d%% | elapsed %s | remaining %s%s  ", bar.c_str(),
                 name.c_str(), int(p.itemFraction * 100), int(p.batchFraction * 100),
                 Clock(std::int64_t(p.batchElapsedMs)).c_str(), Clock(p.batchRemainingMs).c_str(),
                 p.paused ? " (paused)" : "");
    std::fflush(stderr);
}

} // namespace

int RunConvertCommand(const CommandArgs& args) {
    Options o;
    if (int rc = Parse(args, o)) return rc;

    StartupState state;
    state.ReadSetXml();
    state.ReadSettings();
    ProfileCatalogue catalogue;
    if (!catalogue.Load(FindDataFile("Format.xml"))) {
        std::fprintf(stderr, "Load Format.xml error\n");
        return 1;
    }
    OutputProfile profile = EmptyProfile();
    if (o.profile ? !FindProfile(catalogue, *o.profile, profile) : !DefaultProfileOf(catalogue, profile)) {
        std::fprintf(stderr, "dvdconv convert: no profile %s (see dvdconv profiles)\n",
                     o.profile ? o.profile->c_str() : "in the catalogue");
        return 1;
    }
    const std::string ext = Utf16ToUtf8(TextOf(profile.FormatExt));
    const std::string outDir = o.out ? *o.out : Utf16ToUtf8(state.settings.strOutFolder);
    std::error_code ec;
    // A folder named on the command line is made when it does not exist yet.
    if (o.out && !outDir.empty() && !fs::exists(outDir, ec)) fs::create_directories(outDir, ec);
    if (outDir.empty() || !fs::is_directory(outDir, ec)) {
        std::fprintf(stderr, "Invalid output directory: %s\n", outDir.c_str());
        return 1;
    }

    DvdHandle dvd = MyDVDOpen(o.disc.c_str());
    if (!dvd) {
        std::fprintf(stderr, "Open DVD error: %s\n", o.disc.c_str());
        return 1;
    }
    auto info = std::make_unique<DvdDiscInfo>();
    MyDVDGetInfo(dvd, info.get());

    std::vector<BatchItem> items;
    std::vector<long> titles = o.titles;
    if (titles.empty())
        for (int t = 0; t < info->titleCount; ++t)
            if (TitleListText::IsListed(info->titles[t])) titles.push_back(t + 1);
    for (long t : titles) {
        if (t > info->titleCount) {
            std::fprintf(stderr, "dvdconv convert: no title %ld on this disc (%d titles)\n", t,
                         info->titleCount);
            MyDVDClose(dvd);
            return 1;
        }
        const double lengthMs = info->titles[t - 1].durationMs;
        BatchItem item;
        item.outputName = TitleListText::ItemName(int(t - 1)) + ext;
        item.task.titleIndex = int(t - 1);
        item.task.titleLengthMs = lengthMs;
        item.task.trimStartMs = std::min(o.startMs, lengthMs);
        double rest = lengthMs - item.task.trimStartMs;
        item.task.trimLengthMs = o.lengthMs < 0 ? rest : std::min(o.lengthMs, rest);
        item.task.picture = o.picture;
        items.push_back(item);
    }
    if (items.empty()) {
        std::fprintf(stderr, "dvdconv convert: no title to convert\n");
        MyDVDClose(dvd);
        return 1;
    }

    int rc = 0;
    {
        ConversionGraph graph;
        graph.SetDisc(dvd, info.get());
        graph.SetStreamChoice(o.audioId, o.subtitleId);
        const long cpu = o.cpuUsage ? *o.cpuUsage : long(state.settings.cpu_usage);
        graph.SetEncoderThreads(OutputFileWriter::ThreadsForCpuUsage(
            int(cpu), int(std::thread::hardware_concurrency())));
        ConversionBatch batch(graph);
        batch.SetItems(items);
        batch.SetProfile(profile.EncodeParams);
        batch.SetOutputFolder(outDir);
        batch.SetMerge(o.merge);
        batch.SetOverwrite(o.overwrite);
        if (!o.overwrite) {
            std::vector<std::string> existing;
            for (const auto& p : batch.PlannedPaths())
                if (fs::exists(p, ec)) existing.push_back(p);
            if (!existing.empty()) {
                for (const auto& p : existing)
                    std::fprintf(stderr, "dvdconv convert: %s exists; --overwrite replaces it\n", p.c_str());
                MyDVDClose(dvd);
                return 1;
            }
        }
        const bool tty = isatty(STDERR_FILENO);
        auto previous = std::signal(SIGINT, OnInterrupt);
        batch.RunToEnd([&](const BatchProgress& p) {
            if (g_interrupted) batch.RequestCancel();
            if (tty) PrintProgress(p, items, o.merge);
        });
        std::signal(SIGINT, previous);
        if (tty) std::fprintf(stderr, "\n");

        for (const auto& f : batch.WrittenFiles()) std::printf("written: %s\n", f.c_str());
        int failed = 0, cancelled = 0;
        for (const auto& r : batch.Results()) {
            using S = BatchItemResult::Status;
            if (r.status == S::Failed) ++failed, std::printf("failed: %s: %s\n", r.outputName.c_str(), r.reason.c_str());
            if (r.status == S::Skipped) std::printf("skipped: %s: %s\n", r.outputName.c_str(), r.reason.c_str());
            if (r.status == S::Cancelled) ++cancelled, std::printf("cancelled: %s\n", r.outputName.c_str());
        }
        std::printf("%zu file(s) written, %d title(s) failed%s\n", batch.WrittenFiles().size(), failed,
                    cancelled ? ", cancelled" : "");
        rc = failed || cancelled ? 1 : 0;
    }
    MyDVDClose(dvd);
    return rc;
}
