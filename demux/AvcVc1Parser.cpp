#include "demux/AvcVc1Parser.h"

#include "demux/BitstreamReader.h"
#include "demux/MpegDefs.h"

namespace {

struct Nal {
    std::size_t start; // first byte after the start code
    std::size_t end;   // one past the last byte
};

// Units in start-code form (00 00 01), trailing zero bytes trimmed.
std::vector<Nal> SplitStartCodes(const std::vector<std::uint8_t>& d) {
    std::vector<Nal> out;
    std::size_t n = d.size();
    std::size_t i = 0;
    auto isStart = [&](std::size_t k) {
        return k + 2 < n && d[k] == 0 && d[k + 1] == 0 && d[k + 2] == 1;
    };
    while (i < n && !isStart(i))
        ++i;
    while (i < n) {
        std::size_t s = i + 3, e = s;
        while (e < n && !isStart(e))
            ++e;
        std::size_t next = e;
        while (e > s && d[e - 1] == 0)
            --e;
        out.push_back({s, e});
        i = next;
    }
    return out;
}

// Removes emulation-prevention bytes (00 00 03 -> 00 00).
std::vector<std::uint8_t> Unescape(const std::uint8_t* p, std::size_t n) {
    std::vector<std::uint8_t> out;
    out.reserve(n);
    int zeros = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (zeros >= 2 && p[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = p[i] == 0 ? zeros + 1 : 0;
        out.push_back(p[i]);
    }
    return out;
}

void SkipScalingList(BitstreamReader& br, int size) {
    int last = 8, next = 8;
    for (int j = 0; j < size && !br.Overrun(); ++j) {
        if (next != 0) next = (last + br.ReadSe() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

bool ParseSps(const std::vector<std::uint8_t>& rbsp, AvcHeader& h) {
    BitstreamReader br(rbsp.data(), rbsp.size());
    br.Skip(8); // NAL header
    h.profile = static_cast<int>(br.Read(8));
    br.Skip(8); // constraint flags
    h.level = static_cast<int>(br.Read(8));
    if (br.ReadUe() > 31) return false;
    int chroma = 1;
    switch (h.profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
    case 144:
        chroma = static_cast<int>(br.ReadUe());
        if (chroma > 3) return false;
        if (chroma == 3) br.Skip(1);
        br.ReadUe(); // bit depth luma
        br.ReadUe(); // bit depth chroma
        br.Skip(1);
        if (br.Read(1)) {
            for (int i = 0; i < (chroma == 3 ? 12 : 8); ++i)
                if (br.Read(1)) SkipScalingList(br, i < 6 ? 16 : 64);
        }
        break;
    default:
        break;
    }
    br.ReadUe(); // log2 max frame num
    std::uint32_t pocType = br.ReadUe();
    if (pocType == 0) {
        br.ReadUe();
    } else if (pocType == 1) {
        br.Skip(1);
        br.ReadSe();
        br.ReadSe();
        std::uint32_t cycle = br.ReadUe();
        if (cycle > 255) return false;
        for (std::uint32_t i = 0; i < cycle; ++i)
            br.ReadSe();
    } else if (pocType > 2) {
        return false;
    }
    br.ReadUe(); // max ref frames
    br.Skip(1);
    std::uint32_t wMbs = br.ReadUe() + 1;
    std::uint32_t hMaps = br.ReadUe() + 1;
    int frameMbsOnly = static_cast<int>(br.Read(1));
    if (!frameMbsOnly) br.Skip(1);
    br.Skip(1);
    std::uint32_t cropL = 0, cropR = 0, cropT = 0, cropB = 0;
    if (br.Read(1)) {
        cropL = br.ReadUe();
        cropR = br.ReadUe();
        cropT = br.ReadUe();
        cropB = br.ReadUe();
    }
    if (wMbs > 1024 || hMaps > 1024) return false;
    int cropX = chroma == 1 || chroma == 2 ? 2 : 1;
    int cropY = (chroma == 1 ? 2 : 1) * (2 - frameMbsOnly);
    long long w = 16LL * wMbs - cropX * (long long)(cropL + cropR);
    long long ht = 16LL * hMaps * (2 - frameMbsOnly) - cropY * (long long)(cropT + cropB);
    if (w <= 0 || ht <= 0) return false;
    h.width = static_cast<int>(w);
    h.height = static_cast<int>(ht);
    if (br.Read(1)) { // VUI
        if (br.Read(1) && br.Read(8) == 255) br.Skip(32);
        if (br.Read(1)) br.Skip(1);
        if (br.Read(1)) {
            br.Skip(4);
            if (br.Read(1)) br.Skip(24);
        }
        if (br.Read(1)) {
            br.ReadUe();
            br.ReadUe();
        }
        if (br.Read(1)) {
            std::uint32_t units = br.Read(32);
            std::uint32_t scale = br.Read(32);
            if (units && scale && !br.Overrun())
                h.avgTimePerFrame = 2LL * units * mpeg::kUnitsPerSecond / scale;
        }
    }
    return !br.Overrun();
}

void AppendSized(std::vector<std::uint8_t>& out, const std::uint8_t* p, std::size_t n) {
    if (n > 0xFFFF) return;
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), p, p + n);
}

} // namespace

bool ParseAvcParameterSets(const std::vector<std::uint8_t>& data, AvcHeader& h) {
    h = {};
    bool sps = false, pps = false;
    std::vector<std::uint8_t> spsBytes, ppsBytes;
    for (const Nal& nal : SplitStartCodes(data)) {
        if (nal.end <= nal.start) continue;
        int type = data[nal.start] & 0x1F;
        if (type == 7 && !sps) {
            AvcHeader parsed;
            if (!ParseSps(Unescape(&data[nal.start], nal.end - nal.start), parsed)) continue;
            h.profile = parsed.profile;
            h.level = parsed.level;
            h.width = parsed.width;
            h.height = parsed.height;
            h.avgTimePerFrame = parsed.avgTimePerFrame;
            AppendSized(spsBytes, &data[nal.start], nal.end - nal.start);
            sps = true;
        } else if (type == 8 && !pps) {
            AppendSized(ppsBytes, &data[nal.start], nal.end - nal.start);
            pps = true;
        }
        if (sps && pps) break;
    }
    if (!sps || !pps) return false;
    h.parameterSets = spsBytes;
    h.parameterSets.insert(h.parameterSets.end(), ppsBytes.begin(), ppsBytes.end());
    return true;
}

bool ParseVc1SequenceHeader(const std::vector<std::uint8_t>& data, Vc1Header& h) {
    h = {};
    std::vector<Nal> units = SplitStartCodes(data);
    for (std::size_t u = 0; u < units.size(); ++u) {
        const Nal& nal = units[u];
        if (nal.end <= nal.start || data[nal.start] != 0x0F) continue;
        std::vector<std::uint8_t> rbsp = Unescape(&data[nal.start + 1], nal.end - nal.start - 1);
        BitstreamReader br(rbsp.data(), rbsp.size());
        h.profile = static_cast<int>(br.Read(2));
        if (h.profile != 3) continue; // only the advanced profile has this header
        h.level = static_cast<int>(br.Read(3));
        br.Skip(2 + 3 + 5 + 1); // colour format, frame/bit-rate quantisers, post-processing
        h.width = static_cast<int>(br.Read(12) + 1) * 2;
        h.height = static_cast<int>(br.Read(12) + 1) * 2;
        br.Skip(1); // pulldown
        h.interlaced = br.Read(1);
        br.Skip(4);       // frame counter, interpolation, reserved, progressive segmented frame
        if (br.Read(1)) { // display extension
            br.Skip(28);
            if (br.Read(1) && br.Read(4) == 15) br.Skip(16);
            if (br.Read(1)) {
                if (br.Read(1) == 0) {
                    static constexpr int kNr[8] = {0,     24000, 25000, 30000,
                                                   50000, 60000, 48000, 72000};
                    std::uint32_t nr = br.Read(8), dr = br.Read(4);
                    if (nr >= 1 && nr <= 7 && (dr == 1 || dr == 2))
                        h.avgTimePerFrame =
                            mpeg::kUnitsPerSecond * (dr == 1 ? 1000 : 1001) / kNr[nr];
                } else {
                    std::uint32_t exp = br.Read(16);
                    h.avgTimePerFrame = mpeg::kUnitsPerSecond * 32 / (exp + 1);
                }
            }
        }
        if (br.Overrun()) return false;
        // Raw bytes: the sequence header and a following entry point, with start codes.
        std::size_t end = nal.end;
        if (u + 1 < units.size() && units[u + 1].end > units[u + 1].start &&
            data[units[u + 1].start] == 0x0E)
            end = units[u + 1].end;
        h.raw.assign(data.begin() + static_cast<long>(nal.start - 3),
                     data.begin() + static_cast<long>(end));
        return true;
    }
    return false;
}
