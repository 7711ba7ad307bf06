#pragma once
// Lines for a stream whose reader may stop reading (a terminal paused with
// Ctrl-S, a pipe nobody empties, a stalled log collector). They wait in
// memory rather than hold up the plan's seconds, and go out in order once
// the reader reads again; beyond the bound they are dropped and counted.
// Any thread may write.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace ristova {

class LineOutput {
  public:
    // Some 1 MB of event lines: minutes of a busy site.
    static constexpr std::size_t kMaxWaitingLines = 10000;

    explicit LineOutput(std::FILE* stream) : stream_(stream) {}

    // `line` ends in '\n'. Never waits for the reader.
    void Write(std::string line);
    // What the stream takes now of the waiting lines.
    void Drain();
    // At the end: the waiting lines get up to `waitMs` to go out.
    void Finish(int waitMs);
    // Lines dropped since the last call.
    std::uint64_t TakeDropped();

  private:
    void DrainLocked();

    std::FILE* stream_;
    std::mutex mutex_;
    std::deque<std::string> waiting_;
    std::uint64_t dropped_ = 0;
};

}  // namespace ristova
