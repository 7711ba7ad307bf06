// The local API's sockets on Windows. Neither Wine nor this HTTP library has
// a Unix socket there, so the socket file holds the address of a loopback
// TCP port and a fresh token, and only its owner, the system and the
// administrators may read it: whoever can read the file may use the API, as
// on POSIX whoever may open the socket. Each wait polls in short slices,
// looking at the stop event in between, since a socket and an event cannot
// share one wait.
#include "api/Sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <climits>

#include "api/Crypto.h"
#include "base/Files.h"
#include "base/TextUtils.h"
#include "base/win32/Accounts.h"
#include "base/win32/Wide.h"

namespace ristova::api {

namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr int kStopCheckMs = 50;
constexpr std::size_t kTokenBytes = 32;

struct LocalFile {
    std::string url;  // http://127.0.0.1:port
    std::string token;
};

// Only a loopback address of this machine: the token goes nowhere else.
bool ParseLocalFile(const std::string& bytes, LocalFile& file) {
    std::vector<std::string> lines;
    SplitText(bytes, "\n", lines);
    if (lines.size() < 2) return false;
    file.url = Trim(lines[0]);
    file.token = Trim(lines[1]);
    const std::string prefix = "http://" + std::string(kLoopback) + ":";
    long long port = 0;
    return file.url.starts_with(prefix) && TryStrToInt(file.url.substr(prefix.size()), port) &&
           port > 0 && port < 65536 && !file.token.empty();
}

// The file, new, for this account, the system and the administrators only.
std::string WriteOwnerOnly(const std::string& path, const std::string& text) {
    std::vector<unsigned char> user = win32::CurrentUserSid();
    LPWSTR sid = nullptr;
    if (user.empty() || !ConvertSidToStringSidW(user.data(), &sid))
        return "cannot read this account: " + win32::ErrorText(GetLastError());
    // Protected: nothing is inherited from the folder.
    const std::wstring sddl =
        L"D:P(A;;FA;;;" + std::wstring(sid) + L")(A;;FA;;;SY)(A;;FA;;;BA)";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return "cannot describe the access of " + path + ": " +
               win32::ErrorText(GetLastError());
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    win32::Handle file(CreateFileW(win32::WidePath(path).c_str(), GENERIC_WRITE, 0, &attributes,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD created = GetLastError();
    LocalFree(descriptor);
    if (!file.Valid()) return "cannot create " + path + ": " + win32::ErrorText(created);
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        const std::string problem = "cannot write " + path + ": " + win32::ErrorText(GetLastError());
        file = win32::Handle();
        DeleteFileW(win32::WidePath(path).c_str());
        return problem;
    }
    return {};
}

}  // namespace

SocketAddress::SocketAddress(const std::string& path) : usable_(path) {}

SocketAddress::~SocketAddress() = default;

// The folder's lock is ours: a file here is a crashed process's.
std::string ClearStaleSocket(const std::string& address) {
    if (!DeleteFileW(win32::WidePath(address).c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return "cannot remove " + address + ": " + win32::ErrorText(GetLastError());
    return {};
}

std::string BindLocal(httplib::Server& server, const std::string& address,
                      const std::string& shown, std::string& token) {
    token.clear();
    ListenOnTcp(server);
    const int port = server.bind_to_any_port(kLoopback);
    if (port < 0) return "cannot listen on " + std::string(kLoopback) + " for " + shown;
    unsigned char random[kTokenBytes];
    if (!RandomBytes(random, sizeof random)) return "no random token for " + shown;
    std::string fresh = BytesToHex(random, sizeof random);
    const std::string text =
        "http://" + std::string(kLoopback) + ":" + std::to_string(port) + "\n" + fresh + "\n";
    if (std::string problem = WriteOwnerOnly(address, text); !problem.empty()) return problem;
    token = std::move(fresh);
    return {};
}

void CloseSocket(socket_t socket) {
    ::closesocket(socket);
}

void RemoveSocket(const std::string& address, unsigned long long inode) {
    if (FileExists(address) && StampOf(address).inode == inode)
        DeleteFileW(win32::WidePath(address).c_str());
}

std::unique_ptr<httplib::Client> LocalClient(const std::string& address, std::string& error) {
    std::string bytes;
    LocalFile file;
    if (!ReadFileBytes(address, bytes)) {
        // A missing file is told as a socket nobody serves is on POSIX.
        error = FileExists(address)
                    ? "无法读取 " + address + ": 没有权限 (服务的文件须在管理员命令行中读取)"
                    : "无法连接到Ristova: " + address + " (" +
                          httplib::to_string(httplib::Error::Connection) + ")";
        return nullptr;
    }
    // A file another account made or may read could send the token to
    // anybody's server.
    if (OthersMayRead(address) || !ParseLocalFile(bytes, file)) {
        error = "不使用 " + address + ": 不是本账户的API地址文件";
        return nullptr;
    }
    auto client = std::make_unique<httplib::Client>(file.url);
    client->set_bearer_token_auth(file.token);
    return client;
}

void ListenOnTcp(httplib::Server& server) {
    // Windows' SO_REUSEADDR would let another process take the port over.
    server.set_socket_options([](socket_t s) {
        BOOL yes = TRUE;
        ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                     sizeof yes);
    });
}

void WidenBacklog(socket_t) {
    // Windows keeps the first backlog of a listening socket (the library's
    // five); a client refused in a burst tries again (ApiClient).
}

// --- a connection ---------------------------------------------------------------

Connection::Connection(socket_t socket, const comm::StopEvent& stop, Limits limits)
    : socket_(socket), stop_(stop.Handle()), limits_(limits) {
    u_long nonBlocking = 1;
    ::ioctlsocket(socket_, FIONBIO, &nonBlocking);
}

Connection::~Connection() {
    if (endAfterResponse_) {
        ::shutdown(socket_, SD_SEND);
        DropUnread();
    }
    ::shutdown(socket_, SD_BOTH);
    ::closesocket(socket_);
}

bool Connection::WaitFor(Ready ready, int ms) const {
    const short events = ready == Ready::kRead ? POLLIN : POLLOUT;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return false;
        WSAPOLLFD p{socket_, events, 0};
        const int n = ::WSAPoll(&p, 1, std::min(kStopCheckMs, RemainingMs(deadline)));
        if (n < 0) return false;
        if (n > 0) return p.revents != 0;
        if (RemainingMs(deadline) == 0) return false;
    }
}

long long Connection::Receive(char* into, std::size_t size) {
    return ::recv(socket_, into, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
}

long long Connection::Send(const char* from, std::size_t size) {
    return ::send(socket_, from, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
}

}  // namespace ristova::api
