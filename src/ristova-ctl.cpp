// ristova-ctl: the command-line view of a running Ristova, through the
// local API of its program folder. Readable Chinese by default, the API's
// JSON with --json.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "api/ApiClient.h"
#include "api/ApiModel.h"
#include "base/CommandLine.h"
#include "base/DataFolder.h"
#include "base/Files.h"
#include "base/Process.h"
#include "base/TextUtils.h"
#include "run/EventTexts.h"

namespace {

constexpr const char* kName = "ristova-ctl";
constexpr int kDone = 0;
constexpr int kRefused = 1;
constexpr int kBadUsage = 2;
constexpr int kUnreachable = 3;

using ristova::api::ApiResult;

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: ristova-ctl [--folder DIR | --socket PATH | --url URL --token-file FILE]\n"
                 "                   [--json] COMMAND\n"
                 "Asks the Ristova process that runs a program folder, through its API.\n"
                 "\n"
                 "Commands:\n"
                 "  status                    the controllers, their line and relays\n"
                 "  on CTL K, off CTL K       switch relay K of controller CTL (e.g. 泵房.PSW)\n"
                 "  run, stop                 start or stop running, as the run page's buttons\n"
                 "  events [--follow]         today's events; --follow: then each new one\n"
                 "  journal [--date YYYY-MM-DD] [--controller CTL]\n"
                 "                            a day's events (default today, every controller)\n"
                 "\n"
                 "  --folder DIR      the program folder, whose .ristova.sock is asked (default:\n"
                 "                    the executable's folder when it can be written, else\n"
                 "                    ~/.local/share/ristova/, on Windows %%LOCALAPPDATA%%\\Ristova)\n"
                 "  --socket PATH     the socket file itself\n"
                 "  --url URL         TCP instead (http://host:port), with the token whose file\n"
                 "  --token-file FILE names\n"
                 "  --json            the API's JSON instead of text\n"
                 "  --help, --version\n"
                 "\n"
                 "Exit status: 0 done, 1 refused (the reason on standard error), 2 bad usage,\n"
                 "3 Ristova cannot be reached.\n");
}

int BadUsage(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kName, message.c_str());
    Usage(stderr);
    return kBadUsage;
}

struct Options {
    std::string socket;
    std::string url;
    std::string tokenFile;
    bool json = false;
    bool follow = false;
    std::string date;
    std::string controller;
    std::vector<std::string> words;  // the command and its arguments
};

// The options after the shared ones; empty, or what is wrong.
std::string ParseOptions(const std::vector<std::string>& args, Options& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string* value = arg == "--socket"       ? &o.socket
                             : arg == "--url"        ? &o.url
                             : arg == "--token-file" ? &o.tokenFile
                             : arg == "--date"       ? &o.date
                             : arg == "--controller" ? &o.controller
                                                     : nullptr;
        if (value) {
            if (i + 1 >= args.size() || args[i + 1].empty()) return arg + " needs a value";
            *value = args[++i];
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--follow" || arg == "-f") {
            o.follow = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option: " + arg;
        } else {
            o.words.push_back(arg);
        }
    }
    return {};
}

// The process's answer to a request that did not succeed.
int Failed(const ApiResult& result) {
    std::fprintf(stderr, "%s: %s\n", kName, result.error.c_str());
    // 503: the engine did not take the request in time; nothing was done.
    return !result.reached || result.status == 503 ? kUnreachable : kRefused;
}

void Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

const char* LineText(const std::string& line) {
    return line == "ok"          ? "通信正常"
           : line == "lost"      ? "通信中断"
           : line == "no-answer" ? "无应答"
                                 : "已停止";
}

const char* StateText(const std::string& state) {
    return state == "on" ? "接通" : state == "off" ? "断开" : "未知";
}

void PrintStatus(const ristova::api::SiteStatus& s) {
    Print("程序文件夹: " + s.folder + (s.running ? " (运行中)" : " (未运行)"));
    for (const ristova::api::ControllerStatus& c : s.controllers) {
        Print("控制器 " + c.name + ": " + (c.running ? "运行中" : "未运行") + ", " +
              LineText(c.line) + ", 计划表 " + (c.plan.empty() ? "-" : c.plan));
        Print("  " + c.comText);
        for (const ristova::api::RelayStatus& r : c.relays) {
            Print("  继电器" + std::to_string(r.relay) + " " + StateText(r.state) +
                  "  常开:" + r.noUse + "  常闭:" + r.ncUse + (r.mismatch ? "  未按指令动作" : ""));
        }
    }
}

std::string EventLine(const ristova::run::RunEvent& event) {
    const ristova::run::RunEvent e = ristova::run::ShownEvent(event);
    return e.at + " " + e.controller + " " +
           (e.relay > 0 ? "继电器" + std::to_string(e.relay) : std::string("-")) + " " + e.kind +
           " " + e.source + " " + e.result + (e.detail.empty() ? "" : " " + e.detail);
}

// Prints a JSON array of events, or the text itself with --json.
bool PrintEvents(const std::string& body, bool json) {
    if (json) {
        Print(body);
        return true;
    }
    std::vector<ristova::run::RunEvent> events;
    std::string error;
    if (!ristova::api::FromJson(body, events, error)) {
        std::fprintf(stderr, "%s: unexpected answer: %s\n", kName, error.c_str());
        return false;
    }
    for (const ristova::run::RunEvent& e : events) Print(EventLine(e));
    return true;
}

using EventKey =
    std::tuple<std::string, std::string, int, std::string, std::string, std::string, std::string>;
EventKey KeyOf(const ristova::run::RunEvent& e) {
    return {e.at, e.controller, e.relay, e.kind, e.source, e.result, e.detail};
}

// Today's events, then (--follow) each new one as it comes. The stream is
// opened first, so that nothing falls between the day read and the
// stream; what both bring is printed once.
int Events(ristova::api::ApiClient& client, ristova::api::ApiClient& streamClient, bool follow,
           bool json) {
    if (!follow) {
        const ApiResult today = client.Journal({}, {});
        if (!today.Ok()) return Failed(today);
        return PrintEvents(today.body, json) ? kDone : kRefused;
    }
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::string> arrived;
    bool open = false;
    bool ended = false;
    ApiResult end;
    std::thread stream([&] {
        ApiResult result = streamClient.Events(
            [&](const std::string& event) {
                std::lock_guard lock(mutex);
                arrived.push_back(event);
                cv.notify_all();
                return true;
            },
            [&] {
                std::lock_guard lock(mutex);
                open = true;
                cv.notify_all();
            });
        std::lock_guard lock(mutex);
        end = std::move(result);
        ended = true;
        cv.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return open || ended; });
    }
    std::multimap<EventKey, int> printed;
    const ApiResult today = open ? client.Journal({}, {}) : ApiResult{};
    if (open && !today.Ok()) {
        streamClient.Cancel();
        stream.join();
        return Failed(today);
    }
    std::vector<ristova::run::RunEvent> events;
    std::string error;
    if (open && ristova::api::FromJson(today.body, events, error)) {
        for (const ristova::run::RunEvent& e : events) {
            Print(json ? ristova::api::ToJson(e) : EventLine(e));
            printed.emplace(KeyOf(e), 0);
        }
    }
    for (;;) {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return !arrived.empty() || ended; });
        if (arrived.empty()) break;
        const std::string text = std::move(arrived.front());
        arrived.pop_front();
        lock.unlock();
        ristova::run::RunEvent e;
        if (!ristova::api::FromJson(text, e, error)) continue;
        if (auto seen = printed.find(KeyOf(e)); seen != printed.end()) {
            printed.erase(seen);
            continue;
        }
        Print(json ? text : EventLine(e));
    }
    stream.join();
    if (!end.Ok()) return Failed(end);
    std::fprintf(stderr, "%s: 事件流已结束\n", kName);
    return kUnreachable;
}

int Run(const Options& o, ristova::api::Endpoint endpoint) {
    const std::vector<std::string>& w = o.words;
    const std::string& command = w.front();
    auto arguments = [&](std::size_t count) { return w.size() == count + 1; };
    ristova::api::ApiClient client(endpoint);
    if (command == "status" && arguments(0)) {
        const ApiResult r = client.Status();
        if (!r.Ok()) return Failed(r);
        if (o.json) {
            Print(r.body);
            return kDone;
        }
        ristova::api::SiteStatus status;
        std::string error;
        if (!ristova::api::FromJson(r.body, status, error)) {
            std::fprintf(stderr, "%s: unexpected answer: %s\n", kName, error.c_str());
            return kRefused;
        }
        PrintStatus(status);
        return kDone;
    }
    if ((command == "on" || command == "off") && arguments(2)) {
        long long relay = 0;
        if (!ristova::TryStrToInt(w[2], relay) || relay < 1 || relay > 999)
            return BadUsage("no relay number: " + w[2]);
        const bool on = command == "on";
        const ApiResult r = client.Switch(w[1], static_cast<int>(relay), on);
        if (!r.Ok()) return Failed(r);
        Print(o.json ? r.body
                     : "已发送: " + w[1] + " 继电器" + std::to_string(relay) +
                           (on ? " 接通" : " 断开"));
        return kDone;
    }
    if ((command == "run" || command == "stop") && arguments(0)) {
        const ApiResult r = command == "run" ? client.Run() : client.Stop();
        if (!r.Ok()) return Failed(r);
        Print(o.json ? r.body : command == "run" ? "已开始运行" : "已停止运行");
        return kDone;
    }
    if (command == "events" && arguments(0)) {
        ristova::api::ApiClient streamClient(endpoint);
        return Events(client, streamClient, o.follow, o.json);
    }
    if (command == "journal" && arguments(0)) {
        const ApiResult r = client.Journal(o.date, o.controller);
        if (!r.Ok()) return Failed(r);
        return PrintEvents(r.body, o.json) ? kDone : kRefused;
    }
    std::string given;
    for (const std::string& word : w) given += (given.empty() ? "" : " ") + word;
    return BadUsage("unknown command or wrong arguments: " + given);
}

}  // namespace

int main(int argc, char** argv) {
    ristova::UseUtf8Console();
    const ristova::CommandLine cl =
        ristova::ParseCommandLine(ristova::ProgramArguments(argc, argv));
    if (!cl.error.empty()) return BadUsage(cl.error);
    if (cl.help) {
        Usage(stdout);
        return kDone;
    }
    if (cl.version) {
        std::puts(ristova::VersionText(kName).c_str());
        return kDone;
    }
    Options o;
    if (const std::string problem = ParseOptions(cl.other, o); !problem.empty())
        return BadUsage(problem);
    if (o.words.empty()) return BadUsage("no command");
    const int places = !cl.folder.empty() + !o.socket.empty() + !o.url.empty();
    if (places > 1) return BadUsage("--folder, --socket and --url exclude each other");
    if (!o.tokenFile.empty() && o.url.empty()) return BadUsage("--token-file goes with --url");
    if ((o.follow && o.words.front() != "events") ||
        ((!o.date.empty() || !o.controller.empty()) && o.words.front() != "journal"))
        return BadUsage("an option that does not go with " + o.words.front());

    ristova::api::Endpoint endpoint;
    if (!o.url.empty()) {
        endpoint.url = o.url;
        if (!o.tokenFile.empty()) {
            std::string bytes;
            if (!ristova::ReadFileBytes(o.tokenFile, bytes))
                return BadUsage("cannot read the token file " + o.tokenFile);
            endpoint.token = ristova::Trim(bytes.substr(0, bytes.find_first_of("\r\n")));
        }
    } else if (!o.socket.empty()) {
        endpoint.socketPath = o.socket;
    } else {
        const std::string folder = ristova::ChooseProgramFolder(
            cl.folder, ristova::ExecutableFolder(), ristova::ProcessFolderEnv());
        endpoint.socketPath = ristova::api::SocketPathOf(folder);
    }
    return Run(o, endpoint);
}
