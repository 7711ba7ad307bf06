#pragma once
// A real mosquitto broker for a test: on 127.0.0.1 at a free port, with a
// configuration of its own (no persistence, no other listener), stopped at
// the end. Pause() and Resume() stall it with SIGSTOP and SIGCONT.
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace ristova::test {

class Broker {
  public:
    Broker();
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // users: "name:password" pairs; none: anonymous clients are allowed.
    // Starts again on the same port after a Stop(). False with Error().
    bool Start(const std::vector<std::string>& users = {});
    void Stop();
    void Kill();
    void Pause();
    void Resume();
    int Port() const { return port_; }
    const std::string& Error() const { return error_; }

    // mosquitto_pub's and mosquitto_sub's options for this broker (as the
    // first user when it has users).
    std::vector<std::string> ClientArgs(const std::string& program) const;
    // Publishes one message (waits for mosquitto_pub to finish).
    bool Publish(const std::string& topic, const std::string& payload, bool retain = false);
    // The messages on `filter` within timeoutMs, each "topic payload", up to
    // `count` of them (retained ones first).
    std::vector<std::string> Collect(const std::string& filter, int count, int timeoutMs);

  private:
    TempDir dir_;
    ChildProcess broker_;
    int port_ = 0;
    std::vector<std::string> users_;
    std::string error_;
};

// A mosquitto_sub on the broker for as long as it lives, its lines read one
// by one ("topic payload").
class Subscriber {
  public:
    Subscriber(const Broker& broker, const std::string& filter);
    // The next line whose topic is `topic` (any when empty) within timeoutMs.
    bool Next(std::string& line, int timeoutMs, const std::string& topic = {});

  private:
    ChildProcess sub_;
};

}  // namespace ristova::test
