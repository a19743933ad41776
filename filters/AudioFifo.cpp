#include "filters/AudioFifo.h"

#include <algorithm>
#include <cstring>

CAudioFifo::CAudioFifo(size_t capacity) : ring_(new uint8_t[capacity]), capacity_(capacity) {}

size_t CAudioFifo::Write(const uint8_t* data, size_t n) {
    n = std::min(n, Free());
    if (n == 0) return 0;
    size_t first = std::min(n, capacity_ - writePos_);
    std::memcpy(ring_.get() + writePos_, data, first);
    std::memcpy(ring_.get(), data + first, n - first);
    writePos_ = (writePos_ + n) % capacity_;
    count_ += n;
    return n;
}

size_t CAudioFifo::Read(uint8_t* out, size_t n) {
    n = std::min(n, count_);
    if (n == 0) return 0;
    size_t first = std::min(n, capacity_ - readPos_);
    std::memcpy(out, ring_.get() + readPos_, first);
    std::memcpy(out + first, ring_.get(), n - first);
    readPos_ = (readPos_ + n) % capacity_;
    count_ -= n;
    return n;
}

void CAudioFifo::Clear() { readPos_ = writePos_ = count_ = 0; }
