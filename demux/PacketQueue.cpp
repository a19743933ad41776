#include "demux/PacketQueue.h"

#include <algorithm>
#include <chrono>

namespace {

bool CanMerge(const Packet& last, const Packet& p) {
    return p.appendable && !p.discontinuity && !p.mediaType && !p.HasTime() && last.HasTime();
}

} // namespace

void PacketQueue::Add(std::unique_ptr<Packet> packet) {
    {
        std::lock_guard lk(lock_);
        if (packet && !packets_.empty() && packets_.back() && CanMerge(*packets_.back(), *packet)) {
            auto& dst = packets_.back()->data;
            const auto& src = packet->data;
            std::size_t need = dst.size() + src.size();
            if (dst.capacity() < need)
                dst.reserve(std::max<std::size_t>({need, 1024, dst.capacity() * 2}));
            dst.insert(dst.end(), src.begin(), src.end());
            size_ += src.size();
        } else {
            if (packet) size_ += packet->GetDataSize();
            packets_.push_back(std::move(packet));
        }
    }
    // No wake-up here: the consumer polls, so that it drains packets in batches
    // instead of trading the processor with the producer for every packet.
}

bool PacketQueue::Remove(std::unique_ptr<Packet>* out) {
    std::lock_guard lk(lock_);
    if (packets_.empty()) return false;
    *out = std::move(packets_.front());
    packets_.pop_front();
    if (*out) size_ -= (*out)->GetDataSize();
    return true;
}

bool PacketQueue::WaitForPacket(int ms) {
    std::unique_lock lk(lock_);
    if (packets_.empty()) added_.wait_for(lk, std::chrono::milliseconds(ms));
    return !packets_.empty();
}

void PacketQueue::RemoveAll() {
    std::deque<std::unique_ptr<Packet>> dropped;
    {
        std::lock_guard lk(lock_);
        dropped.swap(packets_);
        size_ = 0;
    }
}

std::size_t PacketQueue::GetCount() const {
    std::lock_guard lk(lock_);
    return packets_.size();
}

std::size_t PacketQueue::GetSize() const {
    std::lock_guard lk(lock_);
    return size_;
}
