#include "sink/FrameQueue.h"

#include <algorithm>

extern "C" {
#include <libavutil/frame.h>
}

FrameQueue::FrameQueue(std::size_t depth) : m_depth(std::max<std::size_t>(depth, 1)) {}

FrameQueue::~FrameQueue() {
    std::lock_guard<std::mutex> lock(m_lock);
    DropAllLocked();
}

void FrameQueue::DropAllLocked() {
    for (AVFrame* f : m_frames) av_frame_free(&f);
    m_frames.clear();
}

bool FrameQueue::Push(AVFrame* frame) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this] { return m_frames.size() < m_depth || m_finished || m_aborted; });
    if (m_finished || m_aborted) {
        av_frame_free(&frame);
        return false;
    }
    m_frames.push_back(frame);
    m_changed.notify_all();
    return true;
}

AVFrame* FrameQueue::Pop() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this] { return !m_frames.empty() || m_finished || m_aborted; });
    if (m_aborted || m_frames.empty()) return nullptr;
    AVFrame* frame = m_frames.front();
    m_frames.pop_front();
    m_changed.notify_all();
    return frame;
}

void FrameQueue::Finish() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_finished = true;
    m_changed.notify_all();
}

void FrameQueue::Abort() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_aborted = true;
    DropAllLocked();
    m_changed.notify_all();
}

void FrameQueue::Reset() {
    std::lock_guard<std::mutex> lock(m_lock);
    DropAllLocked();
    m_finished = false;
    m_aborted = false;
}

bool FrameQueue::Aborted() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_aborted;
}
