#include "platform/dshow/GraphEventQueue.h"

#include <chrono>

#include "platform/dshow/NotifyWindow.h"

void GraphEventQueue::QueueLocked(LONG code, LONG_PTR p1, LONG_PTR p2) {
    events_.emplace_back(code, p1, p2);
    if ((code == EC_COMPLETE || code == EC_USERABORT || code == EC_ERRORABORT) &&
        completionCode_ == 0)
        completionCode_ = code;
    handle_.Set();
    cv_.notify_all();
}

void GraphEventQueue::Add(LONG code, LONG_PTR p1, LONG_PTR p2) {
    QObject* window = nullptr;
    LONG message = 0;
    LONG_PTR data = 0;
    {
        std::lock_guard lk(mutex_);
        if (code == EC_COMPLETE && !cancelled_.count(EC_COMPLETE)) {
            if (auto* sender = reinterpret_cast<IBaseFilter*>(p2)) completed_.insert(sender);
            if (completeSent_) return;
            for (IBaseFilter* r : renderers_)
                if (!completed_.count(r)) return;
            completeSent_ = true;
            QueueLocked(EC_COMPLETE, S_OK, 0);
        } else {
            QueueLocked(code, p1, p2);
        }
        if (flags_ == 0) {
            window = window_;
            message = message_;
            data = instanceData_;
        }
    }
    if (window) PostGraphNotify(window, message, data);
}

HRESULT GraphEventQueue::Get(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG msTimeout) {
    std::unique_lock lk(mutex_);
    auto ready = [&] { return !events_.empty(); };
    if (msTimeout < 0)
        cv_.wait(lk, ready);
    else if (!cv_.wait_for(lk, std::chrono::milliseconds(msTimeout), ready)) {
        *code = 0;
        *p1 = *p2 = 0;
        return E_ABORT;
    }
    std::tie(*code, *p1, *p2) = events_.front();
    events_.pop_front();
    if (events_.empty()) handle_.Reset();
    return S_OK;
}

HRESULT GraphEventQueue::WaitForCompletion(LONG msTimeout, LONG* code) {
    std::unique_lock lk(mutex_);
    auto ready = [&] { return completionCode_ != 0; };
    if (msTimeout < 0)
        cv_.wait(lk, ready);
    else if (!cv_.wait_for(lk, std::chrono::milliseconds(msTimeout), ready)) {
        *code = 0;
        return E_ABORT;
    }
    *code = completionCode_;
    return S_OK;
}

void GraphEventQueue::Cancel(LONG code) {
    std::lock_guard lk(mutex_);
    cancelled_.insert(code);
}

void GraphEventQueue::Restore(LONG code) {
    std::lock_guard lk(mutex_);
    cancelled_.erase(code);
}

void GraphEventQueue::SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData) {
    std::lock_guard lk(mutex_);
    window_ = window;
    message_ = message;
    instanceData_ = instanceData;
}

void GraphEventQueue::SetNotifyFlags(LONG flags) {
    std::lock_guard lk(mutex_);
    flags_ = flags;
}

LONG GraphEventQueue::NotifyFlags() {
    std::lock_guard lk(mutex_);
    return flags_;
}

void GraphEventQueue::ResetCompletion() {
    std::lock_guard lk(mutex_);
    completed_.clear();
    completeSent_ = false;
    completionCode_ = 0;
}

void GraphEventQueue::SetRenderers(const std::vector<IBaseFilter*>& renderers) {
    std::lock_guard lk(mutex_);
    renderers_ = std::set<IBaseFilter*>(renderers.begin(), renderers.end());
    completed_.clear();
    completeSent_ = false;
    completionCode_ = 0;
}
