// The local API's sockets on POSIX: the socket file, and connections read
// and written with poll, each wait bounded and ended by the stop event.
#include "api/Sockets.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ristova::api {

namespace {

constexpr std::size_t kReadChunk = 4096;
// What is read and thrown away of a request that was refused unread,
// before the connection closes: enough for the response to reach a client
// that is still sending, without taking in a large body.
constexpr std::size_t kDiscardBytes = 64 * 1024;
constexpr int kDiscardMs = 500;

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

std::string Describe(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

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

SocketAddress::SocketAddress(const std::string& path) {
    if (path.size() < sizeof(sockaddr_un::sun_path)) {
        usable_ = path;
        return;
    }
    // The folder's handle makes the path short: /proc/self/fd/N/name.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    folder_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) {
        error_ = Describe("cannot open the folder", folder);
        return;
    }
    usable_ = "/proc/self/fd/" + std::to_string(folder_) + "/" + path.substr(slash + 1);
    if (usable_.size() >= sizeof(sockaddr_un::sun_path)) {
        usable_.clear();
        error_ = "the socket's name is too long: " + path;
    }
}

SocketAddress::~SocketAddress() {
    if (folder_ >= 0) ::close(folder_);
}

std::string ClearStaleSocket(const std::string& address) {
    struct stat st {};
    if (::lstat(address.c_str(), &st) != 0) return {};
    if (!S_ISSOCK(st.st_mode)) return address + " exists and is no socket";
    sockaddr_un un{};
    if (address.size() >= sizeof un.sun_path) return "the socket's name is too long: " + address;
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return Describe("no socket for", address);
    un.sun_family = AF_UNIX;
    std::memcpy(un.sun_path, address.c_str(), address.size() + 1);
    const bool served = ::connect(probe, reinterpret_cast<const sockaddr*>(&un), sizeof un) == 0;
    ::close(probe);
    if (served) return "another process serves " + address;
    if (::unlink(address.c_str()) != 0 && errno != ENOENT)
        return Describe("cannot remove", address);
    return {};
}

std::string RestrictSocket(const std::string& address) {
    if (::chmod(address.c_str(), 0660) != 0) return Describe("cannot set the mode of", address);
    return {};
}

void RemoveSocket(const std::string& address, unsigned long long inode) {
    struct stat st {};
    if (::lstat(address.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        static_cast<unsigned long long>(st.st_ino) == inode)
        ::unlink(address.c_str());
}

void ListenOnSocketFile(httplib::Server& server) {
    server.set_address_family(AF_UNIX);
    server.set_socket_options([](socket_t) {});
}

void ListenOnTcp(httplib::Server& server) {
    server.set_socket_options([](socket_t s) {
        int yes = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
}

void WidenBacklog(socket_t listening) {
    ::listen(listening, SOMAXCONN);
}

void ConnectToSocketFile(httplib::Client& client) {
    client.set_address_family(AF_UNIX);
}

// --- a connection ---------------------------------------------------------------

Connection::Connection(socket_t socket, const comm::StopEvent& stop, Limits limits)
    : socket_(socket), stop_(stop.Handle()), limits_(limits) {
    // Every wait is a poll of ours; a blocking call never waits unbounded.
    ::fcntl(socket_, F_SETFL, ::fcntl(socket_, F_GETFL) | O_NONBLOCK);
}

Connection::~Connection() {
    if (endAfterResponse_) {
        // The client may still be sending what was not read: it gets the
        // response before the close resets the connection.
        ::shutdown(socket_, SHUT_WR);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kDiscardMs);
        char sink[kReadChunk];
        std::size_t discarded = 0;
        while (discarded < kDiscardBytes && WaitFor(POLLIN, RemainingMs(deadline))) {
            const ssize_t n = ::recv(socket_, sink, sizeof sink, 0);
            if (n <= 0) break;
            discarded += static_cast<std::size_t>(n);
        }
    }
    ::shutdown(socket_, SHUT_RDWR);
    ::close(socket_);
}

bool Connection::WaitFor(short events, int ms) const {
    pollfd p[2] = {{socket_, events, 0}, {stop_, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(p, 2, ms);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || p[1].revents != 0) return false;
        return p[0].revents != 0;
    }
}

bool Connection::Fill(int ms) {
    if (used_ == buffer_.size()) {
        buffer_.clear();
        used_ = 0;
    }
    if (!WaitFor(POLLIN, ms)) return false;
    char chunk[kReadChunk];
    const ssize_t n = ::recv(socket_, chunk, sizeof chunk, 0);
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
    return used_ < buffer_.size() || WaitFor(POLLIN, RemainingMs(deadline_));
}

bool Connection::is_writable() const {
    return WaitFor(POLLOUT, limits_.writeMs);
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
    if (!WaitFor(POLLOUT, limits_.writeMs)) {
        spent_ = true;
        return -1;
    }
    const ssize_t n = ::send(socket_, ptr, size, MSG_NOSIGNAL);
    if (n < 0) spent_ = true;
    return n;
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
