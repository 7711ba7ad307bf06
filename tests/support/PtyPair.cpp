#include "support/PtyPair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <climits>

namespace ristova::test {

PtyPair::PtyPair() {
    char name[PATH_MAX];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty failed";
        return;
    }
    slavePath_ = name;
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
}

void PtyPair::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else {
            pollfd p{master_, POLLOUT, 0};
            if (poll(&p, 1, 2000) <= 0) {
                ADD_FAILURE() << "far end cannot write";
                return;
            }
        }
    }
}

std::string PtyPair::Read(std::size_t count, int timeoutMs) {
    std::string bytes;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) break;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buffer[4096];
        ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::chrono::steady_clock::time_point PtyPair::WaitFirstByte(int timeoutMs, char* byte) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return std::chrono::steady_clock::time_point::max();
    auto at = std::chrono::steady_clock::now();
    char c = 0;
    if (read(master_, &c, 1) != 1) return std::chrono::steady_clock::time_point::max();
    if (byte) *byte = c;
    return at;
}

termios PtyPair::SlaveSettings() const {
    termios tio{};
    tcgetattr(slave_, &tio);
    return tio;
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

}  // namespace ristova::test
