// ristova-sim: a relay controller on a pseudo-terminal, for tests and the
// demo. The first line on stdout is the path of the terminal to open; the
// protocol is in RelayBoard.h and the README.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>

#include "RelayBoard.h"

namespace {

using Clock = std::chrono::steady_clock;
using ristova::sim::RelayBoard;

constexpr auto kSplitGap = std::chrono::milliseconds(30);

struct Options {
    int relays = 8;
    long delayMs = 0;
    bool split = false;
    bool garbage = false;
    double hangupAfterS = -1;
    int stuck = 0;
    std::string link;
    std::string logPath;
};

[[noreturn]] void Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "ristova-sim: %s\n", problem);
    std::fprintf(stderr,
                 "usage: ristova-sim [--relays N] [--delay MS] [--split] [--garbage]\n"
                 "                   [--hangup-after S] [--stuck K] [--link PATH] [--log FILE]\n");
    std::exit(problem ? 2 : 0);
}

bool ParseLong(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) Usage(("missing value after " + arg).c_str());
            return argv[++i];
        };
        long value = 0;
        if (arg == "--relays") {
            if (!ParseLong(next(), 1, ristova::sim::kMaxRelays, value)) {
                Usage("--relays takes a number from 1 to 32");
            }
            options.relays = static_cast<int>(value);
        } else if (arg == "--delay") {
            if (!ParseLong(next(), 0, 600000, value)) Usage("--delay takes milliseconds");
            options.delayMs = value;
        } else if (arg == "--split") {
            options.split = true;
        } else if (arg == "--garbage") {
            options.garbage = true;
        } else if (arg == "--hangup-after") {
            const char* text = next();
            char* end = nullptr;
            double s = std::strtod(text, &end);
            if (end == text || *end != '\0' || !(s >= 0)) Usage("--hangup-after takes seconds");
            options.hangupAfterS = s;
        } else if (arg == "--stuck") {
            if (!ParseLong(next(), 1, ristova::sim::kMaxRelays, value))
                Usage("--stuck takes a relay number from 1 to 32");
            options.stuck = static_cast<int>(value);
        } else if (arg == "--link") {
            options.link = next();
        } else if (arg == "--log") {
            options.logPath = next();
        } else if (arg == "--help" || arg == "-h") {
            Usage(nullptr);
        } else {
            Usage(("unknown option " + arg).c_str());
        }
    }
    return options;
}

std::string Timestamp(const timespec& t) {
    std::tm utc{};
    gmtime_r(&t.tv_sec, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ld", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  t.tv_nsec / 1000);
    return text;
}

struct Chunk {
    Clock::time_point due;
    std::string bytes;
};

class Simulator {
  public:
    explicit Simulator(const Options& options)
        : options_(options), board_(options.relays), random_(std::random_device{}()) {
        board_.SetStuck(options.stuck);
    }
    ~Simulator() { Shutdown(); }

    bool Start();
    int Run();

  private:
    void Shutdown();
    void ReadCommands();
    void Answer(const std::string& answer);
    bool WriteDue();
    int NextTimeoutMs(bool withOutput) const;

    Options options_;
    RelayBoard board_;
    std::mt19937 random_;
    int master_ = -1;
    int slave_ = -1;
    int signals_ = -1;
    std::FILE* log_ = stderr;
    std::string slavePath_;
    bool linked_ = false;
    std::deque<Chunk> output_;
    Clock::time_point hangupAt_ = Clock::time_point::max();
};

bool Simulator::Start() {
    if (!options_.logPath.empty()) {
        log_ = std::fopen(options_.logPath.c_str(), "w");
        if (!log_) {
            std::fprintf(stderr, "ristova-sim: cannot write %s: %s\n", options_.logPath.c_str(),
                         std::strerror(errno));
            log_ = stderr;
            return false;
        }
    }
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[PATH_MAX];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        std::fprintf(stderr, "ristova-sim: no pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    slavePath_ = name;
    // Our own slave descriptor keeps the terminal alive between clients:
    // without it the master reads EIO once the first client closes.
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        std::fprintf(stderr, "ristova-sim: cannot open %s: %s\n", name, std::strerror(errno));
        return false;
    }
    // Raw from the start, so that nothing is echoed or translated before a
    // client has set the line up.
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(slave_, TCSANOW, &tio);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    if (!options_.link.empty()) {
        struct stat st {};
        if (lstat(options_.link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "ristova-sim: %s exists and is not a link\n",
                             options_.link.c_str());
                return false;
            }
            unlink(options_.link.c_str());
        }
        if (symlink(slavePath_.c_str(), options_.link.c_str()) != 0) {
            std::fprintf(stderr, "ristova-sim: cannot link %s: %s\n", options_.link.c_str(),
                         std::strerror(errno));
            return false;
        }
        linked_ = true;
    }

    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signals_ = signalfd(-1, &set, SFD_CLOEXEC);
    signal(SIGPIPE, SIG_IGN);

    if (options_.hangupAfterS >= 0) {
        hangupAt_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(options_.hangupAfterS));
    }
    std::printf("%s\n", slavePath_.c_str());
    std::fflush(stdout);
    return true;
}

void Simulator::Shutdown() {
    // The master first: the far end sees the hang-up.
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = -1;
    if (linked_) unlink(options_.link.c_str());
    linked_ = false;
    if (log_ && log_ != stderr) std::fclose(log_);
    log_ = nullptr;
}

int Simulator::NextTimeoutMs(bool withOutput) const {
    Clock::time_point next = hangupAt_;
    if (withOutput && !output_.empty()) next = std::min(next, output_.front().due);
    if (next == Clock::time_point::max()) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

void Simulator::Answer(const std::string& answer) {
    std::string bytes = answer;
    if (options_.garbage) {
        std::uniform_int_distribution<int> byte(0, 255);
        for (char& c : bytes) c = static_cast<char>(byte(random_));
    }
    // Answers leave in the order asked, whatever the delay.
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(options_.delayMs);
    if (!output_.empty()) due = std::max(due, output_.back().due);
    if (options_.split && bytes.size() > 1) {
        std::size_t half = bytes.size() / 2;
        output_.push_back({due, bytes.substr(0, half)});
        output_.push_back({due + kSplitGap, bytes.substr(half)});
    } else {
        output_.push_back({due, bytes});
    }
}

void Simulator::ReadCommands() {
    char buffer[4096];
    for (;;) {
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return;
        timespec arrival{};
        clock_gettime(CLOCK_REALTIME, &arrival);
        board_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)), arrival,
                    [this](const RelayBoard::Command& command) {
                        std::fprintf(log_, "%s %s\n", Timestamp(command.firstByte).c_str(),
                                     command.text.c_str());
                        std::fflush(log_);
                        if (command.query) Answer(command.answer);
                    });
    }
}

bool Simulator::WriteDue() {
    while (!output_.empty() && output_.front().due <= Clock::now()) {
        Chunk& chunk = output_.front();
        ssize_t n = write(master_, chunk.bytes.data(), chunk.bytes.size());
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        chunk.bytes.erase(0, static_cast<std::size_t>(n));
        if (!chunk.bytes.empty()) return true;
        output_.pop_front();
    }
    return true;
}

int Simulator::Run() {
    for (;;) {
        if (Clock::now() >= hangupAt_) return 0;
        if (!WriteDue()) return 1;
        bool waitingToWrite = !output_.empty() && output_.front().due <= Clock::now();
        pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (waitingToWrite ? POLLOUT : 0)), 0},
                         {signals_, POLLIN, 0}};
        int r = poll(fds, 2, NextTimeoutMs(!waitingToWrite));
        if (r < 0 && errno != EINTR) return 1;
        if (fds[1].revents & POLLIN) return 0;
        if (fds[0].revents & POLLIN) ReadCommands();
        if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
            // Cannot happen while our slave descriptor is open; never spin.
            usleep(20000);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    Simulator simulator(options);
    if (!simulator.Start()) return 1;
    return simulator.Run();
}
