#include "platform/media/QtAudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace {
constexpr int kMaxPendingBytes = 4 * 48000 * 2 * 8; // a few seconds at most
}

std::unique_ptr<QtAudioOutput> QtAudioOutput::Create(int rate, int channels) {
    if (!QCoreApplication::instance() || rate <= 0 || channels <= 0) return nullptr;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return nullptr;
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) return nullptr;

    std::unique_ptr<QtAudioOutput> out(new QtAudioOutput);
    out->thread_ = new QThread;
    out->thread_->start();
    QtAudioOutput* self = out.get();
    // The sink and its timer are made and used on the output thread only.
    self->context_ = new QObject;
    self->context_->moveToThread(self->thread_);
    QMetaObject::invokeMethod(
        self->context_,
        [self, device, format] {
            self->sink_ = new QAudioSink(device, format);
            self->device_ = self->sink_->start();
            self->timer_ = new QTimer;
            QObject::connect(self->timer_, &QTimer::timeout, [self] { self->Pump(); });
            self->timer_->start(10);
        },
        Qt::BlockingQueuedConnection);
    if (!self->device_) return nullptr;
    return out;
}

QtAudioOutput::~QtAudioOutput() {
    if (!thread_) return;
    QMetaObject::invokeMethod(
        context_,
        [this] {
            delete timer_;
            timer_ = nullptr;
            if (sink_) sink_->stop();
            delete sink_;
            sink_ = nullptr;
            device_ = nullptr;
            delete context_; // made on this thread's behalf; deleted on it
            context_ = nullptr;
        },
        Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete thread_;
}

void QtAudioOutput::Write(const char* data, int bytes) {
    std::lock_guard<std::mutex> g(mutex_);
    if (pending_.size() + bytes > kMaxPendingBytes) pending_.clear(); // fell behind: start afresh
    pending_.append(data, bytes);
}

void QtAudioOutput::Discard() {
    std::lock_guard<std::mutex> g(mutex_);
    pending_.clear();
}

void QtAudioOutput::Pump() {
    if (!sink_ || !device_) return;
    std::lock_guard<std::mutex> g(mutex_);
    const qsizetype room = sink_->bytesFree();
    const qsizetype n = std::min<qsizetype>(room, pending_.size());
    if (n <= 0) return;
    const qint64 written = device_->write(pending_.constData(), n);
    if (written > 0) pending_.remove(0, written);
}
