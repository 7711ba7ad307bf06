#pragma once
// What the web page's login leaves on the TCP listener: the sessions that
// a cookie names, and the pace at which one address may try tokens.
//
// A session's id is random and lives in the browser's cookie only; the
// server keeps a keyed hash of it (keyed by the token), so that the file
// the sessions are kept in across a restart holds nothing that opens a
// session, and a new token ends every session made with the old one.
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

namespace ristova::api {

// A session that no request used for this long has ended.
inline constexpr std::chrono::hours kSessionIdle{12};
inline constexpr const char* kSessionsFileName = ".ristova-sessions";

class WebSessions {
  public:
    using Clock = std::chrono::system_clock;

    // file: where the sessions outlive a restart of the process; empty
    // keeps them in memory only.
    WebSessions(std::string token, std::string file);

    // Takes the sessions a previous process kept, less those idle too long.
    void Load(Clock::time_point now);
    // A new session: the id for its cookie; empty when the system had no
    // random bytes to give.
    std::string Create(Clock::time_point now);
    // The session of a cookie's id is alive: its idle time starts again.
    // Its key (what streams hold on to), or empty when there is none.
    std::string Use(const std::string& id, Clock::time_point now);
    bool Alive(const std::string& key, Clock::time_point now);
    // Ends the session of the id; its key, or empty when there was none.
    std::string End(const std::string& id);
    // Writes the sessions out (also done at each new and ended session).
    void Save();
    std::size_t Count();

  private:
    std::string KeyOf(const std::string& id) const;
    void DropIdle(Clock::time_point now);
    std::string Serialise();
    void Write(const std::string& bytes);

    const std::string token_;
    const std::string file_;
    std::mutex mutex_;
    std::unordered_map<std::string, Clock::time_point> lastUse_;
    Clock::time_point saved_{};
    std::mutex fileMutex_;
};

// Wrong tokens from one address are answered ever more slowly: after each,
// the address waits 1 s, 2 s, 4 s ... up to a minute before its next token
// is even looked at. Nobody's thread waits for it: a token that comes too
// early is refused at once.
class LoginPace {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMaxWaitSeconds = 60;
    // Addresses remembered at most; the oldest quiet ones go first.
    static constexpr std::size_t kMaxAddresses = 4096;

    // 0 when a token from the address may be checked now, else the seconds
    // left to wait.
    int WaitSeconds(const std::string& address, Clock::time_point now);
    void Failed(const std::string& address, Clock::time_point now);
    void Succeeded(const std::string& address);

  private:
    struct Record {
        int failures = 0;
        Clock::time_point until{};
    };
    std::mutex mutex_;
    std::map<std::string, Record> records_;
};

// The value of one cookie in a Cookie header; empty when it is not there.
std::string CookieValue(const std::string& header, const std::string& name);

}  // namespace ristova::api
