// Fuzz target: every header reader on arbitrary bytes, with the media type built
// and described. The first byte chooses the reader, the second the byte budget
// (as a fraction of the input), the rest is the input.
#include <cstdint>

#include "demux/CBaseSplitterFileEx.h"
#include "demux/MemoryAsyncReader.h" // tests/demux
#include "demux/StreamDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int which = data[0] % 18;
    const std::int64_t budget = static_cast<std::int64_t>((size - 2) * data[1] / 255);
    auto reader = MemoryAsyncReader::Create(data + 2, size - 2);
    HRESULT hr = E_FAIL;
    CBaseSplitterFileEx file(reader, hr, (data[1] & 1) ? 65536 : 4096, false, true);
    if (FAILED(hr)) return 0;
    CMediaType mt;
    BYTE code = 0;
    switch (which) {
    case 0:
        file.FindStartCode(code, budget);
        break;
    case 1: {
        PackHeader h;
        file.ReadPackHeader(h);
        break;
    }
    case 2: {
        SystemHeader h;
        file.ReadSystemHeader(h);
        break;
    }
    case 3: {
        PesHeader h;
        file.ReadPesHeader(h, static_cast<BYTE>(0xBD + data[1] % 0x40));
        break;
    }
    case 4: {
        TsHeader h;
        file.ReadTsHeader(h, data[1] & 2);
        break;
    }
    case 5: {
        PsiHeader h;
        file.ReadPsiHeader(h);
        break;
    }
    case 6: {
        PvaHeader h;
        file.ReadPvaHeader(h, data[1] & 2);
        break;
    }
    case 7: {
        SeqHeader h;
        file.ReadSeqHeader(h, budget, &mt);
        break;
    }
    case 8: {
        MpegAudioHeader h;
        file.ReadMpegAudioHeader(h, budget, data[1] & 2, &mt);
        break;
    }
    case 9: {
        AacHeader h;
        file.ReadAacHeader(h, budget, &mt);
        break;
    }
    case 10: {
        Ac3Header h;
        file.ReadAc3Header(h, budget, &mt);
        break;
    }
    case 11: {
        DtsHeader h;
        file.ReadDtsHeader(h, budget, &mt);
        break;
    }
    case 12: {
        LpcmHeader h;
        file.ReadLpcmHeader(h, &mt);
        break;
    }
    case 13: {
        HdmvLpcmHeader h;
        file.ReadHdmvLpcmHeader(h, &mt);
        break;
    }
    case 14: {
        Ps2AudioHeader h;
        file.ReadPs2AudioHeader(h, budget, &mt);
        break;
    }
    case 15: {
        AvcHeader h;
        file.ReadAvcHeader(h, budget, &mt);
        break;
    }
    case 16: {
        Vc1Header h;
        file.ReadVc1Header(h, budget, &mt);
        break;
    }
    case 17: {
        // Bit reader primitives in a row.
        for (int i = 0; i < 64 && file.GetRemaining() > 0; ++i) {
            file.ReadBits(1 + (data[1] + i) % 64, i & 1);
            if (i % 7 == 0) file.ReadSignedExpGolomb();
            if (i % 11 == 0) file.AlignToByte();
        }
        break;
    }
    }
    (void)StreamDescription(mt, nullptr, data[1]);
    return 0;
}
