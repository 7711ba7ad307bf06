// The helper on POSIX: fork and exec with a socket pair as its standard input
// and output. A socket rather than pipes, so that a write to a helper that
// died is an error (MSG_NOSIGNAL), not a SIGPIPE that ends this process.
#include "base/HelperProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace ristova {

namespace {

using Steady = std::chrono::steady_clock;

int MsLeft(Steady::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until the channel is ready for `events`, the stop handle is
// readable, or the deadline has passed.
HelperProcess::Io WaitFor(int channel, short events, NativeHandle stop,
                          Steady::time_point deadline) {
    for (;;) {
        pollfd fds[2] = {{channel, events, 0}, {stop, POLLIN, 0}};
        const int n = ::poll(fds, stop == kNoHandle ? 1 : 2, MsLeft(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return HelperProcess::Io::Ended;
        if (stop != kNoHandle && (fds[1].revents & POLLIN) != 0) return HelperProcess::Io::Stopped;
        if (n == 0) return HelperProcess::Io::TimedOut;
        // A hang-up with bytes still to read is read first.
        if ((fds[0].revents & events) != 0) return HelperProcess::Io::Done;
        return HelperProcess::Io::Ended;
    }
}

std::string StatusText(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = ::sigdescr_np(signal);
        return "signal " + std::to_string(signal) + (name ? std::string(" (") + name + ")" : "");
    }
    return "status " + std::to_string(status);
}

}  // namespace

bool HelperProcess::Spawn(const std::vector<std::string>& argv) {
    // Everything the child needs is made before fork: only async-signal-safe
    // calls happen between fork and exec.
    std::vector<std::string> args = argv;
    std::vector<char*> cargs;
    for (std::string& a : args) cargs.push_back(a.data());
    cargs.push_back(nullptr);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    // The child's copies of our descriptors (a port's, whose lock they
    // share) last until its exec; this pipe closes there, and carries the
    // reason when the exec fails.
    int exec[2];
    if (::pipe2(exec, O_CLOEXEC) != 0) {
        error_ = std::strerror(errno);
        ::close(pair[0]);
        ::close(pair[1]);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        // The stop signals this process blocks for its own loop are the
        // helper's to decide.
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(pair[1], STDIN_FILENO);
        ::dup2(pair[1], STDOUT_FILENO);
        if (exec[1] > 3) ::close_range(3, static_cast<unsigned>(exec[1]) - 1, 0);
        ::close_range(static_cast<unsigned>(exec[1]) + 1, ~0U, 0);
        ::execv(cargs[0], cargs.data());
        const int error = errno;
        [[maybe_unused]] ssize_t told = ::write(exec[1], &error, sizeof error);
        ::_exit(127);
    }
    const int forkError = errno;
    ::close(pair[1]);
    ::close(exec[1]);
    if (pid < 0) {
        ::close(pair[0]);
        ::close(exec[0]);
        error_ = std::strerror(forkError);
        return false;
    }
    int execError = 0;
    ssize_t n;
    while ((n = ::read(exec[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    ::close(exec[0]);
    process_ = pid;
    channel_ = pair[0];
    if (n == static_cast<ssize_t>(sizeof execError)) {
        Kill();
        error_ = std::strerror(execError);
        return false;
    }
    return true;
}

HelperProcess::Io HelperProcess::Write(std::string_view bytes, int timeoutMs, NativeHandle stop) {
    if (channel_ == kNoHandle) return Io::Ended;
    const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    while (!bytes.empty()) {
        const Io ready = WaitFor(channel_, POLLOUT, stop, deadline);
        if (ready != Io::Done) return ready;
        const ssize_t n = ::send(channel_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return Io::Ended;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return Io::Done;
}

HelperProcess::Io HelperProcess::Read(std::string& into, int timeoutMs, NativeHandle stop) {
    if (channel_ == kNoHandle) return Io::Ended;
    const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const Io ready = WaitFor(channel_, POLLIN, stop, deadline);
        if (ready != Io::Done) return ready;
        char buffer[16384];
        const ssize_t n = ::recv(channel_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return Io::Ended;
        into.append(buffer, static_cast<std::size_t>(n));
        return Io::Done;
    }
}

void HelperProcess::Kill() {
    if (channel_ != kNoHandle) ::close(channel_);
    channel_ = kNoHandle;
    if (process_ == kNoHandle) return;
    ::kill(process_, SIGKILL);
    int status = 0;
    pid_t collected;
    while ((collected = ::waitpid(process_, &status, 0)) < 0 && errno == EINTR) {
    }
    // Collected by someone else (SIGCHLD ignored): its end is not known.
    endText_ = collected == process_ ? StatusText(status) : "ended";
    process_ = kNoHandle;
}

}  // namespace ristova
