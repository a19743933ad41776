// Byte ring of fixed capacity between the resampler and the output samples:
// written with whatever one input sample yields, read in output-buffer-sized
// pieces. Writes beyond the free space are cut (the caller decides how to
// avoid that). One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CAudioFifo {
public:
    explicit CAudioFifo(size_t capacity);

    // Appends min(n, Free()) bytes, wrapping at the end; returns that count.
    size_t Write(const uint8_t* data, size_t n);
    // Moves min(n, Count()) bytes out, wrapping likewise; returns that count.
    size_t Read(uint8_t* out, size_t n);
    void Clear();

    size_t Capacity() const { return capacity_; }
    size_t Count() const { return count_; }
    size_t Free() const { return capacity_ - count_; }

private:
    std::unique_ptr<uint8_t[]> ring_;
    size_t capacity_;
    size_t readPos_ = 0, writePos_ = 0, count_ = 0;
};
