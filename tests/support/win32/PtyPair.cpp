// The far end of a Windows serial test: a COM port linked to a fresh
// pseudo-terminal by the Linux helper far_end.py, whose socket stands for
// the master. RISTOVA_FAR_END holds the helper's port on 127.0.0.1.
#include "support/PtyPair.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace ristova::test {

namespace {

SOCKET AsSocket(std::uintptr_t s) {
    return static_cast<SOCKET>(s);
}

bool Started() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// Waits until the socket is readable; false on time-out.
bool Readable(SOCKET s, int timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, &set, nullptr, nullptr, &tv) == 1;
}

}  // namespace

PtyPair::PtyPair() {
    const char* port = std::getenv("RISTOVA_FAR_END");
    if (port == nullptr || !Started()) {
        ADD_FAILURE() << "no far end: RISTOVA_FAR_END names the port of far_end.py (the win64 "
                         "step of scripts/test.sh starts it)";
        return;
    }
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET ||
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(s, "OPEN\n", 5, 0) != 5) {
        if (s != INVALID_SOCKET) ::closesocket(s);
        ADD_FAILURE() << "far end on port " << port << " does not answer";
        return;
    }
    std::string answer;
    char c = 0;
    while (answer.size() < 64 && Readable(s, 5000) && ::recv(s, &c, 1, 0) == 1 && c != '\n')
        answer += c;
    if (answer.rfind("COM", 0) != 0) {
        ::closesocket(s);
        ADD_FAILURE() << "far end gave no line: " << answer;
        return;
    }
    master_ = static_cast<std::uintptr_t>(s);
    slavePath_ = answer;
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int n = ::send(AsSocket(master_), bytes.data() + done,
                             static_cast<int>(bytes.size() - done), 0);
        if (n <= 0) {
            ADD_FAILURE() << "far end cannot write";
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

std::string PtyPair::Read(std::size_t count, int timeoutMs) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !Readable(AsSocket(master_), static_cast<int>(left))) break;
        char buffer[4096];
        const int n = ::recv(AsSocket(master_), buffer,
                             static_cast<int>(std::min(sizeof buffer, count - bytes.size())), 0);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::chrono::steady_clock::time_point PtyPair::WaitFirstByte(int timeoutMs, char* byte) {
    if (!Readable(AsSocket(master_), timeoutMs))
        return std::chrono::steady_clock::time_point::max();
    const auto at = std::chrono::steady_clock::now();
    char c = 0;
    if (::recv(AsSocket(master_), &c, 1, 0) != 1)
        return std::chrono::steady_clock::time_point::max();
    if (byte) *byte = c;
    return at;
}

void PtyPair::CloseMaster() {
    if (master_ == ~std::uintptr_t{0}) return;
    ::closesocket(AsSocket(master_));
    master_ = ~std::uintptr_t{0};
}

}  // namespace ristova::test
