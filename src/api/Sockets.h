#pragma once
// The platform's part of the local API (posix/Sockets.cpp): the socket file
// in the program folder, and one accepted connection whose every wait is
// bounded, so that a slow or silent client holds up nobody but itself.
#include <httplib.h>

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
// Only the owner and the group may connect (mode 0660).
std::string RestrictSocket(const std::string& address);
// Removes the socket file when it is still the one made at `inode`.
void RemoveSocket(const std::string& address, unsigned long long inode);

// A listener's platform settings, before it binds: a socket file, or TCP.
// A TCP port can be bound again at once after a restart, but by no other
// process while it is ours (the library's default would share it).
void ListenOnSocketFile(httplib::Server& server);
void ListenOnTcp(httplib::Server& server);
// After the bind: room for many connections that arrive at once (the
// library asks for five), so that a burst is not refused.
void WidenBacklog(socket_t listening);
// A client's: it connects to a socket file.
void ConnectToSocketFile(httplib::Client& client);

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
    // Waits until the socket is ready for `events` or ms pass; false on
    // time-out, stop or failure.
    bool WaitFor(short events, int ms) const;
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
