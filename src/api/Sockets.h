#pragma once
// The platform's part of the local API (posix/, win32/Sockets.cpp): the
// socket file in the program folder, and one accepted connection whose every
// wait is bounded, so that a slow or silent client holds up nobody but itself.
// On POSIX the file is a Unix socket. Windows (and Wine) lack a Unix socket
// the HTTP library can use, so there the file names a loopback TCP port and a
// token, and only its owner may read it.
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "comm/CommWorkers.h"

namespace ristova::api {

// A socket file's path as bind and connect take it. A path too long for a
// socket address is reached through a handle of its folder, held here.
class SocketAddress {
  public:
    explicit SocketAddress(const std::string& path);
    ~SocketAddress();
    SocketAddress(const SocketAddress&) = delete;
    SocketAddress& operator=(const SocketAddress&) = delete;
    // Empty, with Error(), when the folder cannot be reached.
    const std::string& Usable() const { return usable_; }
    const std::string& Error() const { return error_; }

  private:
    NativeHandle folder_ = kNoHandle;
    std::string usable_;
    std::string error_;
};

// Makes room for a new listener at the address: a socket file that nobody
// serves (a process ended without removing it) is removed. Empty, or why
// the place cannot be used (another process serves it; it is no socket).
std::string ClearStaleSocket(const std::string& address);
// Binds the local listener to the socket file, which only the owner (and on
// POSIX the group) may use. `token` is what each of its requests must then
// carry as a bearer token; empty where the file's mode guards it alone.
// Empty, or why not (naming the file as `shown`): then no file is left, and
// a socket that was bound waits for CloseSocket.
std::string BindLocal(httplib::Server& server, const std::string& address,
                      const std::string& shown, std::string& token);
// Closes a socket that never got to listen (the library's stop only ends a
// running accept loop).
void CloseSocket(socket_t socket);
// Removes the socket file when it is still the one made at `inode`.
void RemoveSocket(const std::string& address, unsigned long long inode);
// A client of the socket file; null, with why, when the file cannot be used.
std::unique_ptr<httplib::Client> LocalClient(const std::string& address, std::string& error);

// What is left of a wait until deadline, in ms, never below 0.
inline int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

// A TCP listener's platform settings, before it binds: the port can be bound
// again at once after a restart, but by no other process while it is ours
// (the library's default would share it).
void ListenOnTcp(httplib::Server& server);
// After the bind: room for many connections that arrive at once (the
// library asks for five), so that a burst is not refused.
void WidenBacklog(socket_t listening);

// One accepted connection, as the HTTP library reads and writes it.
class Connection : public httplib::Stream {
  public:
    struct Limits {
        int keepAliveMs = 5000;  // the wait for the next request
        int requestMs = 10000;   // from a request's first byte to its last
        int writeMs = 5000;      // each write
        // Head and body of one request; a head may take up to 16 KiB.
        std::size_t requestBytes = 20 * 1024;
    };
    // The socket is this connection's from now on; stop ends every wait.
    Connection(socket_t socket, const comm::StopEvent& stop, Limits limits);
    ~Connection() override;  // closes
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Waits for the first byte of the next request; false when the client
    // closed, kept silent or the server stops.
    bool WaitForRequest();
    // A request starts: its time and size are counted from here.
    void BeginRequest();
    // A request ran over its time or size, or the server stops: the
    // connection must end.
    bool Spent() const { return spent_; }
    // What the client sent with this request is not read: the connection
    // ends after the response, without reading the rest.
    void EndAfterResponse() { endAfterResponse_ = true; }
    bool EndsAfterResponse() const { return endAfterResponse_; }

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return socket_; }

  private:
    enum class Ready { kRead, kWrite };
    // The platform's (posix/, win32/Sockets.cpp): waits until the socket is
    // ready or ms pass, false on time-out, stop or failure; one recv or
    // send, as the system returns it.
    bool WaitFor(Ready ready, int ms) const;
    long long Receive(char* into, std::size_t size);
    long long Send(const char* from, std::size_t size);
    // Connection.cpp: reads and drops what the client still sends, bounded,
    // so that it gets the response before the close resets the connection.
    void DropUnread();
    bool Fill(int ms);

    socket_t socket_;
    NativeHandle stop_;
    Limits limits_;
    std::string buffer_;
    std::size_t used_ = 0;  // of buffer_, handed out
    std::chrono::steady_clock::time_point deadline_;
    std::size_t requestBytes_ = 0;
    bool spent_ = false;
    bool endAfterResponse_ = false;
};

}  // namespace ristova::api
