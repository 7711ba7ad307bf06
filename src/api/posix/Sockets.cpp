// The local API's sockets on POSIX: the socket file, and connections read
// and written with poll, each wait bounded and ended by the stop event.
#include "api/Sockets.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ristova::api {

namespace {

std::string Describe(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
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

void RemoveSocket(const std::string& address, unsigned long long inode) {
    struct stat st {};
    if (::lstat(address.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        static_cast<unsigned long long>(st.st_ino) == inode)
        ::unlink(address.c_str());
}

std::string BindLocal(httplib::Server& server, const std::string& address,
                      const std::string& shown, std::string& token) {
    token.clear();
    server.set_address_family(AF_UNIX);
    server.set_socket_options([](socket_t) {});
    if (!server.bind_to_port(address, 80)) return "cannot listen on " + shown;
    // Only the owner and the group may connect; open to every account, it
    // is not served.
    if (::chmod(address.c_str(), 0660) != 0) {
        const std::string problem = Describe("cannot set the mode of", shown);
        ::unlink(address.c_str());
        return problem;
    }
    return {};
}

void CloseSocket(socket_t socket) {
    ::close(socket);
}

std::unique_ptr<httplib::Client> LocalClient(const std::string& address, std::string&) {
    auto client = std::make_unique<httplib::Client>(address, 80);
    client->set_address_family(AF_UNIX);
    return client;
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

// --- a connection ---------------------------------------------------------------

Connection::Connection(socket_t socket, const comm::StopEvent& stop, Limits limits)
    : socket_(socket), stop_(stop.Handle()), limits_(limits) {
    // Every wait is a poll of ours; a blocking call never waits unbounded.
    ::fcntl(socket_, F_SETFL, ::fcntl(socket_, F_GETFL) | O_NONBLOCK);
}

Connection::~Connection() {
    if (endAfterResponse_) {
        ::shutdown(socket_, SHUT_WR);
        DropUnread();
    }
    ::shutdown(socket_, SHUT_RDWR);
    ::close(socket_);
}

bool Connection::WaitFor(Ready ready, int ms) const {
    const short events = ready == Ready::kRead ? POLLIN : POLLOUT;
    pollfd p[2] = {{socket_, events, 0}, {stop_, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(p, 2, ms);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || p[1].revents != 0) return false;
        return p[0].revents != 0;
    }
}

long long Connection::Receive(char* into, std::size_t size) {
    return ::recv(socket_, into, size, 0);
}

long long Connection::Send(const char* from, std::size_t size) {
    return ::send(socket_, from, size, MSG_NOSIGNAL);
}

}  // namespace ristova::api
