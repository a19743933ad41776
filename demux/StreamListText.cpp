#include "demux/StreamListText.h"

#include <cstdio>

#include "demux/CMpegSplitterFile.h"
#include "demux/StreamDescription.h"
#include "platform/com/Guid.h"

std::string StreamListText(const CMpegSplitterFile& file) {
    char line[512];
    std::string out;
    std::snprintf(line, sizeof line, "container: %s\nrate: %d bytes/s\n",
                  CMpegSplitterFile::ContainerTypeName(file.GetContainerType()), file.GetRate());
    out += line;
    if (file.EarliestPts() != mpeg::kPtsUnset) {
        std::snprintf(line, sizeof line, "time span: %.3f s (first PTS %.3f s)\n",
                      file.ScannedDuration() / 1e7, file.EarliestPts() / 1e7);
        out += line;
    }
    static const char* kKinds[] = {"video", "audio", "subtitle"};
    for (int k = 0; k < CMpegSplitterFile::kStreamKinds; ++k) {
        for (const auto& s : file.Streams(static_cast<CMpegSplitterFile::StreamKind>(k))) {
            std::string description = StreamDescription(s.mt);
            if (description.empty())
                description = CMpegSplitterFile::StreamKindName(
                    static_cast<CMpegSplitterFile::StreamKind>(k));
            std::snprintf(line, sizeof line, "%-8s %04x (%04x,%02x,%02x) %s [%s]\n", kKinds[k],
                          static_cast<unsigned>(s.Id()), s.pid, s.pesid, s.ps1id,
                          description.c_str(), GuidToString(s.mt.subtype).c_str());
            out += line;
        }
    }
    return out;
}
