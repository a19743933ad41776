// FrameQueue: a bounded hand-over of FFmpeg frames from one producing thread
// to one consuming thread (the writer's picture encoder). A full queue blocks
// its producer, so decoding never runs more than a few pictures ahead of
// encoding; Finish lets the consumer drain what is queued and then see the
// end; Abort drops what is queued and releases both sides.
//
// Ownership: Push takes the frame (freed on refusal), Pop hands it over.
// Threads: Push from the producer, Pop from the consumer, Finish / Abort /
// Reset from either; everything under m_lock.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

struct AVFrame;

class FrameQueue {
public:
    explicit FrameQueue(std::size_t depth);
    ~FrameQueue();
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    // Queues `frame`, waiting while the queue is full. False (frame freed)
    // after Finish or Abort.
    bool Push(AVFrame* frame);
    // The next frame, waiting while the queue is empty; nullptr once the
    // queue is finished and drained, or aborted.
    AVFrame* Pop();
    // No more frames will come; Pop returns the queued ones, then nullptr.
    void Finish();
    // Drops the queued frames; Push and Pop return at once from now on.
    void Abort();
    // Empty and open again, for the next file.
    void Reset();
    bool Aborted();

private:
    void DropAllLocked();

    const std::size_t m_depth;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<AVFrame*> m_frames; // guarded by m_lock
    bool m_finished = false;       // guarded by m_lock
    bool m_aborted = false;        // guarded by m_lock
};
