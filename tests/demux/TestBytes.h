// Small helpers for writing header bytes in tests: hex text and a bit writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MemoryAsyncReader.h"

// "00 00 01 BA 44" -> bytes (spaces ignored).
inline std::vector<std::uint8_t> Hex(const std::string& text) {
    std::vector<std::uint8_t> out;
    int hi = -1;
    for (char c : text) {
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (v < 0) continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

// Writes fields most significant bit first: Bits().Put(12, 720).Put(12, 480)...
class Bits {
public:
    Bits& Put(int count, std::uint64_t value) {
        for (int i = count - 1; i >= 0; --i) {
            acc_ = static_cast<std::uint8_t>((acc_ << 1) | ((value >> i) & 1));
            if (++n_ == 8) {
                bytes_.push_back(acc_);
                acc_ = 0;
                n_ = 0;
            }
        }
        return *this;
    }
    Bits& Bytes(const std::vector<std::uint8_t>& b) {
        for (std::uint8_t x : b)
            Put(8, x);
        return *this;
    }
    Bits& Zeros(int count) {
        for (int i = 0; i < count; ++i)
            Put(8, 0);
        return *this;
    }
    // Pads with zero bits to a byte boundary.
    std::vector<std::uint8_t> Done() {
        while (n_)
            Put(1, 0);
        return bytes_;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint8_t acc_ = 0;
    int n_ = 0;
};

inline ComPtr<MemoryAsyncReader> ReaderOf(const std::vector<std::uint8_t>& bytes) {
    return MemoryAsyncReader::Create(std::make_shared<const std::vector<std::uint8_t>>(bytes));
}
