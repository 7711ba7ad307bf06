// The run line's watch: loss, reconnect, re-assert, unanswered queries.
#include <cstdio>

#include "base/TextUtils.h"
#include "comm/HexCommand.h"
#include "run/RunEngine.h"
#include "run/RunEngineScope.h"

namespace ristova::run {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153LL * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}


}  // namespace

// The injected clock on one line of milliseconds: the intervals here are a
// few seconds, and a clock that steps only makes one of them short or long.
long long RunEngine::NowMs() const {
    const LocalDateTime t = ctx_.clock.Now();
    return (DaysFromCivil(t.date.year, t.date.month, t.date.day) * 86400LL + TimeToSeconds(t)) *
               1000LL +
           t.millisecond;
}


// A port that did not open at the start is a lost line from the start.
void RunEngine::StartLineWatch(bool opened) {
    joiner_.Clear();
    lbComNormal_ = kLbComOk;
    lostReported_ = false;
    lastAnswerMs_ = lastAttemptMs_ = NowMs();
    line_ = opened ? LineState::Normal : LineState::Lost;
    openedSinceStart_ = opened;
    sgState_.Touch();
    if (!opened) Publish(0, "line", "engine", "lost", "open failed: " + comRun_.LastError());
    Changed();
}

void RunEngine::OnRunLineEnded() {
    ChangeScope scope(*this);
    if (running_ && line_ != LineState::Lost) LineLost("the line ended");
}

void RunEngine::LineLost(const std::string& reason) {
    comRun_.ClosePort();
    joiner_.Clear();
    ForgetExpectations();
    line_ = LineState::Lost;
    lostReported_ = true;
    lastAttemptMs_ = NowMs();
    SetLabel(lbCom_, kLbComLost);
    sgState_.Touch();
    Publish(0, "line", "engine", "lost", reason);
    Changed();
}

void RunEngine::DetectLoss() {
    if (!running_ || line_ == LineState::Lost) return;
    if (comRun_.LineEnded()) {
        LineLost("the line ended");
    } else if (comRun_.DeviceGone()) {
        LineLost("the device is gone");
    }
}

bool RunEngine::ReconnectIfDue(long long nowMs) {
    if (!running_ || line_ != LineState::Lost) return false;
    // A clock set back would otherwise hold the next try back as long.
    if (nowMs - lastAttemptMs_ < kReconnectMs && nowMs >= lastAttemptMs_) return false;
    lastAttemptMs_ = nowMs;
    // Same name, same settings: a device back under its name or link opens.
    if (!comRun_.OpenPort()) {
        // A port that never opened since the start keeps saying why.
        if (!openedSinceStart_) {
            SetLabel(lbCom_, kLbComFailedPrefix + comRun_.OpenFailureReason() + kLbComRetrying);
        } else if (!lostReported_) {
            lostReported_ = true;
            SetLabel(lbCom_, kLbComLost);
        }
        return false;
    }
    openedSinceStart_ = true;
    line_ = LineState::Normal;
    lastAnswerMs_ = nowMs;
    lbComNormal_ = kLbComReconnected;
    SetLabel(lbCom_, kLbComReconnected);
    sgState_.Touch();
    Publish(0, "line", "engine", "reconnected", comRun_.CommPort());
    Changed();
    ReassertRelays();
    PollRelayStates();
    return true;
}

void RunEngine::WatchLine() {
    ChangeScope scope(*this);
    DetectLoss();
    const long long nowMs = NowMs();
    ReconnectIfDue(nowMs);
    CheckAnswers(nowMs);
}

// Only a controller that answers can fall silent: a decoder and a query.
void RunEngine::CheckAnswers(long long nowMs) {
    if (!running_ || line_ != LineState::Normal) return;
    if (!plugin_.HasDecoder() || sStateCmd_.empty()) return;
    if (nowMs - lastAnswerMs_ < kNoAnswerMs && nowMs >= lastAnswerMs_) return;
    line_ = LineState::NoAnswer;
    ForgetExpectations();
    SetLabel(lbCom_, kLbComNoAnswer);
    sgState_.Touch();
    Publish(0, "line", "engine", "no-answer");
    Changed();
}

void RunEngine::AnswerDecoded() {
    lastAnswerMs_ = NowMs();
    if (line_ != LineState::NoAnswer) return;
    line_ = LineState::Normal;
    SetLabel(lbCom_, lbComNormal_);
    sgState_.Touch();
    Publish(0, "line", "engine", "answering");
    Changed();
}

void RunEngine::NotSent(const DueCommand& command, const char* source) {
    const std::string hex = comm::CommandHexText(command.hex);
    ctx_.status.ShowStatus(3, kNotSentPrefix + hex);
    Publish(command.relay, command.on ? "on" : "off", source, "not-sent", hex);
}

void RunEngine::NoteCommand(const DueCommand& command) {
    if (command.relay < 1) return;
    if (static_cast<int>(noted_.size()) < command.relay) noted_.resize(command.relay);
    const LocalDateTime now = ctx_.clock.Now();
    noted_[command.relay - 1] = NotedCommand{now.date, TimeToSeconds(now), command};
}

void RunEngine::ReassertRelays(const std::vector<DueCommand>& skip, const char* source) {
    if (!handledValid_ || line_ == LineState::Lost) return;
    const Date today = handledDate_;
    const int upTo = handledSecond_;
    const int relays = RelayCount();
    for (int relay = 1; relay <= relays; ++relay) {
        bool skipped = false;
        for (const DueCommand& c : skip) skipped = skipped || c.relay == relay;
        if (skipped) continue;
        // The plan's last action of today for the relay; among equal
        // seconds the later row.
        std::optional<DueCommand> last;
        int lastSecond = -1;
        for (const TPlanAction& a : planActions_) {
            if (a.Relay != relay || a.Second < 0 || a.Second > upTo || a.Second < lastSecond)
                continue;
            lastSecond = a.Second;
            last = DueCommand{relay, a.SwitchOn, a.Second, sgPower_.Cell(a.SwitchOn ? 1 : 2, relay)};
        }
        // A start-on or manual command at or after it wins.
        if (relay <= static_cast<int>(noted_.size()) && noted_[relay - 1] &&
            noted_[relay - 1]->date == today && noted_[relay - 1]->second >= lastSecond)
            last = noted_[relay - 1]->command;
        if (!last) continue;
        sgState_.SetRow(relay);
        QueueRelayCommand(relay, last->on, last->hex, source);
        ctx_.sleeper.SleepMs(kCommandPauseMs);
        Changed();
    }
}

void RunEngine::ConfirmStates(const std::string& states) {
    const unsigned before = confirm_.Revision();
    for (const SwitchConfirmation::Mismatch& m : confirm_.Answer(states)) {
        ctx_.status.ShowStatus(3, kMismatchPrefix + std::to_string(m.relay) + kMismatchSuffix);
        Publish(m.relay, "mismatch", "board", std::string(1, m.seen),
                m.wanted ? "wanted 1" : "wanted 0");
    }
    if (confirm_.Revision() == before) return;
    sgState_.Touch();
    Changed();
}

void RunEngine::ForgetExpectations() {
    confirm_.Clear();
    sgState_.Touch();
}

}  // namespace ristova::run
