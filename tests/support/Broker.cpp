#include "support/Broker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace ristova::test {

namespace {

int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

bool Accepts(int port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

}  // namespace

Broker::Broker() = default;

Broker::~Broker() {
    Resume();
    Stop();
}

bool Broker::Start(const std::vector<std::string>& users) {
    if (port_ == 0) port_ = FreePort();
    const std::string log = dir_.File("mosquitto.log");
    std::string config = "persistence false\nlistener " + std::to_string(port_) +
                         " 127.0.0.1\nlog_dest file " + log + "\n";
    // Started as root, mosquitto changes to the user "mosquitto" before it
    // reads the password file, which then lies in a folder only root may
    // enter: it stays root here.
    if (geteuid() == 0) config += "user root\n";
    users_ = users;
    if (users.empty()) {
        config += "allow_anonymous true\n";
    } else {
        const std::string passwords = dir_.File("passwords");
        std::ofstream(passwords).close();
        for (const std::string& user : users) {
            const std::size_t colon = user.find(':');
            ChildProcess passwd;
            if (!passwd.Start({"/usr/bin/mosquitto_passwd", "-b", passwords, user.substr(0, colon),
                               user.substr(colon + 1)}) ||
                !passwd.WaitExit(kProgramStartMs)) {
                error_ = "mosquitto_passwd failed";
                return false;
            }
        }
        config += "allow_anonymous false\npassword_file " + passwords + "\n";
    }
    dir_.Write("mosquitto.conf", config);
    // Its log goes to the file; only the warning about root comes out here.
    ChildProcess::Options o;
    o.captureStdout = true;
    o.stderrToStdout = true;
    if (!broker_.Start({"/usr/sbin/mosquitto", "-c", dir_.File("mosquitto.conf")}, o)) {
        error_ = broker_.Error();
        return false;
    }
    // Its first start on a fresh machine may take a while.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgramStartMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Accepts(port_)) return true;
        if (!broker_.Running()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error_ = "mosquitto did not come up on port " + std::to_string(port_) + ": " + dir_.Read("mosquitto.log");
    return false;
}

void Broker::Stop() {
    broker_.Stop(3000);
}

void Broker::Kill() {
    if (broker_.Running()) kill(broker_.Pid(), SIGKILL);
    broker_.WaitExit(3000);
}

void Broker::Pause() {
    if (broker_.Running()) kill(broker_.Pid(), SIGSTOP);
}

void Broker::Resume() {
    if (broker_.Running()) kill(broker_.Pid(), SIGCONT);
}

std::vector<std::string> Broker::ClientArgs(const std::string& program) const {
    std::vector<std::string> args{program, "-h", "127.0.0.1", "-p", std::to_string(port_)};
    if (!users_.empty()) {
        const std::size_t colon = users_.front().find(':');
        args.insert(args.end(), {"-u", users_.front().substr(0, colon), "-P",
                                 users_.front().substr(colon + 1)});
    }
    return args;
}

bool Broker::Publish(const std::string& topic, const std::string& payload, bool retain) {
    std::vector<std::string> args = ClientArgs("/usr/bin/mosquitto_pub");
    args.insert(args.end(), {"-q", "1", "-t", topic, "-m", payload});
    if (retain) args.push_back("-r");
    ChildProcess pub;
    return pub.Start(args) && pub.WaitExit(kProgramStartMs) && pub.Status() == 0;
}

std::vector<std::string> Broker::Collect(const std::string& filter, int count, int timeoutMs) {
    Subscriber sub(*this, filter);
    std::vector<std::string> lines;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    while (static_cast<int>(lines.size()) < count && std::chrono::steady_clock::now() < deadline) {
        if (sub.Next(line, 100)) lines.push_back(line);
    }
    return lines;
}

Subscriber::Subscriber(const Broker& broker, const std::string& filter) {
    std::vector<std::string> args = broker.ClientArgs("/usr/bin/mosquitto_sub");
    args.insert(args.end(), {"-v", "-t", filter});
    ChildProcess::Options o;
    o.captureStdout = true;
    sub_.Start(args, o);
}

bool Subscriber::Next(std::string& line, int timeoutMs, const std::string& topic) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !sub_.ReadLine(line, static_cast<int>(left))) return false;
        if (topic.empty() || line.rfind(topic + " ", 0) == 0 || line == topic) return true;
    }
}

}  // namespace ristova::test
