// An accepted connection of the local API, as the HTTP library reads and
// writes it: its own buffer, each request bounded in time and size. The waits
// and the system calls are the platform's (posix/, win32/Sockets.cpp).
// The socket calls' declarations come with the HTTP library's header.
#include "api/Sockets.h"

#include <algorithm>
#include <cstring>

namespace ristova::api {

namespace {

constexpr std::size_t kReadChunk = 4096;
// What is read and thrown away of a request that was refused unread,
// before the connection closes: enough for the response to reach a client
// that is still sending, without taking in a large body.
constexpr std::size_t kDiscardBytes = 64 * 1024;
constexpr int kDiscardMs = 500;

void NameOf(const sockaddr_storage& address, socklen_t length, std::string& ip, int& port) {
    ip.clear();
    port = 0;
    if (address.ss_family != AF_INET && address.ss_family != AF_INET6) return;
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(service);
    }
}

}  // namespace

void Connection::DropUnread() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDiscardMs);
    char sink[kReadChunk];
    std::size_t discarded = 0;
    while (discarded < kDiscardBytes && WaitFor(Ready::kRead, RemainingMs(deadline))) {
        const long long n = Receive(sink, sizeof sink);
        if (n <= 0) break;
        discarded += static_cast<std::size_t>(n);
    }
}

bool Connection::Fill(int ms) {
    if (used_ == buffer_.size()) {
        buffer_.clear();
        used_ = 0;
    }
    if (!WaitFor(Ready::kRead, ms)) return false;
    char chunk[kReadChunk];
    const long long n = Receive(chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

bool Connection::WaitForRequest() {
    return used_ < buffer_.size() || Fill(limits_.keepAliveMs);
}

void Connection::BeginRequest() {
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(limits_.requestMs);
    requestBytes_ = 0;
}

bool Connection::is_readable() const {
    return used_ < buffer_.size() || WaitFor(Ready::kRead, RemainingMs(deadline_));
}

bool Connection::is_writable() const {
    return WaitFor(Ready::kWrite, limits_.writeMs);
}

ssize_t Connection::read(char* ptr, size_t size) {
    if (spent_) return -1;
    if (used_ == buffer_.size() && !Fill(RemainingMs(deadline_))) {
        // A client that dribbles keeps the connection no longer than a
        // request's time.
        spent_ = true;
        return -1;
    }
    const std::size_t n = std::min(size, buffer_.size() - used_);
    if (requestBytes_ + n > limits_.requestBytes) {
        spent_ = true;
        return -1;
    }
    std::memcpy(ptr, buffer_.data() + used_, n);
    used_ += n;
    requestBytes_ += n;
    return static_cast<ssize_t>(n);
}

ssize_t Connection::write(const char* ptr, size_t size) {
    if (!WaitFor(Ready::kWrite, limits_.writeMs)) {
        spent_ = true;
        return -1;
    }
    const long long n = Send(ptr, size);
    if (n < 0) spent_ = true;
    return static_cast<ssize_t>(n);
}

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        NameOf(address, length, ip, port);
}

void Connection::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        NameOf(address, length, ip, port);
}

}  // namespace ristova::api
