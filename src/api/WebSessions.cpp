#include "api/WebSessions.h"

#include <algorithm>
#include <vector>

#include "api/Crypto.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/TextUtils.h"

namespace ristova::api {

namespace {

constexpr std::size_t kIdBytes = 32;
constexpr std::size_t kKeyChars = 64;  // a SHA-256 in hex
constexpr const char* kFileHeading = "ristova-sessions 1";
// A session's last use is written out when it moved this much since the
// last write; a crash in between only shortens its idle time.
constexpr auto kSaveEvery = std::chrono::minutes(10);
// An address whose last wrong token is this old starts afresh.
constexpr auto kPaceMemory = std::chrono::hours(1);

long long Seconds(WebSessions::Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

}  // namespace

WebSessions::WebSessions(std::string token, std::string file)
    : token_(std::move(token)), file_(std::move(file)) {}

std::string WebSessions::KeyOf(const std::string& id) const {
    return HmacSha256Hex(token_, id);
}

void WebSessions::DropIdle(Clock::time_point now) {
    std::erase_if(lastUse_, [&](const auto& s) { return now - s.second >= kSessionIdle; });
}

void WebSessions::Load(Clock::time_point now) {
    std::string bytes;
    if (file_.empty() || !ReadFileBytes(file_, bytes)) return;
    std::vector<std::string> lines;
    SplitText(bytes, "\n", lines);
    if (lines.empty() || Trim(lines[0]) != kFileHeading) return;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        const std::size_t blank = line.find(' ');
        long long seconds = 0;
        if (blank != kKeyChars) continue;
        if (!TryStrToInt(line.substr(blank + 1), seconds)) continue;
        // A last use in the future (a clock set back) counts from now.
        const Clock::time_point used =
            std::min(now, Clock::time_point(std::chrono::seconds(seconds)));
        lastUse_[line.substr(0, blank)] = used;
    }
    DropIdle(now);
    saved_ = now;
}

std::string WebSessions::Create(Clock::time_point now) {
    unsigned char random[kIdBytes];
    if (!RandomBytes(random, sizeof random)) return {};
    std::string id = BytesToHex(random, sizeof random);
    const std::string key = KeyOf(id);
    if (key.empty()) return {};
    {
        std::lock_guard lock(mutex_);
        DropIdle(now);
        lastUse_[key] = now;
        saved_ = now;
    }
    Save();
    return id;
}

std::string WebSessions::Use(const std::string& id, Clock::time_point now) {
    if (id.empty()) return {};
    const std::string key = KeyOf(id);
    bool save = false;
    {
        std::lock_guard lock(mutex_);
        const auto it = lastUse_.find(key);
        if (it == lastUse_.end()) return {};
        if (now - it->second >= kSessionIdle) {
            lastUse_.erase(it);
            return {};
        }
        it->second = std::max(it->second, now);
        if (now - saved_ >= kSaveEvery) {
            saved_ = now;
            save = true;
        }
    }
    if (save) Save();
    return key;
}

bool WebSessions::Alive(const std::string& key, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto it = lastUse_.find(key);
    return it != lastUse_.end() && now - it->second < kSessionIdle;
}

std::string WebSessions::End(const std::string& id) {
    if (id.empty()) return {};
    const std::string key = KeyOf(id);
    {
        std::lock_guard lock(mutex_);
        if (lastUse_.erase(key) == 0) return {};
    }
    Save();
    return key;
}

std::size_t WebSessions::Count() {
    std::lock_guard lock(mutex_);
    return lastUse_.size();
}

std::string WebSessions::Serialise() {
    std::lock_guard lock(mutex_);
    std::string bytes = std::string(kFileHeading) + "\n";
    for (const auto& [key, used] : lastUse_)
        bytes += key + " " + std::to_string(Seconds(used)) + "\n";
    return bytes;
}

void WebSessions::Save() {
    if (file_.empty()) return;
    // One writer at a time, each with the table as it is when it writes.
    std::lock_guard lock(fileMutex_);
    try {
        WriteFileAtomically(file_, Serialise());
    } catch (const OperatorError&) {
        // The sessions live on in memory; only a restart would end them.
    }
}

int LoginPace::WaitSeconds(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    const auto it = records_.find(address);
    if (it == records_.end() || now >= it->second.until) return 0;
    const auto left = std::chrono::ceil<std::chrono::seconds>(it->second.until - now);
    return static_cast<int>(std::max<long long>(1, left.count()));
}

void LoginPace::Failed(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (records_.size() >= kMaxAddresses && !records_.contains(address)) {
        // The quiet ones go; when none is quiet, the one that waits least.
        std::erase_if(records_, [&](const auto& r) { return now - r.second.until >= kPaceMemory; });
        if (records_.size() >= kMaxAddresses)
            records_.erase(std::min_element(
                records_.begin(), records_.end(),
                [](const auto& a, const auto& b) { return a.second.until < b.second.until; }));
    }
    Record& r = records_[address];
    if (r.failures > 0 && now - r.until >= kPaceMemory) r.failures = 0;
    r.failures = std::min(r.failures + 1, 16);
    const int wait = std::min(kMaxWaitSeconds, 1 << std::min(r.failures - 1, 6));
    r.until = now + std::chrono::seconds(wait);
}

void LoginPace::Succeeded(const std::string& address) {
    std::lock_guard lock(mutex_);
    records_.erase(address);
}

std::vector<std::string> CookieValues(const std::string& header, const std::string& name) {
    std::vector<std::string> parts, values;
    SplitText(header, ";", parts);
    for (const std::string& part : parts) {
        const std::string pair = Trim(part);
        if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 &&
            pair[name.size()] == '=')
            values.push_back(pair.substr(name.size() + 1));
    }
    return values;
}

}  // namespace ristova::api
