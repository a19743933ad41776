// PacketQueue: the packets waiting on one output pin, with the total of their
// payload bytes. A null packet stands for end of stream. Adding an appendable
// packet without time, media type or discontinuity merges its bytes into the
// last queued packet when that one has a start time, so untimed continuation
// payloads travel with the packet they continue.
//
// Threads: filled by the splitter's worker thread, drained by the pin's
// delivery thread, counted by anyone; every call takes the queue's own lock.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

#include "demux/Packet.h"

class PacketQueue {
public:
    // Takes ownership; null queues end of stream.
    void Add(std::unique_ptr<Packet> packet);
    // Moves the head packet into *out (null for end of stream); false when empty.
    bool Remove(std::unique_ptr<Packet>* out);
    // When empty, waits `ms` milliseconds (the consumer's poll); true when a
    // packet is queued.
    bool WaitForPacket(int ms);
    void RemoveAll();
    std::size_t GetCount() const;
    std::size_t GetSize() const; // payload bytes

private:
    mutable std::mutex lock_;
    std::condition_variable added_;
    // -- protected by lock_
    std::deque<std::unique_ptr<Packet>> packets_;
    std::size_t size_ = 0;
};
