#pragma once
// The simulated board's protocol: relay switch commands and the state query,
// parsed from a byte stream that may arrive split over any number of reads.
//   on  "O(00,kk,1)E"   off "O(00,kk,0)E"   (kk = 01..32, 00 the board)
//   query "Q(00)E"      answer "S(00,<one '0'/'1' per relay, relay 1 first>)E"
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace ristova::sim {

inline constexpr int kMaxRelays = 32;

class RelayBoard {
  public:
    explicit RelayBoard(int relays) : state_(static_cast<std::size_t>(relays), '0') {}

    struct Command {
        std::string text;      // as received
        timespec firstByte{};  // arrival of its first byte
        bool query = false;
        std::string answer;  // for a query: the state answer
    };
    using CommandDone = std::function<void(const Command&)>;

    // Feeds bytes that arrived at `arrival`. Each complete command is applied
    // and reported; anything else is skipped up to the next 'O' or 'Q'.
    void Feed(std::string_view bytes, const timespec& arrival, const CommandDone& done);

    const std::string& State() const { return state_; }
    // A relay whose contacts are stuck: its commands are logged, not obeyed.
    void SetStuck(int relay) { stuck_ = relay; }
    std::string Answer() const { return "S(00," + state_ + ")E"; }

  private:
    bool Fits(char c) const;
    void Finish(const CommandDone& done);

    std::string state_;
    int stuck_ = 0;
    std::string pending_;
    timespec pendingStart_{};
};

}  // namespace ristova::sim
