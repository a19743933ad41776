#include "demux/BitstreamReader.h"

std::uint32_t BitstreamReader::Read(int count) {
    std::uint32_t v = 0;
    for (int i = 0; i < count; ++i) {
        std::uint32_t bit = 0;
        if (bit_ < size_ * 8) {
            bit = (data_[bit_ / 8] >> (7 - bit_ % 8)) & 1;
            ++bit_;
        } else {
            overrun_ = true;
        }
        v = (v << 1) | bit;
    }
    return v;
}

std::uint32_t BitstreamReader::ReadUe() {
    int zeros = 0;
    while (Read(1) == 0) {
        if (overrun_ || ++zeros > 31) {
            overrun_ = true;
            return 0;
        }
    }
    if (zeros == 0) return 0;
    return ((1u << zeros) - 1) + Read(zeros);
}

std::int32_t BitstreamReader::ReadSe() {
    std::uint32_t k = ReadUe();
    std::int32_t v = static_cast<std::int32_t>((k + 1) / 2);
    return (k & 1) ? v : -v;
}
