// EncoderThread: runs one encoder of the writer on a thread of its own. The
// caller hands frames over through a bounded FrameQueue (waiting while the
// encoder is that many frames behind); the thread passes each to the handler,
// and a null frame once the input is finished, so the handler can drain its
// encoder. A handler error stops the thread and is kept for the caller.
//
// Threads: Start, Push, Finish, Stop, Failed and Error from the controlling
// or streaming side (one caller at a time); the handler runs on the thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sink/FrameQueue.h"

struct AVFrame;

class EncoderThread {
public:
    // Returns < 0 with a reason in the string when encoding failed. Takes no
    // ownership of the frame.
    using Handler = std::function<int(AVFrame* frame, std::string& error)>;

    explicit EncoderThread(std::size_t depth);
    ~EncoderThread();
    EncoderThread(const EncoderThread&) = delete;
    EncoderThread& operator=(const EncoderThread&) = delete;

    void Start(Handler handler);
    bool Running() const { return m_thread.joinable(); }
    // Queues a frame (ownership taken). False when the thread has failed or
    // is not running.
    bool Push(AVFrame* frame);
    // Lets the thread handle what is queued, drain, and end; waits for it.
    // False when the handler failed.
    bool Finish();
    // Ends the thread without handling what is queued (error paths).
    void Stop();
    bool Failed() const { return m_failed; }
    // Why the handler failed (empty when it did not).
    std::string Error() const;

private:
    void Run();

    FrameQueue m_queue;
    Handler m_handler;                 // set before the thread starts
    std::thread m_thread;
    std::atomic<bool> m_failed{false};
    mutable std::mutex m_errorLock;
    std::string m_error;               // guarded by m_errorLock
};
