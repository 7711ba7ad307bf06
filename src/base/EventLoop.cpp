#include "base/EventLoop.h"

#include <algorithm>

namespace ristova {

EventLoop::EventLoop() = default;

EventLoop::~EventLoop() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    queue_.clear();
}

bool EventLoop::Post(std::function<void()> call) {
    if (!call) return false;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        queue_.push_back(std::move(call));
    }
    waiter_.Wake();
    return true;
}

void EventLoop::Watch(NativeHandle handle, std::function<void()> onReadable) {
    Unwatch(handle);
    watched_.push_back({handle, std::move(onReadable)});
}

void EventLoop::Unwatch(NativeHandle handle) {
    std::erase_if(watched_, [handle](const Watched& w) { return w.handle == handle; });
}

void EventLoop::RunPosted() {
    // Only what is queued now: a call that posts again runs on the next round.
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(mutex_);
        calls.swap(queue_);
    }
    for (auto& call : calls) Call(call);
}

void EventLoop::SetOnError(std::function<void(const std::exception&)> onError) {
    onError_ = std::move(onError);
}

void EventLoop::Call(const std::function<void()>& call) {
    if (!onError_) {
        call();
        return;
    }
    try {
        call();
    } catch (const std::exception& e) {
        onError_(e);
    }
}

int EventLoop::Run() {
    quit_ = false;
    signal_ = 0;
    while (!quit_) {
        std::vector<NativeHandle> handles;
        for (const Watched& w : watched_) handles.push_back(w.handle);
        const LoopWaiter::Ready ready = waiter_.Wait(handles);
        if (ready.signal != 0) {
            signal_ = ready.signal;
            break;
        }
        if (ready.woken) RunPosted();
        // A handler may change the watch list; call by handle.
        for (NativeHandle handle : ready.handles) {
            if (quit_) break;
            auto found = std::find_if(watched_.begin(), watched_.end(),
                                      [&](const Watched& w) { return w.handle == handle; });
            if (found == watched_.end()) continue;
            std::function<void()> call = found->call;
            Call(call);
        }
    }
    return signal_;
}

}  // namespace ristova
