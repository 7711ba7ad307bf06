#include "HostPlatform.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace ristova::decoder_host {

bool HostChannel::Open() {
    handle_ = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    if (handle_ < 0) return false;
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing >= 0) {
        ::dup2(nothing, STDIN_FILENO);
        ::close(nothing);
    }
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    return true;
}

std::size_t HostChannel::Read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(handle_, buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return 0;
    }
}

bool HostChannel::WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(handle_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void IgnoreStopSignals() {
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) ::signal(s, SIG_IGN);
}

namespace {

sigjmp_buf* guard = nullptr;

void OnFault(int) {
    siglongjmp(*guard, 1);
}

}  // namespace

std::string CopyPluginText(const char* text, std::size_t limit) {
    if (text == nullptr) return {};
    // Only for the length: a fault outside this read stays a crash of the
    // plug-in, which the engine reports.
    struct sigaction fault {
    }, oldSegv{}, oldBus{};
    fault.sa_handler = OnFault;
    ::sigemptyset(&fault.sa_mask);
    sigjmp_buf here;
    volatile std::size_t length = 0;
    guard = &here;
    ::sigaction(SIGSEGV, &fault, &oldSegv);
    ::sigaction(SIGBUS, &fault, &oldBus);
    if (sigsetjmp(here, 1) == 0) {
        const volatile char* p = text;
        while (length < limit && p[length] != '\0') length = length + 1;
    }
    ::sigaction(SIGSEGV, &oldSegv, nullptr);
    ::sigaction(SIGBUS, &oldBus, nullptr);
    guard = nullptr;
    return std::string(text, length);
}

}  // namespace ristova::decoder_host
