#pragma once
// Runs posted calls on the Qt main thread through queued invocations, in
// the order posted. After each call the window is told, so that it can draw
// what the call changed (a received block, for example).
#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>

#include "base/MainThreadPoster.h"

namespace ristova::ui {

class QtMainThreadPoster : public QObject, public IMainThreadPoster {
    Q_OBJECT
  public:
    explicit QtMainThreadPoster(QObject* parent = nullptr);
    ~QtMainThreadPoster() override;

    bool Post(std::function<void()> call) override;
    // Runs on the main thread after every posted call.
    void SetAfterCall(std::function<void()> hook) { afterCall_ = std::move(hook); }

  private:
    Q_INVOKABLE void RunNext();

    std::function<void()> afterCall_;
    // The calls pass through our own lock, not only Qt's event queue, so
    // that the hand-over between threads is visible to the thread sanitizer.
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;
    std::atomic<bool> closing_{false};
};

}  // namespace ristova::ui
