// The simulated relay controller, driven through a raw descriptor on its
// terminal, as any client would.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include "support/Simulator.h"
#include "support/TempDir.h"

namespace ristova::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Client {
  public:
    explicit Client(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios tio{};
            tcgetattr(fd_, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Client() {
        if (fd_ >= 0) close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }
    void Send(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Collects what arrives until `count` bytes or the time-out; each read's
    // arrival is kept so that bursts can be told apart.
    std::string Receive(std::size_t count, int timeoutMs,
                        std::vector<Clock::time_point>* arrivals = nullptr) {
        std::string bytes;
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < count && Clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) continue;
            if (p.revents & POLLHUP) {
                hungUp_ = true;
                break;
            }
            char buffer[256];
            ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
            if (arrivals) arrivals->push_back(Clock::now());
        }
        return bytes;
    }
    bool HungUp() const { return hungUp_; }

  private:
    int fd_ = -1;
    bool hungUp_ = false;
};

TEST(SimulatorTest, SwitchesRelaysAndAnswersQueriesFromAnySplit) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
    Client client(sim.SlavePath());
    ASSERT_TRUE(client.Ok());

    client.Send("Q(00)E");
    EXPECT_EQ(client.Receive(11, 2000), "S(00,0000)E");

    // Noise, a broken command, a command split over writes, then relay 4 on
    // and a relay the board does not have.
    auto before = std::chrono::system_clock::now();
    client.Send("zz\x01O(00,0");
    std::this_thread::sleep_for(20ms);
    client.Send("2,1)EO(00,9O(00,04,1)EO(00,07,1)EO(00,33,1)EQ(00");
    std::this_thread::sleep_for(20ms);
    client.Send(")E");
    EXPECT_EQ(client.Receive(11, 2000), "S(00,0101)E");
    auto after = std::chrono::system_clock::now();

    ASSERT_TRUE(sim.WaitForCommands(5, 2000));
    std::vector<SimulatorCommand> commands = sim.Commands();
    ASSERT_EQ(commands.size(), 5u);
    EXPECT_EQ(commands[1].text, "O(00,02,1)E");
    EXPECT_EQ(commands[2].text, "O(00,04,1)E");
    EXPECT_EQ(commands[3].text, "O(00,07,1)E");
    EXPECT_EQ(commands[4].text, "Q(00)E");
    // The time of a split command is the arrival of its first byte.
    EXPECT_GE(commands[1].firstByte, before - 1ms);
    EXPECT_LT(commands[1].firstByte, commands[2].firstByte - 10ms);
    EXPECT_LE(commands[4].firstByte, after);

    client.Send("O(00,02,0)EQ(00)E");
    EXPECT_EQ(client.Receive(11, 2000), "S(00,0001)E");
}

TEST(SimulatorTest, AnswersLateSplitOrAsGarbage) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--delay", "120", "--split"})) << sim.Error();
    Client client(sim.SlavePath());
    auto asked = Clock::now();
    client.Send("Q(00)E");
    std::vector<Clock::time_point> arrivals;
    EXPECT_EQ(client.Receive(15, 2000, &arrivals), "S(00,00000000)E");
    // Two bursts, the first not before the delay.
    ASSERT_EQ(arrivals.size(), 2u);
    EXPECT_GE(arrivals[0] - asked, 120ms);

    SimulatorProcess noisy;
    ASSERT_TRUE(noisy.Start({"--garbage", "--relays", "2"})) << noisy.Error();
    Client other(noisy.SlavePath());
    other.Send("Q(00)E");
    std::string answer = other.Receive(9, 2000);
    EXPECT_EQ(answer.size(), 9u);
    EXPECT_NE(answer, "S(00,00)E");
}

TEST(SimulatorTest, TerminalSurvivesClientsAndLinkLivesWithTheSimulator) {
    TempDir dir;
    std::string link = dir.File("ttyRELAY");
    SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--link", link})) << sim.Error();
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.SlavePath());

    for (int round = 0; round < 3; ++round) {
        Client client(link);
        ASSERT_TRUE(client.Ok());
        client.Send("O(00,0" + std::to_string(round + 1) + ",1)EQ(00)E");
        EXPECT_EQ(client.Receive(15, 2000).substr(5, round + 1), std::string(round + 1, '1'));
    }
    EXPECT_EQ(sim.Stop(), 0) << "a clean exit on SIGTERM";
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "link removed at exit";
}

TEST(SimulatorTest, HangsUpAfterTheGivenTime) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.Start({"--hangup-after", "0.3"})) << sim.Error();
    Client client(sim.SlavePath());
    auto start = Clock::now();
    client.Receive(1, 3000);
    EXPECT_TRUE(client.HungUp());
    EXPECT_GE(Clock::now() - start, 250ms);
    EXPECT_TRUE(sim.WaitExit(2000));
}

TEST(SimulatorTest, RefusesBadOptions) {
    for (const char* bad : {"--relays=4", "--relays", "--delay"}) {
        SimulatorProcess sim;
        std::vector<std::string> args{bad};
        if (std::string(bad) == "--relays") args.push_back("33");
        if (std::string(bad) == "--delay") args.push_back("soon");
        EXPECT_FALSE(sim.Start(args)) << bad;
    }
}

}  // namespace
}  // namespace ristova::test
