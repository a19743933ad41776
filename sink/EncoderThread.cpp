#include "sink/EncoderThread.h"

#include <utility>

extern "C" {
#include <libavutil/frame.h>
}

#include "platform/win/DebugTrace.h"

EncoderThread::EncoderThread(std::size_t depth) : m_queue(depth) {}

EncoderThread::~EncoderThread() { Stop(); }

void EncoderThread::Start(Handler handler) {
    Stop();
    m_queue.Reset();
    m_failed = false;
    {
        std::lock_guard<std::mutex> lock(m_errorLock);
        m_error.clear();
    }
    m_handler = std::move(handler);
    m_thread = std::thread(&EncoderThread::Run, this);
}

void EncoderThread::Run() {
    std::string error;
    for (;;) {
        AVFrame* frame = m_queue.Pop();
        const bool end = frame == nullptr;
        if (end && m_queue.Aborted()) return; // stopped: no drain
        const int result = m_handler(frame, error);
        av_frame_free(&frame);
        if (result < 0) {
            DebugTrace("EncoderThread: %s\n", error.c_str());
            {
                std::lock_guard<std::mutex> lock(m_errorLock);
                m_error = error.empty() ? std::string("encoding failed") : error;
            }
            m_failed = true;
            m_queue.Abort(); // releases a caller waiting for room
            return;
        }
        if (end) return;
    }
}

bool EncoderThread::Push(AVFrame* frame) {
    if (m_failed || !Running()) {
        av_frame_free(&frame);
        return false;
    }
    return m_queue.Push(frame);
}

bool EncoderThread::Finish() {
    if (!Running()) return !m_failed;
    m_queue.Finish();
    m_thread.join();
    return !m_failed;
}

void EncoderThread::Stop() {
    if (!Running()) return;
    m_queue.Abort();
    m_thread.join();
}

std::string EncoderThread::Error() const {
    std::lock_guard<std::mutex> lock(m_errorLock);
    return m_error;
}
