// QtAudioOutput: plays interleaved 16-bit PCM on the default audio device with
// Qt Multimedia. The QAudioSink lives on a thread of its own (with its event
// loop); Write hands it bytes from any thread without blocking.
//
// Create returns null when there is no application object or no audio device;
// the caller then plays nothing. The destructor stops and joins the thread.
#pragma once

#include <memory>
#include <mutex>

#include <QByteArray>

class QThread;
class QAudioSink;
class QIODevice;
class QTimer;
class QObject;

class QtAudioOutput {
public:
    static std::unique_ptr<QtAudioOutput> Create(int rate, int channels);
    ~QtAudioOutput();
    QtAudioOutput(const QtAudioOutput&) = delete;
    QtAudioOutput& operator=(const QtAudioOutput&) = delete;

    // Queues bytes for the device (any thread).
    void Write(const char* data, int bytes);
    // Drops what is queued and not yet played (flush, stop).
    void Discard();

private:
    QtAudioOutput() = default;
    void Pump(); // on the output thread: moves queued bytes to the device

    QThread* thread_ = nullptr;
    QAudioSink* sink_ = nullptr;  // lives on thread_
    QIODevice* device_ = nullptr; // the sink's push device
    QTimer* timer_ = nullptr;     // lives on thread_
    QObject* context_ = nullptr;  // lives on thread_: target of the calls made there
    std::mutex mutex_;
    QByteArray pending_; // protected by mutex_
};
