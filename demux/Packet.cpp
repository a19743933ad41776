#include "demux/Packet.h"

#include <cstring>

void Packet::SetData(const void* bytes, std::size_t count) {
    data.resize(count);
    if (count) std::memcpy(data.data(), bytes, count);
}
