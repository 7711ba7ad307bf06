// A run's line watch: loss, reconnect, re-assert, unanswered queries, and
// whether the board followed its commands.
#include <algorithm>

#include "base/TextUtils.h"
#include "run/ControllerRun.h"

namespace ristova::run {

long long ControllerRun::NowMs() const {
    return LocalMilliseconds(ctx_.clock.Now());
}

// A port that did not open at the start is a lost line from the start.
void ControllerRun::StartLineWatch(bool opened) {
    ForgetAnswers();
    reconnected_ = false;
    lastAnswerMs_ = lastAttemptMs_ = NowMs();
    line_ = opened ? LineState::Normal : LineState::Lost;
    if (!opened) Publish(0, "line", "engine", "lost", "open failed: " + port_.LastError());
    Changed();
}

void ControllerRun::OnLineEnded() {
    if (running_ && line_ != LineState::Lost) LineLost("the line ended");
}

void ControllerRun::LineLost(const std::string& reason) {
    port_.ClosePort();
    ForgetAnswers();
    ForgetExpectations();
    line_ = LineState::Lost;
    com_ = ComStatus::Lost;
    lastAttemptMs_ = NowMs();
    Publish(0, "line", "engine", "lost", reason);
    Changed();
}

void ControllerRun::DetectLoss() {
    if (!running_ || line_ == LineState::Lost) return;
    if (port_.LineEnded()) {
        LineLost("the line ended");
    } else if (port_.DeviceGone()) {
        LineLost("the device is gone");
    }
}

bool ControllerRun::ReconnectIfDue(long long nowMs) {
    if (!running_ || line_ != LineState::Lost) return false;
    // A clock set back would otherwise hold the next try back as long.
    if (nowMs - lastAttemptMs_ < kReconnectMs && nowMs >= lastAttemptMs_) return false;
    lastAttemptMs_ = nowMs;
    // Same name, same settings: a device back under its name or link opens.
    if (!port_.OpenPort()) {
        // A port that never opened since the start keeps saying why.
        if (com_ == ComStatus::StartFailed || com_ == ComStatus::StartRetrying) {
            com_ = ComStatus::StartRetrying;
            comFailure_ = port_.OpenFailureReason();
            Changed();
        }
        return false;
    }
    line_ = LineState::Normal;
    com_ = ComStatus::Reconnected;
    reconnected_ = true;
    lastAnswerMs_ = nowMs;
    Publish(0, "line", "engine", "reconnected", port_.CommPort());
    Changed();
    ReassertRelays({}, "re-assert");
    PollRelayStates();
    return true;
}

void ControllerRun::WatchLine() {
    DetectLoss();
    const long long nowMs = NowMs();
    ReconnectIfDue(nowMs);
    CheckAnswers(nowMs);
}

// Only a controller that answers can fall silent: a decoder and a query.
void ControllerRun::CheckAnswers(long long nowMs) {
    if (!running_ || line_ != LineState::Normal) return;
    if (!plugin_.HasDecoder() || definition_.stateQuery.text.empty()) return;
    if (nowMs - lastAnswerMs_ < kNoAnswerMs && nowMs >= lastAnswerMs_) return;
    line_ = LineState::NoAnswer;
    com_ = ComStatus::NoAnswer;
    ForgetExpectations();
    Publish(0, "line", "engine", "no-answer");
    Changed();
}

void ControllerRun::AnswerDecoded() {
    lastAnswerMs_ = NowMs();
    if (line_ != LineState::NoAnswer) return;
    line_ = LineState::Normal;
    com_ = reconnected_ ? ComStatus::Reconnected : ComStatus::Opened;
    Publish(0, "line", "engine", "answering");
    Changed();
}

void ControllerRun::NotSent(int relay, bool on, const char* source) {
    const std::string hex = CommandOf(relay, on).Hex();
    Message(kNotSentPrefix + hex);
    Publish(relay, on ? "on" : "off", source, "not-sent", hex);
}

void ControllerRun::NoteCommand(int relay, bool on) {
    if (relay < 1) return;
    if (static_cast<int>(noted_.size()) < relay) noted_.resize(static_cast<std::size_t>(relay));
    const LocalDateTime now = ctx_.clock.Now();
    noted_[static_cast<std::size_t>(relay - 1)] = NotedCommand{now.date, TimeToSeconds(now), on};
}

void ControllerRun::ReassertRelays(const std::vector<int>& skip, const char* source) {
    if (!handledValid_ || line_ == LineState::Lost) return;
    const Date today = handledDate_;
    const int upTo = handledSecond_;
    for (int relay = 1; relay <= RelayCount(); ++relay) {
        if (std::find(skip.begin(), skip.end(), relay) != skip.end()) continue;
        // The plan's last action of today for the relay; among equal
        // seconds the later row.
        std::optional<bool> on;
        int lastSecond = -1;
        for (const plan::TPlanAction& a : planActions_) {
            if (a.Relay != relay || a.Second < 0 || a.Second > upTo || a.Second < lastSecond)
                continue;
            lastSecond = a.Second;
            on = a.SwitchOn;
        }
        // A start-on or manual command at or after it wins.
        const auto& noted = relay <= static_cast<int>(noted_.size())
                                ? noted_[static_cast<std::size_t>(relay - 1)]
                                : std::nullopt;
        if (noted && noted->date == today && noted->second >= lastSecond) on = noted->on;
        if (!on) continue;
        Commanded(relay);
        QueueRelayCommand(relay, *on, source);
        Pause(kCommandPauseMs);
        Changed();
    }
}

void ControllerRun::ConfirmStates(const std::string& states) {
    const unsigned before = confirm_.Revision();
    for (const SwitchConfirmation::Mismatch& m : confirm_.Answer(states)) {
        Message(kMismatchPrefix + std::to_string(m.relay) + kMismatchSuffix);
        Publish(m.relay, "mismatch", "board", std::string(1, m.seen),
                m.wanted ? "wanted 1" : "wanted 0");
    }
    if (confirm_.Revision() != before) Changed();
}

void ControllerRun::ForgetExpectations() {
    confirm_.Clear();
}

const char* LineCode(const ControllerRun& run) {
    if (!run.Running()) return "stopped";
    return run.Line() == LineState::Lost       ? "lost"
           : run.Line() == LineState::NoAnswer ? "no-answer"
                                               : "ok";
}

}  // namespace ristova::run
