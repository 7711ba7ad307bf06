#pragma once
// For the engine's own source files only.
#include "run/RunEngine.h"

namespace ristova::run {

// Notifies the window once, when the outermost handler returns.
class RunEngine::ChangeScope {
  public:
    explicit ChangeScope(RunEngine& engine) : engine_(engine) { ++engine_.scopeDepth_; }
    ~ChangeScope() {
        if (--engine_.scopeDepth_ > 0 || !engine_.changedInScope_) return;
        engine_.changedInScope_ = false;
        if (engine_.onChanged_) engine_.onChanged_();
    }
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

  private:
    RunEngine& engine_;
};

}  // namespace ristova::run
