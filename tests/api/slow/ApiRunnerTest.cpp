// The local API of a real ristova-run driving the simulated board: over the
// socket and over TCP with its token, the status, switching, the refusals,
// the event stream, what a hostile or slow client gets, and ristova-ctl.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "api/ApiClient.h"
#include "api/ApiModel.h"
#include "app/RunnerFixture.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/TextUtils.h"
#include "support/Simulator.h"

namespace ristova {
namespace {

using test::ExitCode;
using test::ReadUntil;
using namespace std::chrono_literals;

constexpr const char* kSocket = ".ristova.sock";

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

int ConnectUnix(const std::string& path) {
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

// What a client reads until the server closes or the time is up.
std::string ReadAll(int s, int timeoutMs) {
    std::string text;
    pollfd p{s, POLLIN, 0};
    char buffer[4096];
    while (::poll(&p, 1, timeoutMs) > 0) {
        const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// What a client reads until `text` has come, or the time is up.
std::string ReadUntilText(int s, const std::string& text, int timeoutMs) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd p{s, POLLIN, 0};
    char buffer[4096];
    while (got.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        if (::poll(&p, 1, 200) <= 0) continue;
        const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

class ApiRunnerTest : public ::testing::Test, public test::RunnerFixture {
  protected:
    // The folder on the simulator, manual switching allowed (unless told),
    // its runner started.
    void StartSite(test::ChildProcess& runner, std::time_t due, bool manual = true,
                   std::vector<std::string> args = {}) {
        if (!sim.Running()) {
            ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
        }
        MakeFolder(sim.SlavePath(), due);
        settings::WriteSwitch(ctx.settingsFile, settings::kChkManOperate, manual);
        ASSERT_TRUE(StartRunner(runner, args));
        ASSERT_TRUE(ReadUntil(runner, " run engine started", lines, test::kProgramStartMs));
        WaitForApi();
    }
    // The API starts after the engine.
    void WaitForApi() {
        api::ApiClient client(Socket());
        ASSERT_TRUE(WaitUntil([&] { return client.Status().reached; }));
    }
    api::Endpoint Socket() const { return {dir.File(kSocket), {}, {}}; }
    static api::SiteStatus StatusOf(api::ApiClient& client) {
        api::SiteStatus status;
        std::string error;
        const api::ApiResult r = client.Status();
        if (r.Ok()) api::FromJson(r.body, status, error);
        return status;
    }
    static std::string RelayState(api::ApiClient& client, int relay) {
        const api::SiteStatus s = StatusOf(client);
        return s.controllers.empty() ? "" : s.controllers[0].relays[relay - 1].state;
    }
    bool BoardGot(const std::string& command) {
        return WaitUntil([&] {
            for (const test::SimulatorCommand& c : sim.Commands())
                if (c.text == command) return true;
            return false;
        });
    }

    test::SimulatorProcess sim;
    std::vector<std::string> lines;
};

TEST_F(ApiRunnerTest, TheSocketTellsTheStateSwitchesAndSaysWhyNot) {
    // A socket left behind by a process that crashed is replaced.
    {
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, dir.File(kSocket).c_str(), sizeof a.sun_path - 1);
        ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::close(stale);
    }
    test::ChildProcess runner;
    const std::time_t due = std::time(nullptr) + 3600;
    StartSite(runner, due);
    struct stat st {};
    ASSERT_EQ(::stat(dir.File(kSocket).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    api::ApiClient client(Socket());
    ASSERT_TRUE(WaitUntil([&] { return RelayState(client, 1) == "off"; }));
    const api::SiteStatus s = StatusOf(client);
    EXPECT_EQ(s.folder, dir.Path());
    EXPECT_TRUE(s.running);
    ASSERT_EQ(s.controllers.size(), 1u);
    const api::ControllerStatus& c = s.controllers[0];
    EXPECT_EQ(c.name, kController);
    EXPECT_EQ(c.line, "ok");
    EXPECT_EQ(c.plan, "计划表.tab");
    EXPECT_EQ(c.comText, "通信状态:正常启动");
    ASSERT_EQ(c.relays.size(), 4u);
    EXPECT_EQ(c.relays[2].noUse, "灯3");
    EXPECT_EQ(c.relays[2].ncUse, "不存在");
    EXPECT_EQ(c.relays[2].onCommand, test::Hex(test::OnCommand(3)));
    api::ControllerStatus detail;
    std::string error;
    ASSERT_TRUE(api::FromJson(client.Controller(kController).body, detail, error)) << error;
    ASSERT_EQ(detail.planRows.size(), 1u);
    EXPECT_EQ(detail.planRows[0][1], "2");
    // The plan's next action (today's, unless the hour ahead is tomorrow).
    const int dueSecond = TimeTextToSeconds(test::TimeText(due), ":");
    if (dueSecond > TimeTextToSeconds(test::TimeText(std::time(nullptr)), ":")) {
        ASSERT_EQ(c.nextActions.size(), 1u);
        EXPECT_EQ(c.nextActions[0].time, test::TimeText(due));
        EXPECT_EQ(c.nextActions[0].relay, 2);
        EXPECT_TRUE(c.nextActions[0].on);
        EXPECT_EQ(c.nextActions[0].noUse, "灯2");
    }

    const api::ApiResult on = client.Switch(kController, 3, true);
    EXPECT_EQ(on.status, 200) << on.body;
    EXPECT_EQ(on.body, R"({"result":"sent"})");
    EXPECT_TRUE(BoardGot(test::OnCommand(3)));
    EXPECT_TRUE(WaitUntil([&] { return RelayState(client, 3) == "on"; }));

    // Unknown things, and bodies that are not what a switch takes.
    EXPECT_EQ(client.Switch("无此.PSW", 1, true).status, 404);
    EXPECT_EQ(client.Switch(kController, 9, true).status, 404);
    EXPECT_EQ(client.Controller("无此.PSW").status, 404);
    httplib::Client raw(dir.File(kSocket), 80);
    raw.set_address_family(AF_UNIX);
    for (const char* body : {"{", R"({"state":"on","x":1})", R"({"state":"maybe"})", "[]", "{}"}) {
        const auto r = raw.Post("/api/v1/controllers/%E6%B3%B5%E6%88%BF.PSW/relays/1", body,
                                "application/json");
        ASSERT_TRUE(r) << body;
        EXPECT_EQ(r->status, 400) << body;
        EXPECT_FALSE(api::ErrorText(r->body).empty()) << body;
    }
    EXPECT_EQ(raw.Get("/api/v1/nothing")->status, 404);
    EXPECT_EQ(raw.Put("/api/v1/run", "", "application/json")->status, 405);
    EXPECT_EQ(raw.Get("/api/v1/journal?date=2026-02-30")->status, 400);

    // The day as the history page draws it: the plan's period of relay 2,
    // the board's of relay 3 since the switch, which is a command tick.
    // (A period is seen once a second of it has gone by.)
    nlohmann::json t;
    ASSERT_TRUE(WaitUntil([&] {
        const auto day = raw.Get("/api/v1/timeline?controller=" + api::UrlEncode(kController));
        t = day && day->status == 200 ? nlohmann::json::parse(day->body) : nlohmann::json();
        return t.contains("relays") && t["relays"].size() == 4 && !t["relays"][2]["board"].empty();
    })) << t.dump();
    EXPECT_EQ(t["relays"][2]["name"], "灯3");
    EXPECT_EQ(t["relays"][1]["plan"],
              nlohmann::json::parse("[[" + std::to_string(dueSecond) + ",86400]]"));
    ASSERT_EQ(t["relays"][2]["board"].size(), 1u);
    EXPECT_EQ(t["relays"][2]["board"][0][1], t["end"]);
    ASSERT_FALSE(t["relays"][2]["commands"].empty());
    const nlohmann::json& tick =
        t["events"][t["relays"][2]["commands"].back()[1].get<std::size_t>()];
    EXPECT_EQ(tick["source"], "api");
    EXPECT_EQ(tick["shown"]["kind"], "接通");
    for (const char* bad : {"?controller=../%E6%B3%B5%E6%88%BF.PSW", "?controller=%E6%97%A0.PSW",
                            "?controller=x.PSW&date=2026-13-01"})
        EXPECT_NE(raw.Get(std::string("/api/v1/timeline") + bad)->status, 200) << bad;

    // A page's stream asks for the lamp as well: it changes with each block.
    {
        const int stream = ConnectUnix(dir.File(kSocket));
        ASSERT_GE(stream, 0);
        const std::string get = "GET /api/v1/events?lamp=1 HTTP/1.1\r\nHost: x\r\n\r\n";
        ASSERT_EQ(::send(stream, get.data(), get.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(get.size()));
        const std::string lamp = "event: lamp\ndata: {\"controller\":\"泵房.PSW\",\"blocks\":";
        const std::string got = ReadUntilText(stream, lamp, 10000);
        EXPECT_NE(got.find(lamp), std::string::npos) << got;
        ::close(stream);
    }

    // The run page's buttons, and the refusal while stopped.
    EXPECT_TRUE(client.Stop().Ok());
    const api::ApiResult stopped = client.Switch(kController, 1, true);
    EXPECT_EQ(stopped.status, 409);
    EXPECT_EQ(stopped.error, "未在运行");
    EXPECT_TRUE(client.Run().Ok());
    EXPECT_TRUE(WaitUntil([&] { return RelayState(client, 3) == "on"; }));

    // The journal has the switch, with its source.
    bool journaled = false;
    std::vector<run::RunEvent> events;
    ASSERT_TRUE(api::FromJson(client.Journal(DateText(true, test::Today()), kController).body,
                              events, error))
        << error;
    for (const run::RunEvent& e : events)
        journaled = journaled ||
                    (e.kind == "on" && e.relay == 3 && e.source == "api" && e.result == "sent");
    EXPECT_TRUE(journaled);

    // The board is gone: the states are unknown and switching is refused.
    sim.Stop();
    ASSERT_TRUE(WaitUntil([&] { return StatusOf(client).controllers[0].line == "lost"; }));
    const api::ApiResult unknown = client.Switch(kController, 1, true);
    EXPECT_EQ(unknown.status, 409);
    EXPECT_EQ(unknown.error, "继电器状态未知,不能手动切换");

    kill(runner.Pid(), SIGTERM);
    ASSERT_TRUE(runner.WaitExit(5000));
    EXPECT_EQ(ExitCode(runner.Status()), 0);
    EXPECT_NE(::access(dir.File(kSocket).c_str(), F_OK), 0) << "the socket stays behind";
    EXPECT_FALSE(client.Status().reached);

    // Without manual operation the API switches nothing either.
    settings::WriteSwitch(ctx.settingsFile, settings::kChkManOperate, false);
    ASSERT_TRUE(StartRunner(runner));
    ASSERT_TRUE(ReadUntil(runner, " run engine started", lines, test::kProgramStartMs));
    WaitForApi();
    const api::ApiResult manualOff = client.Switch(kController, 1, true);
    EXPECT_EQ(manualOff.status, 409);
    EXPECT_EQ(manualOff.error, "不允许手动操作");
}

TEST_F(ApiRunnerTest, TcpTakesOnlyTheTokenAndStreamsTheEvents) {
    const std::string token = dir.Write("api-token", "tok-7f3a9\n");
    ::chmod(token.c_str(), 0600);
    WriteIniText(ctx.settingsFile, "API", "Listen", "127.0.0.1:0");
    WriteIniText(ctx.settingsFile, "API", "TokenFile", token);
    test::ChildProcess runner;
    StartSite(runner, std::time(nullptr) + 3600);
    ASSERT_TRUE(ReadUntil(runner, "API: TCP 127.0.0.1:", lines, 5000));
    const std::string url = "http://" + lines.back().substr(lines.back().find("127.0.0.1:"));

    // Nobody else may take the port beside it (and with it a share of the
    // requests and their tokens).
    {
        const int thief = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(thief, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(std::stoi(url.substr(url.rfind(':') + 1))));
        EXPECT_NE(::bind(thief, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::close(thief);
    }

    // The page and its files are anyone's; nothing else is.
    httplib::Client web(url);
    const auto page = web.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("<html lang=\"zh-CN\">"), std::string::npos);
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"),
              std::string::npos);
    EXPECT_EQ(web.Get("/web/app.js")->status, 200);
    for (const char* hidden :
         {"/web/.ristova-sessions", "/web/..%2F..%2Fapi-token", "/favicon.ico"})
        EXPECT_EQ(web.Get(hidden)->status, 401) << hidden;

    EXPECT_EQ(api::ApiClient({{}, url, ""}).Status().status, 401);
    for (const char* wrong : {"tok-7f3a", "tok-7f3a9x"}) {
        api::ApiClient client({{}, url, wrong});
        api::ApiResult r;
        auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(WaitUntil([&] {
            sent = std::chrono::steady_clock::now();
            r = client.Status();
            return r.status != 429;
        }));
        EXPECT_EQ(r.status, 401) << wrong;
        // A wrong token makes the next one from this address wait a second
        // or more, right or wrong: the header is no way round the login's pace.
        const api::ApiResult next = client.Switch(kController, 1, true);
        if (std::chrono::steady_clock::now() - sent < 1s) {
            EXPECT_EQ(next.status, 429) << next.body;
        }
        EXPECT_NE(next.status, 200);
    }
    api::ApiClient client({{}, url, "tok-7f3a9"});
    ASSERT_TRUE(WaitUntil([&] { return RelayState(client, 1) == "off"; }));

    // The stream, from its opening: the switch as sent and the board's new state.
    api::ApiClient streamClient({{}, url, "tok-7f3a9"});
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    std::vector<run::RunEvent> seen;
    std::thread stream([&] {
        streamClient.Events(
            [&](const std::string& json) {
                run::RunEvent e;
                std::string error;
                EXPECT_TRUE(api::FromJson(json, e, error)) << json;
                std::lock_guard lock(mutex);
                seen.push_back(e);
                cv.notify_all();
                return true;
            },
            [&] {
                std::lock_guard lock(mutex);
                open = true;
                cv.notify_all();
            });
    });
    auto has = [&](const char* kind, const char* source, const char* result) {
        return std::any_of(seen.begin(), seen.end(), [&](const run::RunEvent& e) {
            return e.relay == 1 && e.kind == kind && e.source == source && e.result == result &&
                   e.controller == kController && !e.at.empty();
        });
    };
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return open; }));
    }
    EXPECT_TRUE(client.Switch(kController, 1, true).Ok());
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(cv.wait_for(
            lock, 10s, [&] { return has("on", "api", "sent") && has("state", "board", "1"); }));
    }
    streamClient.Cancel();
    stream.join();

    // The page's login: a wrong token is told so and paced; the right one
    // gets a session cookie that the browser keeps from the page's scripts
    // and sends to this site's pages only.
    const auto login = [&](const char* given) {
        return web.Post("/api/v1/login", nlohmann::json{{"token", given}}.dump(),
                        "application/json");
    };
    const auto sent = std::chrono::steady_clock::now();
    const auto wrong = login("tok-wrong");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 401);
    EXPECT_EQ(api::ErrorText(wrong->body), "令牌错误");
    auto right = login("tok-7f3a9");
    if (std::chrono::steady_clock::now() - sent < 1s) {
        EXPECT_EQ(right->status, 429);
        EXPECT_NE(api::ErrorText(right->body).find("秒后再试"), std::string::npos) << right->body;
    }
    ASSERT_TRUE(WaitUntil([&] { return (right = login("tok-7f3a9")) && right->status == 200; }));
    const std::string setCookie = right->get_header_value("Set-Cookie");
    EXPECT_NE(setCookie.find("; HttpOnly"), std::string::npos) << setCookie;
    EXPECT_NE(setCookie.find("; SameSite=Strict"), std::string::npos) << setCookie;
    const std::string cookie = setCookie.substr(0, setCookie.find(';'));
    EXPECT_EQ(cookie.rfind("ristova_" + url.substr(url.rfind(':') + 1) + "=", 0), 0u) << cookie;
    const std::string origin = url;  // what a browser names as the page's origin
    EXPECT_EQ(web.Get("/api/v1/status", {{"Cookie", cookie}})->status, 200);
    // From another site's page, or a POST that does not say where from:
    // refused, and nothing is sent.
    const std::string relay4 = "/api/v1/controllers/" + api::UrlEncode(kController) + "/relays/4";
    for (const httplib::Headers& from :
         {httplib::Headers{{"Cookie", cookie}, {"Origin", "http://evil.example"}},
          httplib::Headers{{"Cookie", cookie}},
          httplib::Headers{
              {"Cookie", cookie}, {"Origin", origin}, {"Sec-Fetch-Site", "cross-site"}}})
        EXPECT_EQ(web.Post(relay4, from, R"({"state":"on"})", "application/json")->status, 403);
    EXPECT_EQ(
        web.Get("/api/v1/status", {{"Cookie", cookie}, {"Sec-Fetch-Site", "cross-site"}})->status,
        403);
    const httplib::Headers ownPage{{"Cookie", cookie}, {"Origin", origin}};
    EXPECT_EQ(web.Post(relay4, ownPage, R"({"state":"on"})", "application/json")->status, 200);
    EXPECT_TRUE(BoardGot(test::OnCommand(4)));
    const auto commands = sim.Commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const auto& c) { return c.text == test::OnCommand(4); }),
              1);
    const auto out = web.Post("/api/v1/logout", ownPage, "", "application/json");
    EXPECT_EQ(out->status, 200);
    EXPECT_NE(out->get_header_value("Set-Cookie").find("Max-Age=0"), std::string::npos);
    EXPECT_EQ(web.Get("/api/v1/status", {{"Cookie", cookie}})->status, 401);

    kill(runner.Pid(), SIGTERM);
    ASSERT_TRUE(runner.WaitExit(5000));

    // A token file that others can read keeps TCP off; the socket serves.
    ::chmod(token.c_str(), 0644);
    ASSERT_TRUE(StartRunner(runner));
    EXPECT_TRUE(ReadUntil(runner, "can be read by others", lines, test::kProgramStartMs));
    api::ApiClient socket(Socket());
    EXPECT_TRUE(WaitUntil([&] { return socket.Status().Ok(); }));
    EXPECT_FALSE(client.Status().reached);
}

TEST_F(ApiRunnerTest, LargeBodiesAreRefusedUnreadAndSlowClientsHoldUpNoTimedCommand) {
    const std::time_t due = std::time(nullptr) + 8;
    test::ChildProcess runner;
    StartSite(runner, due);
    const std::string path = dir.File(kSocket);

    // A hundred clients that send nothing or a byte now and then.
    std::vector<int> slow;
    for (int i = 0; i < 100; ++i) {
        const int s = ConnectUnix(path);
        ASSERT_GE(s, 0);
        slow.push_back(s);
    }
    std::atomic<bool> dribbling{true};
    std::thread dribbler([&] {
        const std::string request = "GET /api/v1/status HTTP/1.1\r\nHost: x\r\nX-Pad: ";
        for (std::size_t i = 0; dribbling; ++i) {
            for (std::size_t k = 50; k < slow.size(); ++k)
                ::send(slow[k], &request[std::min(i, request.size() - 1)], 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(100ms);
        }
    });
    api::ApiClient client(Socket());
    const api::ApiResult held = client.Status();
    EXPECT_TRUE(held.Ok()) << held.status << " " << held.error;

    // Ten megabytes announced: the answer comes after the head, and the
    // connection closes long before the body could be sent.
    const int big = ConnectUnix(path);
    ASSERT_GE(big, 0);
    const std::string head =
        "POST /api/v1/run HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
        "Content-Length: 10485760\r\n\r\n";
    ASSERT_EQ(::send(big, head.data(), head.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(head.size()));
    const std::string chunk(64 * 1024, '7');
    std::size_t sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (sent < 10485760 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{big, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) continue;
        const ssize_t n = ::send(big, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN) break;
        if (n > 0) sent += static_cast<std::size_t>(n);
    }
    EXPECT_LT(sent, 2u * 1024 * 1024);
    const std::string answer = ReadAll(big, 2000);
    EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << answer.substr(0, 200);
    ::close(big);

    // The timed command goes out on its second all the same.
    bool found = false;
    ASSERT_TRUE(WaitUntil([&] {
        for (const test::SimulatorCommand& c : sim.Commands()) {
            if (c.text != test::OnCommand(2)) continue;
            found = true;
            const auto late = c.firstByte - std::chrono::system_clock::from_time_t(due);
            EXPECT_GE(late, 0ms);
            EXPECT_LT(late, 500ms);
        }
        return found;
    }));
    const api::ApiResult after = client.Status();
    EXPECT_TRUE(after.Ok()) << after.status << " " << after.error;
    dribbling = false;
    dribbler.join();
    for (int s : slow) ::close(s);
}

// ristova-ctl against the runner of a folder whose socket path is too long
// for a socket address.
class CtlTest : public ApiRunnerTest {
  protected:
    struct Outcome {
        int status = -1;
        std::string out;
    };
    Outcome Ctl(std::vector<std::string> args, bool inFolder = true) {
        if (inFolder) args.insert(args.begin(), {"--folder", folder});
        args.insert(args.begin(), CtlPath());
        test::ChildProcess ctl;
        test::ChildProcess::Options o;
        o.captureStdout = true;
        o.stderrToStdout = true;
        Outcome outcome;
        if (!ctl.Start(args, o)) return outcome;
        for (std::string line; ctl.ReadLine(line, 10000);) outcome.out += line + "\n";
        if (ctl.WaitExit(10000)) outcome.status = ExitCode(ctl.Status());
        return outcome;
    }
    static std::string CtlPath() {
        const char* build = std::getenv("RISTOVA_BUILD_DIR");
        return std::string(build ? build : ".") + "/ristova-ctl";
    }
    std::string folder = dir.Path() + std::string(100, 'l') + "/";
};

TEST_F(CtlTest, EachCommandAndEachExitStatus) {
    ASSERT_EQ(::symlink(".", (dir.Path() + std::string(100, 'l')).c_str()), 0);
    ASSERT_GT((folder + kSocket).size(), sizeof(sockaddr_un::sun_path));
    test::ChildProcess runner;
    StartSite(runner, std::time(nullptr) + 3600, true, {"--folder", folder});
    api::ApiClient client({folder + kSocket, {}, {}});
    ASSERT_TRUE(WaitUntil([&] { return RelayState(client, 2) == "off"; }));

    Outcome o = Ctl({"status"});
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_NE(o.out.find("控制器 泵房.PSW: 运行中, 通信正常, 计划表 计划表.tab"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("继电器2 断开  常开:灯2"), std::string::npos) << o.out;
    o = Ctl({"--json", "status"});
    EXPECT_EQ(nlohmann::json::parse(o.out).at("folder"), folder);

    o = Ctl({"on", kController, "2"});
    EXPECT_EQ(o.status, 0) << o.out;
    EXPECT_TRUE(BoardGot(test::OnCommand(2)));
    o = Ctl({"on", kController, "9"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("没有该继电器"), std::string::npos) << o.out;

    // The day so far (the switch is told once the board has it), then what follows.
    EXPECT_TRUE(WaitUntil([&] {
        o = Ctl({"events"});
        return o.out.find("泵房.PSW 继电器2 接通 接口 已发送") != std::string::npos;
    })) << o.out;
    EXPECT_EQ(o.status, 0);
    test::ChildProcess follow;
    test::ChildProcess::Options options;
    options.captureStdout = true;
    ASSERT_TRUE(
        follow.Start({CtlPath(), "--socket", folder + kSocket, "events", "--follow"}, options));
    std::vector<std::string> followed;
    ASSERT_TRUE(ReadUntil(follow, "继电器2 接通 接口 已发送", followed, 10000));
    EXPECT_TRUE(client.Switch(kController, 2, false).Ok());
    EXPECT_TRUE(ReadUntil(follow, "继电器2 断开 接口 已发送", followed, 10000));
    EXPECT_TRUE(ReadUntil(follow, "继电器2 状态 控制器 断开", followed, 10000));
    follow.Stop();

    o = Ctl({"journal", "--json", "--date", DateText(true, test::Today()), "--controller",
             kController});
    EXPECT_EQ(o.status, 0);
    EXPECT_GT(nlohmann::json::parse(o.out).size(), 3u);

    EXPECT_EQ(Ctl({"stop"}).status, 0);
    o = Ctl({"off", kController, "2"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("未在运行"), std::string::npos) << o.out;
    EXPECT_EQ(Ctl({"run"}).status, 0);

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"frob"},
                                                {"on", kController},
                                                {"on", kController, "x"},
                                                {"status", "--follow"},
                                                {"--url", "http://127.0.0.1:1", "status"},
                                                {}}) {
        EXPECT_EQ(Ctl(bad).status, 2) << JoinText(bad, " ");
    }
    // Nobody runs this folder.
    test::TempDir empty;
    EXPECT_EQ(Ctl({"--folder", empty.Path(), "status"}, false).status, 3);
}

}  // namespace
}  // namespace ristova
