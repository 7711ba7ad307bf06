#pragma once
// What the run engine did, as one record per event: the journal stores them,
// the headless runner prints them, the broker bridge publishes them. Sinks
// are called on the engine's (main) thread and must not block it.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/Clock.h"

namespace ristova::run {

struct RunEvent {
    std::string at;          // local time "YYYY-MM-DD HH:MM:SS.mmm"
    std::string controller;  // the controller file's name
    int relay = 0;           // 1 to 32; 0 for the whole controller
    std::string kind;        // on off state line run
    std::string source;      // plan catch-up start-on manual re-assert remote board engine
    std::string result;      // sent dropped failed not-sent refused; state 1/0; else the outcome
    std::string detail;      // the hex sent, a table's name, a reason
};

// The detail of a command dropped for a newer one of its relay.
inline constexpr const char* kReplaced = "replaced";

// "YYYY-MM-DD HH:MM:SS.mmm", the form of RunEvent::at.
inline std::string EventTimeText(const LocalDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.date.year % 10000,
                  t.date.month % 100, t.date.day % 100, t.hour % 100, t.minute % 100,
                  t.second % 100, t.millisecond % 1000);
    return text;
}

class IRunEventSink {
public:
    virtual ~IRunEventSink() = default;
    virtual void OnRunEvent(const RunEvent& event) = 0;
};

// Fans one event out to every sink added; a sink outlives its registration.
class RunEventHub : public IRunEventSink {
public:
    void Add(IRunEventSink* sink) { sinks_.push_back(sink); }
    void Remove(IRunEventSink* sink) { std::erase(sinks_, sink); }
    void OnRunEvent(const RunEvent& event) override {
        for (IRunEventSink* sink : sinks_) sink->OnRunEvent(event);
    }

private:
    std::vector<IRunEventSink*> sinks_;
};

}  // namespace ristova::run
