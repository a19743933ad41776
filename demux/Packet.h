// Packet: one demultiplexed payload on its way from the splitter's worker
// thread to an output pin's delivery thread. Created on the heap and owned by
// whoever holds it (a std::unique_ptr); the queue owns it while it waits.
// Times are 100-ns units; kNoTime (the minimum 64-bit value) means "no time".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/dshow/MediaType.h"

class Packet {
public:
    static constexpr REFERENCE_TIME kNoTime = INT64_MIN;

    Packet() = default;
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;
    virtual ~Packet() = default;

    // Bytes of payload (what the queue counts).
    virtual std::size_t GetDataSize() const { return data.size(); }
    void SetData(const void* bytes, std::size_t count);
    bool HasTime() const { return start != kNoTime; }

    std::vector<std::uint8_t> data;
    std::uint32_t track = 0; // stream identifier that selects the output pin
    bool discontinuity = false;
    bool syncPoint = false;
    bool appendable = false; // may be merged into the previous queued packet
    REFERENCE_TIME start = kNoTime;
    REFERENCE_TIME stop = kNoTime;
    // A new media type announced with this packet (freed with it), or null.
    std::unique_ptr<CMediaType> mediaType;
};
