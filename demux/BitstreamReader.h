// Bit reader over a byte array in memory, for parameter sets that have been
// copied out of the stream. Reads past the end yield zero bits and set the
// overrun flag instead of touching memory beyond the array.
#pragma once

#include <cstddef>
#include <cstdint>

class BitstreamReader {
public:
    BitstreamReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    // Next `count` bits (0..32), most significant first.
    std::uint32_t Read(int count);
    void Skip(int count) { (void)Read(count); }
    // Exp-Golomb codes; more than 31 leading zeros marks an overrun and gives 0.
    std::uint32_t ReadUe();
    std::int32_t ReadSe();
    bool Overrun() const { return overrun_; }
    std::size_t BitPos() const { return bit_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t bit_ = 0;
    bool overrun_ = false;
};
