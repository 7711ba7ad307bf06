#pragma once
// Whether the board followed the commands sent to it: after a command the
// decoded state of its relay has three answers to come round; a relay that
// still shows the other state is a mismatch until it shows the wanted one.
#include <string>
#include <vector>

namespace ristova::run {

// Decoded answers a relay gets to follow a command.
inline constexpr int kConfirmAnswers = 3;

class SwitchConfirmation {
  public:
    struct Mismatch {
        int relay;
        bool wanted;
        char seen;
    };

    // A command for the relay (1-based) went to the line.
    void Expect(int relay, bool on);
    // A decoded state text ('1' on, '0' off; any other character is a state
    // the board does not tell, which never counts against it). Returns the
    // relays that fall out of step with this answer.
    std::vector<Mismatch> Answer(const std::string& states);
    bool Mismatched(int relay) const;
    // Grows whenever a relay falls out of step or back in.
    unsigned Revision() const { return revision_; }
    // States are no longer known (a stop, a lost line): nothing is expected.
    void Clear();

  private:
    struct Relay {
        bool expecting = false;
        bool wanted = false;
        int answersLeft = 0;
        bool mismatched = false;
    };
    Relay& At(int relay);
    std::vector<Relay> relays_;
    unsigned revision_ = 0;
};

}  // namespace ristova::run
