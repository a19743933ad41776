// An in-memory CAsyncStream for the request-queue tests: byte i holds
// (i * 7 + i / 251) & 0xFF, reads can be held at a gate or slowed down, and
// reads past a "hole" offset come back short, as a failing disc would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "source/CAsyncStream.h"

class FakeStream : public CAsyncStream {
public:
    explicit FakeStream(LONGLONG size, DWORD alignment = 1) : size_(size), alignment_(alignment) {}

    static BYTE ByteAt(LONGLONG i) { return static_cast<BYTE>((i * 7 + i / 251) & 0xFF); }

    // While closed, every read waits at the gate.
    void CloseGate() {
        std::lock_guard l(m_);
        gateOpen_ = false;
    }
    void OpenGate() {
        {
            std::lock_guard l(m_);
            gateOpen_ = true;
        }
        cv_.notify_all();
    }
    // Waits until `n` reads have started; false after 10 s.
    bool WaitForReadsStarted(int n) {
        std::unique_lock l(m_);
        return cv_.wait_for(l, std::chrono::seconds(10), [&] { return started_ >= n; });
    }
    int ReadsStarted() {
        std::lock_guard l(m_);
        return started_;
    }
    // Every read takes this long, like a slow drive.
    void SetReadDelay(std::chrono::milliseconds d) {
        std::lock_guard l(m_);
        delay_ = d;
    }
    // Reads stop at this offset (they copy what lies before it).
    void SetHole(LONGLONG at) {
        std::lock_guard l(m_);
        hole_ = at;
    }

    HRESULT SetPointer(LONGLONG pos) override {
        std::lock_guard l(m_);
        if (pos < 0) return E_FAIL;
        pos_ = pos;
        return S_OK;
    }
    HRESULT Read(BYTE* dest, DWORD count, BOOL, DWORD* read) override {
        std::unique_lock l(m_);
        ++started_;
        cv_.notify_all();
        cv_.wait(l, [&] { return gateOpen_; });
        if (delay_.count() > 0) {
            l.unlock();
            std::this_thread::sleep_for(delay_);
            l.lock();
        }
        const LONGLONG end = std::min(size_, hole_);
        const LONGLONG n = std::max<LONGLONG>(0, std::min<LONGLONG>(count, end - pos_));
        for (LONGLONG i = 0; i < n; ++i) dest[i] = ByteAt(pos_ + i);
        pos_ += n;
        if (read) *read = static_cast<DWORD>(n);
        return n > 0 ? S_OK : E_FAIL;
    }
    LONGLONG Size(LONGLONG* available) override {
        if (available) *available = size_;
        return size_;
    }
    DWORD Alignment() override { return alignment_; }
    void Lock() override { lock_.lock(); }
    void Unlock() override { lock_.unlock(); }

private:
    const LONGLONG size_;
    const DWORD alignment_;
    std::recursive_mutex lock_;
    std::mutex m_;
    std::condition_variable cv_;
    // -- guarded by m_
    LONGLONG pos_ = 0;
    LONGLONG hole_ = INT64_MAX;
    bool gateOpen_ = true;
    int started_ = 0;
    std::chrono::milliseconds delay_{0};
};
