// Fuzz target: container detection and stream scanning over arbitrary bytes, then
// the demultiplexer's packet loop (start codes, pack/system/PES headers, stream
// classification), time-stamp search and the stream descriptions.
//
// The first byte chooses options: bit 0 a streaming source, bit 1 a title table
// that declares audio and subtitle streams, bit 2 the Blu-ray flag.
#include <cstdint>
#include <memory>
#include <vector>

#include "demux/CMpegSplitterFile.h"
#include "demux/MemoryAsyncReader.h" // tests/demux
#include "demux/StreamDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t options = data[0];
    auto reader = MemoryAsyncReader::Create(data + 1, size - 1);
    reader->SetStreaming(options & 1);
    TitleStreamTable titles;
    if (options & 2) {
        titles.audioCount = 2;
        titles.audioIds[0] = 0xBD80;
        titles.audioIds[1] = 0xC000;
        titles.subtitleCount = 1;
        titles.subtitleIds[0] = 0xBD20;
    }
    HRESULT hr = E_FAIL;
    CMpegSplitterFile file(reader, hr, (options & 4) != 0, nullptr, &titles);
    if (FAILED(hr)) return 0;

    for (int k = 0; k < CMpegSplitterFile::kStreamKinds; ++k)
        for (const auto& s : file.Streams(static_cast<CMpegSplitterFile::StreamKind>(k)))
            (void)StreamDescription(s.mt, nullptr, 0);
    if (const auto* primary = file.PrimaryStreamList()) {
        file.Seek(0);
        (void)file.FindNextTimestamp(primary->front().Id());
    }

    // The demultiplexer's loop over the whole input.
    file.Seek(0);
    for (int turns = 0; file.GetRemaining() > 0 && turns < 100000; ++turns) {
        std::int64_t before = file.GetPos();
        BYTE code = 0;
        if (file.GetContainerType() == CMpegSplitterFile::kTransportStream) {
            TsHeader h;
            if (file.ReadTsHeader(h, true)) {
                file.UpdatePrograms(h);
                if (h.payloadStart && h.pid >= 16 && h.pid <= 8190) {
                    std::int64_t start = file.GetPos();
                    PesHeader pes;
                    if (file.FindStartCode(code, 4) && file.ReadPesHeader(pes, code)) {
                        std::int64_t left = h.payloadBytes - (file.GetPos() - start);
                        file.ClassifyStream(h.pid, code, left > 0 ? left : 0);
                    }
                }
                file.Seek(h.next);
            }
        } else if (file.GetContainerType() == CMpegSplitterFile::kPva) {
            PvaHeader h;
            if (!file.ReadPvaHeader(h, true)) break;
            file.Seek(file.GetPos() + h.length);
        } else if (file.FindStartCode(code, 65536)) {
            if (code == 0xBA) {
                PackHeader h;
                file.ReadPackHeader(h);
            } else if (code == 0xBB) {
                SystemHeader h;
                file.ReadSystemHeader(h);
            } else if (code >= 0xBD && code <= 0xEF) {
                PesHeader h;
                if (file.ReadPesHeader(h, code) && h.length > 0) {
                    std::int64_t payload = file.GetPos();
                    file.ClassifyStream(0, code, h.length);
                    file.Seek(payload + h.length);
                }
            }
        }
        if (file.GetPos() <= before) file.Seek(before + 1);
    }
    return 0;
}
