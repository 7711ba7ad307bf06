#include "api/ApiServer.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "api/ApiModel.h"
#include "api/Sockets.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/TextUtils.h"
#include "controller/ControllerDefinition.h"
#include "controller/ControllerFile.h"
#include "run/EventTexts.h"
#include "run/Journal.h"
#include "run/Timeline.h"

namespace ristova::api {

namespace {

using httplib::Request;
using httplib::Response;

constexpr const char* kJsonType = "application/json";
// Requests one connection may carry before it is closed.
constexpr int kRequestsPerConnection = 100;
// A quiet event stream says it is alive this often, so that a client that
// went away is noticed by the failed write.
constexpr auto kStreamKeepAlive = std::chrono::seconds(15);

const char* const kStatusRoute = "/api/v1/status";
const char* const kControllerRoute = "/api/v1/controllers/([^/]+)";
const char* const kRelayRoute = "/api/v1/controllers/([^/]+)/relays/([0-9]+)";
const char* const kRunRoute = "/api/v1/run";
const char* const kStopRoute = "/api/v1/stop";
const char* const kEventsRoute = "/api/v1/events";
const char* const kJournalRoute = "/api/v1/journal";
const char* const kTimelineRoute = "/api/v1/timeline";
const char* const kLoginRoute = "/api/v1/login";
const char* const kLogoutRoute = "/api/v1/logout";
const char* const kPageRoute = "/";
// A file of the page: a plain name, no folders, nothing hidden.
const char* const kAssetRoute = "/web/([A-Za-z0-9_-][A-Za-z0-9_.-]*)";

bool IsPostRoute(const std::string& path) {
    static const std::regex relay(kRelayRoute);
    return path == kRunRoute || path == kStopRoute || path == kLoginRoute || path == kLogoutRoute ||
           std::regex_match(path, relay);
}

bool IsWebPath(const std::string& path) {
    static const std::regex asset(kAssetRoute);
    return path == kPageRoute || std::regex_match(path, asset);
}

bool IsRoute(const std::string& path) {
    static const std::regex controller(kControllerRoute);
    return path == kStatusRoute || path == kEventsRoute || path == kJournalRoute ||
           path == kTimelineRoute || IsPostRoute(path) || IsWebPath(path) ||
           std::regex_match(path, controller);
}

// The connection the calling thread serves; its requests' handlers run on it.
Connection*& CurrentConnection() {
    thread_local Connection* connection = nullptr;
    return connection;
}

// "Authorization: Bearer <token>" with this token.
bool CarriesToken(const Request& req, std::string_view token) {
    const std::string auth = req.get_header_value("Authorization");
    const std::string_view bearer = "Bearer ";
    return auth.size() > bearer.size() && auth.starts_with(bearer) &&
           SameToken(std::string_view(auth).substr(bearer.size()), token);
}

// What the client sent after the head will not be read: the connection
// ends with this response.
void LeaveBodyUnread() {
    if (Connection* connection = CurrentConnection()) connection->EndAfterResponse();
}

bool HasBody(const Request& req) {
    return req.has_header("Transfer-Encoding") ||
           (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0");
}

const char* StatusText(int status) {
    switch (status) {
        case 400:
            return "请求无效";
        case 401:
            return "需要有效的令牌";
        case 404:
            return "没有此资源";
        case 403:
            return "请求来源不符";
        case 405:
            return "不支持此方法";
        case 413:
            return "请求过大";
        case 414:
            return "请求地址过长";
        case 503:
            return "暂时无法处理";
        default:
            return "内部错误";
    }
}

void Answer(Response& res, int status, std::string body) {
    res.status = status;
    res.set_content(std::move(body), kJsonType);
}

void Refuse(Response& res, int status, const std::string& text) {
    Answer(res, status, ErrorJson(text));
}

// A request body of at most kMaxBodyBytes, read only when it is one; a
// refused body is left unread and the connection ends with the answer.
bool ReadBody(const Request& req, Response& res, const httplib::ContentReader& reader,
              std::string& body) {
    body.clear();
    if (req.has_header("Transfer-Encoding")) {
        LeaveBodyUnread();
        Refuse(res, 400, "请求体须带Content-Length");
        return false;
    }
    if (!req.has_header("Content-Length")) return true;
    long long length = -1;
    const std::string text = req.get_header_value("Content-Length");
    if (text.find_first_not_of("0123456789") != std::string::npos || text.size() > 18 ||
        !TryStrToInt(text, length) || length < 0) {
        LeaveBodyUnread();
        Refuse(res, 400, "Content-Length无效");
        return false;
    }
    if (static_cast<unsigned long long>(length) > kMaxBodyBytes) {
        LeaveBodyUnread();
        Refuse(res, 400, "请求体超过4 KiB");
        return false;
    }
    if (length == 0) return true;
    const bool read = reader([&](const char* data, std::size_t size) {
        body.append(data, size);
        return body.size() <= kMaxBodyBytes;
    });
    if (!read || body.size() != static_cast<std::size_t>(length)) {
        LeaveBodyUnread();
        Refuse(res, 400, "请求体不完整");
        return false;
    }
    return true;
}

// The body as a JSON object whose fields are all in `known`; empty, or why not.
std::string ReadObject(const std::string& body, std::initializer_list<const char*> known,
                       nlohmann::json& object) {
    object = nlohmann::json::object();
    if (Trim(body).empty()) return {};
    try {
        object = nlohmann::json::parse(body);
    } catch (const nlohmann::json::exception&) {
        return "请求体不是有效的JSON";
    }
    if (!object.is_object()) return "请求体须为JSON对象";
    for (const auto& item : object.items()) {
        const std::string& key = item.key();
        if (std::find_if(known.begin(), known.end(), [&](const char* k) { return key == k; }) ==
            known.end())
            return "未知字段: " + key;
    }
    return {};
}

// A request that a browser sent from the page itself: a cookie sent by a
// page of another site (or from a frame of one) does not count. A POST
// must name its origin; browsers always do.
bool FromOwnOrigin(const Request& req) {
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    if (!site.empty() && site != "same-origin" && site != "none") return false;
    const std::string origin = req.get_header_value("Origin");
    if (origin.empty()) return req.method == "GET" || req.method == "HEAD";
    const std::string host = req.get_header_value("Host");
    return !host.empty() && (origin == "http://" + host || origin == "https://" + host);
}

void TooSoon(Response& res, int seconds) {
    res.set_header("Retry-After", std::to_string(seconds));
    Refuse(res, 429, "尝试次数过多,请" + std::to_string(seconds) + "秒后再试");
}

const char* ContentType(const std::string& name) {
    const std::string ext = name.substr(name.rfind('.') + 1);
    if (ext == "html") return "text/html; charset=utf-8";
    if (ext == "css") return "text/css; charset=utf-8";
    if (ext == "js") return "text/javascript; charset=utf-8";
    if (ext == "svg") return "image/svg+xml";
    if (ext == "png") return "image/png";
    if (ext == "ico") return "image/x-icon";
    return "application/octet-stream";
}

// The page runs its own files only, and in no other site's frame.
void PageHeaders(Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                   "connect-src 'self'; base-uri 'none'; form-action 'self'; "
                   "frame-ancestors 'none'");
    res.set_header("X-Frame-Options", "DENY");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-cache");
}

std::string FindWebFolder() {
    const std::string exe = ExecutableFolder();
    for (const std::string& folder : {exe + kWebFolderName, exe + kInstalledWebFolder})
        if (FileExists(folder + "index.html")) return folder;
    return {};
}

WebSessions::Clock::time_point WallNow() {
    return WebSessions::Clock::now();
}

// The body's one field, a text; false with res the refusal (usage says what
// is wanted).
bool ReadField(const Request& req, Response& res, const httplib::ContentReader& reader,
               const char* name, const char* usage, std::string& value) {
    std::string body;
    if (!ReadBody(req, res, reader, body)) return false;
    nlohmann::json object;
    std::string problem = ReadObject(body, {name}, object);
    const auto field = object.find(name);
    if (problem.empty() && (field == object.end() || !field->is_string())) problem = usage;
    if (!problem.empty()) {
        Refuse(res, 400, problem);
        return false;
    }
    value = field->get<std::string>();
    return true;
}

bool ParseDate(const std::string& text, Date& date) {
    static const std::regex shape("([0-9]{4})-([0-9]{2})-([0-9]{2})");
    std::smatch m;
    if (!std::regex_match(text, m, shape)) return false;
    date = Date{std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3])};
    return date.IsValid();
}

// The task queue of a listener: each connection on a thread of its own, so
// that a slow client holds up nobody else; a thread that is done waits a
// while for the next connection rather than every connection paying for a
// new one. At kMaxConnections the accept loop waits for one to end, and
// further clients wait in the system's queue, holding none of the
// process's descriptors.
class ConnectionThreads : public httplib::TaskQueue {
  public:
    ~ConnectionThreads() override { shutdown(); }

    void enqueue(std::function<void()> task) override {
        std::unique_lock lock(mutex_);
        freed_.wait(lock, [&] { return active_ < kMaxConnections; });
        ++active_;
        if (idle_ > tasks_.size()) {
            tasks_.push_back(std::move(task));
            work_.notify_one();
            return;
        }
        Reap();
        threads_.emplace_back([this, task = std::move(task)]() mutable { Work(std::move(task)); });
    }

    // The accept loop has ended: every connection runs out (the stop event
    // ends their waits) and the idle threads end.
    void shutdown() override {
        std::list<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            threads.swap(threads_);
        }
        work_.notify_all();
        for (std::thread& t : threads)
            if (t.joinable()) t.join();
    }

  private:
    static constexpr auto kIdleWait = std::chrono::seconds(30);

    void Work(std::function<void()> task) {
        std::unique_lock lock(mutex_);
        for (;;) {
            lock.unlock();
            task();
            task = nullptr;
            lock.lock();
            --active_;
            freed_.notify_all();
            ++idle_;
            work_.wait_for(lock, kIdleWait, [&] { return stopping_ || !tasks_.empty(); });
            --idle_;
            if (tasks_.empty()) break;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        ended_.push_back(std::this_thread::get_id());
    }
    // Joins the threads that have ended (called with the lock held; they
    // no longer need it).
    void Reap() {
        for (auto it = threads_.begin(); it != threads_.end();) {
            auto done = std::find(ended_.begin(), ended_.end(), it->get_id());
            if (done == ended_.end()) {
                ++it;
                continue;
            }
            ended_.erase(done);
            it->join();
            it = threads_.erase(it);
        }
    }

    std::mutex mutex_;
    std::condition_variable freed_;
    std::condition_variable work_;
    std::list<std::thread> threads_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::thread::id> ended_;
    std::size_t active_ = 0;  // connections waiting or served
    std::size_t idle_ = 0;    // threads waiting for one
    bool stopping_ = false;
};

// One event stream's queue, filled on the main thread, drained by its
// connection's thread.
struct Stream {
    std::condition_variable cv;
    std::deque<std::string> events;  // whole messages of the stream
    bool closed = false;
    bool lamp = false;    // it asked for each received block as well
    std::string session;  // the key of the page's session it was opened for
};

}  // namespace

struct ApiServer::Reply {
    int status = 200;
    std::string body;
};

namespace {

void Send(Response& res, const ApiServer::Reply& reply) {
    Answer(res, reply.status, reply.body);
}

}  // namespace

// What the handler threads and the main thread share; posted calls hold it,
// so it outlives the server.
struct ApiServer::Shared {
    explicit Shared(IMainThreadPoster& p) : poster(p) {}
    IMainThreadPoster& poster;
    comm::StopEvent stop;

    std::mutex callMutex;
    std::condition_variable callDone;
    ApiServer* server = nullptr;  // null once the server is going
    bool stopping = false;

    std::mutex streamMutex;
    std::vector<std::shared_ptr<Stream>> streams;
    bool streamsClosed = false;
    // Blocks each controller had received when its lamp was last told.
    std::map<std::string, std::uint64_t> lampSeen;
    std::shared_ptr<WebSessions> sessions;  // TCP only

    // Main thread; a stream that does not keep up ends.
    void Push(const std::string& message, bool lampOnly) {
        for (auto it = streams.begin(); it != streams.end();) {
            Stream& stream = **it;
            if (lampOnly && !stream.lamp) {
                ++it;
                continue;
            }
            if (stream.events.size() >= kStreamQueueEvents) {
                // It does not keep up: it ends rather than holding events for ever.
                stream.closed = true;
                stream.events.clear();
                stream.cv.notify_all();
                it = streams.erase(it);
                continue;
            }
            stream.events.push_back(message);
            stream.cv.notify_all();
            ++it;
        }
    }
    void Lamp(const std::string& controller, std::uint64_t blocks) {
        std::lock_guard lock(streamMutex);
        std::uint64_t& seen = lampSeen[controller];
        if (seen == blocks) return;
        seen = blocks;
        if (streams.empty()) return;
        const nlohmann::ordered_json lamp = {{"controller", controller}, {"blocks", blocks}};
        Push("event: lamp\ndata: " +
                 lamp.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n",
             true);
    }
    // The streams of an ended session end.
    void EndStreams(const std::string& session) {
        std::lock_guard lock(streamMutex);
        for (const auto& stream : streams) {
            if (stream->session != session) continue;
            stream->closed = true;
            stream->cv.notify_all();
        }
    }
};

class ApiServer::Listener : public httplib::Server {
  public:
    Listener(bool tcp, const comm::StopEvent& stop) : tcp_(tcp), stop_(stop) {
        new_task_queue = [] { return new ConnectionThreads; };
        set_payload_max_length(kMaxBodyBytes);
    }
    bool Tcp() const { return tcp_; }
    void WidenBacklog() { api::WidenBacklog(svr_sock_); }
    // Bound but never started: its socket is closed here.
    void Abandon() {
        const socket_t s = svr_sock_.exchange(INVALID_SOCKET);
        if (s != INVALID_SOCKET) CloseSocket(s);
    }

    std::thread thread;
    std::atomic<bool> ended{false};

  private:
    // The library's own loop waits on each read without a bound on the
    // whole; this one bounds each request's time and size and ends every
    // wait when the server stops.
    bool process_and_close_socket(socket_t sock) override {
        Connection connection(sock, stop_, Connection::Limits{});
        CurrentConnection() = &connection;
        bool ok = true;
        for (int left = kRequestsPerConnection; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
            if (!connection.WaitForRequest()) break;
            connection.BeginRequest();
            bool closed = false;
            ok = process_request(connection, left == 1, closed, {});
            if (!ok || closed || connection.Spent() || connection.EndsAfterResponse()) break;
        }
        CurrentConnection() = nullptr;
        return ok;
    }

    const bool tcp_;
    const comm::StopEvent& stop_;
};

ApiServer::ApiServer(AppContext& ctx, run::Site& site)
    : ctx_(ctx), site_(site), shared_(std::make_shared<Shared>(ctx.poster)) {
    shared_->server = this;
    startRuns_ = [this] { site_.StartAll(); };
    stopRuns_ = [this] { site_.StopAll(); };
}

ApiServer::~ApiServer() {
    if (started_) site_.Events().Remove(this);
    {
        std::lock_guard lock(shared_->callMutex);
        shared_->server = nullptr;
        shared_->stopping = true;
    }
    shared_->callDone.notify_all();
    {
        std::lock_guard lock(shared_->streamMutex);
        shared_->streamsClosed = true;
        for (const auto& stream : shared_->streams) {
            stream->closed = true;
            stream->cv.notify_all();
        }
    }
    shared_->stop.Signal();
    for (const auto& listener : listeners_) {
        listener->stop();
        if (listener->thread.joinable()) listener->thread.join();
    }
    if (socketAddress_ && socketInode_ != 0) RemoveSocket(socketAddress_->Usable(), socketInode_);
    // Their last uses, for the next process.
    if (shared_->sessions) shared_->sessions->Save();
}

bool ApiServer::ServesSocket() const {
    return std::any_of(listeners_.begin(), listeners_.end(),
                       [](const auto& l) { return !l->Tcp(); });
}

bool ApiServer::ServesTcp() const {
    return std::any_of(listeners_.begin(), listeners_.end(),
                       [](const auto& l) { return l->Tcp(); });
}

void ApiServer::SetRunButtons(std::function<void()> start, std::function<void()> stop) {
    startRuns_ = std::move(start);
    stopRuns_ = std::move(stop);
}

std::vector<std::string> ApiServer::Start(const ApiSettings& settings) {
    if (started_) return {};
    if (!shared_->stop.Create()) return {"API: no stop event for its threads"};
    started_ = true;
    journal_ = site_.GetJournal();
    journalFile_ = journal_ ? journal_->FilePath() : ctx_.sAppPath + run::kJournalFileName;
    site_.Events().Add(this);
    site_.AddChangeWatcher([shared = shared_](const run::ControllerRun& run) {
        shared->Lamp(run.File(), run.BlocksReceived());
    });
    std::vector<std::string> problems;
    if (std::string problem = StartSocket(); !problem.empty()) problems.push_back(problem);
    if (!settings.listen.empty())
        if (std::string problem = StartTcp(settings); !problem.empty()) problems.push_back(problem);
    return problems;
}

std::string ApiServer::StartSocket() {
    socketPath_ = ctx_.sAppPath + kSocketFileName;
    socketAddress_ = std::make_unique<SocketAddress>(socketPath_);
    const std::string& address = socketAddress_->Usable();
    if (address.empty()) return "API: " + socketAddress_->Error();
    if (std::string problem = ClearStaleSocket(address); !problem.empty()) return "API: " + problem;
    auto listener = std::make_unique<Listener>(false, shared_->stop);
    Route(*listener);
    if (std::string problem = BindLocal(*listener, address, socketPath_, localToken_);
        !problem.empty()) {
        listener->Abandon();
        return "API: " + problem;
    }
    socketInode_ = StampOf(address).inode;
    Launch(std::move(listener));
    return {};
}

std::string ApiServer::StartTcp(const ApiSettings& settings) {
    ListenAddress address;
    if (std::string problem = CheckTcpSettings(settings, address, token_); !problem.empty())
        return problem;
    auto listener = std::make_unique<Listener>(true, shared_->stop);
    Route(*listener);
    ListenOnTcp(*listener);
    int port = address.port;
    if (port == 0)
        port = listener->bind_to_any_port(address.host);
    else if (!listener->bind_to_port(address.host, port))
        port = -1;
    if (port < 0) return "API: cannot listen on " + settings.listen + "; TCP is off";
    const bool v6 = address.host.find(':') != std::string::npos;
    tcpAddress_ = (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(port);
    // Cookies are the host's, whatever its port: each listener its own name.
    cookieName_ = "ristova_" + std::to_string(port);
    shared_->sessions = std::make_shared<WebSessions>(token_, ctx_.sAppPath + kSessionsFileName);
    shared_->sessions->Load(WallNow());
    webFolder_ = FindWebFolder();
    Launch(std::move(listener));
    return {};
}

void ApiServer::Launch(std::unique_ptr<Listener> listener) {
    Listener* raw = listener.get();
    raw->WidenBacklog();
    raw->thread = std::thread([raw] {
        raw->listen_after_bind();
        raw->ended = true;
    });
    // A stop before the accept loop runs would be missed: it runs first.
    while (!raw->is_running() && !raw->ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    listeners_.push_back(std::move(listener));
}

// --- requests (the listeners' threads) ------------------------------------------

ApiServer::Reply ApiServer::OnMain(std::function<Reply(ApiServer&)> work) {
    struct Call {
        bool started = false;
        bool done = false;
        bool abandoned = false;
        Reply reply;
    };
    auto call = std::make_shared<Call>();
    const std::shared_ptr<Shared> shared = shared_;
    const bool posted = shared->poster.Post([shared, call, work = std::move(work)] {
        ApiServer* server = nullptr;
        {
            std::lock_guard lock(shared->callMutex);
            if (call->abandoned || !shared->server) return;
            call->started = true;
            server = shared->server;
        }
        Reply reply;
        try {
            reply = work(*server);
        } catch (const OperatorError& e) {
            reply = {409, ErrorJson(e.what())};
        } catch (const std::exception& e) {
            reply = {500, ErrorJson(e.what())};
        }
        {
            std::lock_guard lock(shared->callMutex);
            call->reply = std::move(reply);
            call->done = true;
        }
        shared->callDone.notify_all();
    });
    const Reply busy{503, ErrorJson("程序暂时无法处理请求,未执行")};
    if (!posted) return busy;
    std::unique_lock lock(shared->callMutex);
    const auto finished = [&] { return call->done || shared->stopping; };
    shared->callDone.wait_for(lock, std::chrono::milliseconds(kMainThreadWaitMs), finished);
    // Once the main thread has begun it, the answer is its result.
    if (call->started) shared->callDone.wait(lock, finished);
    if (call->done) return call->reply;
    // Not begun: it never will be, so the 503 is true.
    call->abandoned = true;
    return busy;
}

void ApiServer::Route(Listener& listener) {
    RouteGuards(listener);
    RouteControl(listener);
    RouteEvents(listener);
    RouteHistory(listener);
    if (listener.Tcp()) RouteWeb(listener);
}

// What every request meets before its route: the method, the token or
// session, a body that is not ours left unread, errors as JSON.
void ApiServer::RouteGuards(Listener& listener) {
    listener.set_pre_routing_handler(
        [this, &listener](const Request& req, Response& res) -> httplib::Server::HandlerResponse {
            const bool ours = req.method == "POST" && IsPostRoute(req.path);
            if (HasBody(req) && !ours) LeaveBodyUnread();
            if (listener.Tcp() ? !Admit(req, res) : !AdmitLocal(req, res)) {
                if (HasBody(req)) LeaveBodyUnread();
                return httplib::Server::HandlerResponse::Handled;
            }
            if (req.method == "GET" || req.method == "HEAD" || ours)
                return httplib::Server::HandlerResponse::Unhandled;
            if (IsRoute(req.path)) {
                Refuse(res, 405, StatusText(405));
            } else {
                Refuse(res, 404, StatusText(404));
            }
            return httplib::Server::HandlerResponse::Handled;
        });
    listener.set_error_handler([](const Request&, Response& res) {
        if (res.body.empty()) res.set_content(ErrorJson(StatusText(res.status)), kJsonType);
    });
    listener.set_exception_handler([](const Request&, Response& res, std::exception_ptr error) {
        std::string text = StatusText(500);
        try {
            if (error) std::rethrow_exception(error);
        } catch (const std::exception& e) {
            text += std::string(": ") + e.what();
        } catch (...) {
        }
        Refuse(res, 500, text);
    });
}

// The status, and what a click on the run page does.
void ApiServer::RouteControl(Listener& listener) {
    listener.Get(kStatusRoute, [this](const Request&, Response& res) {
        Send(res, OnMain([](ApiServer& s) {
                 return Reply{200, ToJson(StatusOf(s.site_, s.ctx_.sAppPath, s.ctx_.clock.Now()))};
             }));
    });

    listener.Get(kControllerRoute, [this](const Request& req, Response& res) {
        const std::string name = req.matches[1];
        Send(res, OnMain([name](ApiServer& s) {
                 const run::ControllerRun* run = s.site_.Find(name);
                 if (!run) return Reply{404, ErrorJson("没有该控制器: " + name)};
                 return Reply{200, ToJson(StatusOf(*run, true, s.ctx_.clock.Now()))};
             }));
    });

    listener.Post(kRelayRoute, [this](const Request& req, Response& res,
                                      const httplib::ContentReader& reader) {
        const char* usage = "须为{\"state\": \"on\"}或{\"state\": \"off\"}";
        std::string state;
        if (!ReadField(req, res, reader, "state", usage, state)) return;
        if (state != "on" && state != "off") return Refuse(res, 400, usage);
        const std::string name = req.matches[1];
        const std::string number = req.matches[2];
        const int relay = number.size() <= 3 ? std::stoi(number) : -1;
        const bool on = state == "on";
        Send(res, OnMain([name, relay, on](ApiServer& s) { return s.Switch(name, relay, on); }));
    });

    for (const bool start : {true, false}) {
        listener.Post(
            start ? kRunRoute : kStopRoute,
            [this, start](const Request& req, Response& res, const httplib::ContentReader& reader) {
                std::string body;
                if (!ReadBody(req, res, reader, body)) return;
                nlohmann::json object;
                if (std::string problem = ReadObject(body, {}, object); !problem.empty())
                    return Refuse(res, 400, problem);
                Send(res, OnMain([start](ApiServer& s) { return s.StartOrStop(start); }));
            });
    }
}

void ApiServer::RouteEvents(Listener& listener) {
    listener.Get(kEventsRoute, [this, &listener](const Request& req, Response& res) {
        auto stream = std::make_shared<Stream>();
        stream->lamp = req.get_param_value("lamp") == "1";
        if (listener.Tcp() && !req.has_header("Authorization")) stream->session = SessionOf(req);
        {
            std::lock_guard lock(shared_->streamMutex);
            if (shared_->streamsClosed || shared_->streams.size() >= kMaxStreams)
                return Refuse(res, 503, "事件流已满");
            shared_->streams.push_back(stream);
        }
        res.set_header("Cache-Control", "no-cache");
        const std::shared_ptr<Shared> shared = shared_;
        res.set_chunked_content_provider(
            "text/event-stream",
            [shared, stream, first = true](std::size_t, httplib::DataSink& sink) mutable {
                std::string out;
                {
                    std::unique_lock lock(shared->streamMutex);
                    if (!first)
                        stream->cv.wait_for(lock, kStreamKeepAlive, [&] {
                            return stream->closed || !stream->events.empty();
                        });
                    // Fallen behind, or the server stops.
                    if (stream->closed) return false;
                    // A browser that lost the stream tries again after 2 s.
                    if (first) out = ": connected\nretry: 2000\n\n";
                    first = false;
                    for (const std::string& event : stream->events) out += event;
                    stream->events.clear();
                }
                // Its session ended: logged out, or idle too long.
                if (!stream->session.empty() && shared->sessions &&
                    !shared->sessions->Alive(stream->session, WallNow()))
                    return false;
                if (out.empty()) out = ": keep-alive\n\n";
                return sink.write(out.data(), out.size());
            },
            [shared, stream](bool) {
                std::lock_guard lock(shared->streamMutex);
                std::erase(shared->streams, stream);
            });
    });
}

// A day of the journal, and its timeline as the history page draws it.
void ApiServer::RouteHistory(Listener& listener) {
    listener.Get(kJournalRoute, [this](const Request& req, Response& res) {
        Date day;
        if (!AskedDay(req, res, day)) return;
        // Written out and read here, on the request's thread: a slow disk
        // or a large day never holds up the engine. The journal itself is
        // made for calls from any thread.
        if (journal_) journal_->Flush();
        const std::string controller = req.get_param_value("controller");
        Answer(res, 200, ToJson(run::ReadJournalDay(journalFile_, controller, day)));
    });

    listener.Get(kTimelineRoute, [this](const Request& req, Response& res) {
        Date day;
        if (!AskedDay(req, res, day)) return;
        const std::string controller = req.get_param_value("controller");
        const std::string file = ctx_.sAppPath + controller;
        // Only a controller file: the folder's settings and lock are none.
        if (!controller::IsSafeControllerName(controller) || !IsRegularFile(file) ||
            !controller::UnusableControllerReason(file).empty())
            return Refuse(res, 404, "没有该控制器: " + controller);
        struct Engine {
            LocalDateTime now;
            bool fourLevel = false;
        };
        auto engine = std::make_shared<Engine>();
        const Reply asked = OnMain([engine](ApiServer& s) {
            engine->now = s.ctx_.clock.Now();
            engine->fourLevel = s.ctx_.boxes.chk4Level;
            return Reply{};
        });
        if (asked.status != 200) return Send(res, asked);
        // As the journal: the files are read here, not on the engine's thread.
        if (journal_) journal_->Flush();
        const std::vector<run::RunEvent> events =
            run::ReadJournalDay(journalFile_, controller, day);
        std::vector<std::string> names;
        try {
            for (const controller::RelayDefinition& relay :
                 controller::ReadControllerDefinition(file).relays)
                names.push_back(relay.Name());
        } catch (const OperatorError& e) {
            return Refuse(res, 409, e.what());
        }
        const Date today = engine->now.date;
        const int end = day < today    ? run::kDaySeconds
                        : day == today ? TimeToSeconds(engine->now)
                                       : 0;
        const std::vector<run::PlanSegment> plans =
            run::DayPlanSegments(ctx_.sAppPath, file, engine->fourLevel, day, events);
        const run::DayTimeline timeline =
            run::BuildDayTimeline(events, plans, static_cast<int>(names.size()), end);
        Answer(res, 200, TimelineJson(controller, day, end, timeline, plans, names, events));
    });
}

bool ApiServer::AskedDay(const Request& req, Response& res, Date& day) {
    for (const auto& [key, value] : req.params) {
        if (key == "date" || key == "controller") continue;
        Refuse(res, 400, "未知参数: " + key);
        return false;
    }
    if (req.has_param("date")) {
        if (ParseDate(req.get_param_value("date"), day)) return true;
        Refuse(res, 400, "date须为YYYY-MM-DD");
        return false;
    }
    const Reply today = OnMain([](ApiServer& s) {
        return Reply{200, DateText(true, s.ctx_.clock.Now().date)};
    });
    if (today.status == 200 && ParseDate(today.body, day)) return true;
    Answer(res, today.status, today.body);
    return false;
}

// --- the web page (TCP only) -------------------------------------------------------

std::string ApiServer::SessionOf(const Request& req) {
    if (!shared_->sessions) return {};
    for (const std::string& id : CookieValues(req.get_header_value("Cookie"), cookieName_))
        if (std::string key = shared_->sessions->Use(id, WallNow()); !key.empty()) return key;
    return {};
}

// Where the socket file cannot keep others out by itself, the token it holds
// does.
bool ApiServer::AdmitLocal(const Request& req, Response& res) const {
    if (localToken_.empty()) return true;
    if (CarriesToken(req, localToken_)) return true;
    // Nobody without the token keeps a connection of the port's.
    LeaveBodyUnread();
    Refuse(res, 401, "需要有效的令牌 (Authorization: Bearer <令牌>)");
    return false;
}

bool ApiServer::Admit(const Request& req, Response& res) {
    // The page and its files hold no secret (the login form is among them);
    // the login and logout look at what they are sent themselves.
    if ((req.method == "GET" || req.method == "HEAD") && IsWebPath(req.path)) return true;
    if (req.method == "POST" && (req.path == kLoginRoute || req.path == kLogoutRoute)) return true;
    if (req.has_header("Authorization")) {
        // A token is paced as the login's is: the header is no way round it.
        if (const int wait = pace_.WaitSeconds(req.remote_addr, LoginPace::Clock::now())) {
            TooSoon(res, wait);
            return false;
        }
        if (CarriesToken(req, token_)) {
            pace_.Succeeded(req.remote_addr);
            return true;
        }
        pace_.Failed(req.remote_addr, LoginPace::Clock::now());
    } else if (req.has_header("Cookie") &&
               !CookieValues(req.get_header_value("Cookie"), cookieName_).empty()) {
        if (!FromOwnOrigin(req)) {
            Refuse(res, 403, "请求来源不符,未执行");
            return false;
        }
        if (!SessionOf(req).empty()) return true;
        Refuse(res, 401, "登录已过期,请重新登录");
        return false;
    }
    res.set_header("WWW-Authenticate", "Bearer");
    Refuse(res, 401, "需要有效的令牌 (Authorization: Bearer <令牌>)");
    return false;
}

void ApiServer::RouteWeb(Listener& listener) {
    auto file = [this](const std::string& name, Response& res) {
        std::string bytes;
        if (webFolder_.empty() || !ReadFileBytes(webFolder_ + name, bytes)) {
            res.status = 404;
            res.set_content(webFolder_.empty() ? "网页文件未安装 (" + ExecutableFolder() +
                                                     kInstalledWebFolder + ")"
                                               : "没有此文件: " + name,
                            "text/plain; charset=utf-8");
            return;
        }
        PageHeaders(res);
        res.set_content(std::move(bytes), ContentType(name));
    };
    listener.Get(kPageRoute, [file](const Request&, Response& res) { file("index.html", res); });
    listener.Get(kAssetRoute,
                 [file](const Request& req, Response& res) { file(req.matches[1], res); });

    listener.Post(kLoginRoute, [this](const Request& req, Response& res,
                                      const httplib::ContentReader& reader) {
        std::string token;
        if (!ReadField(req, res, reader, "token", "须为{\"token\": \"<令牌>\"}", token)) return;
        // A login from another site's page would make its requests ours.
        if (req.has_header("Origin") && !FromOwnOrigin(req))
            return Refuse(res, 403, "请求来源不符,未登录");
        if (const int wait = pace_.WaitSeconds(req.remote_addr, LoginPace::Clock::now()))
            return TooSoon(res, wait);
        if (!SameToken(token, token_)) {
            pace_.Failed(req.remote_addr, LoginPace::Clock::now());
            return Refuse(res, 401, "令牌错误");
        }
        pace_.Succeeded(req.remote_addr);
        const std::string id = shared_->sessions->Create(WallNow());
        if (id.empty()) return Refuse(res, 500, "无法建立会话");
        // No expiry in the browser: the session ends here, after 12 idle hours.
        res.set_header("Set-Cookie",
                       cookieName_ + "=" + id + "; Path=/; HttpOnly; SameSite=Strict");
        Answer(res, 200, R"({"result":"logged-in"})");
    });

    listener.Post(kLogoutRoute, [this](const Request& req, Response& res,
                                       const httplib::ContentReader& reader) {
        std::string body;
        if (!ReadBody(req, res, reader, body)) return;
        if (!FromOwnOrigin(req)) return Refuse(res, 403, "请求来源不符,未执行");
        for (const std::string& id : CookieValues(req.get_header_value("Cookie"), cookieName_))
            if (const std::string key = shared_->sessions->End(id); !key.empty())
                shared_->EndStreams(key);
        res.set_header("Set-Cookie",
                       cookieName_ + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0");
        Answer(res, 200, R"({"result":"logged-out"})");
    });
}

// --- the main thread ---------------------------------------------------------------

ApiServer::Reply ApiServer::Switch(const std::string& controller, int relay, bool on) {
    run::ControllerRun* run = site_.Find(controller);
    if (!run) return {404, ErrorJson("没有该控制器: " + controller)};
    if (relay < 1 || relay > run->RelayCount())
        return {404, ErrorJson("没有该继电器: " + std::to_string(relay))};
    refusals_.clear();
    switching_ = run;
    const run::SwitchResult result = run->Switch(relay, on, "api");
    switching_ = nullptr;
    if (result == run::SwitchResult::Queued) return {200, R"({"result":"sent"})"};
    return {409, ErrorJson(refusals_.empty() ? std::string("未发送")
                                             : run::SwitchRefusalText(refusals_.front()))};
}

ApiServer::Reply ApiServer::StartOrStop(bool start) {
    // Whatever came of it, the host arms its timers for what runs now.
    struct AfterwardsTell {
        ApiServer& server;
        ~AfterwardsTell() {
            if (server.onRunsChanged_) server.onRunsChanged_();
        }
    } tell{*this};
    if (start)
        startRuns_();
    else
        stopRuns_();
    return {200, start ? R"({"result":"started"})" : R"({"result":"stopped"})"};
}

void ApiServer::OnRunEvent(const run::RunEvent& event) {
    if (switching_ && event.controller == switching_->File() && event.source == "api" &&
        (event.result == "refused" || event.result == "not-sent" || event.result == "failed"))
        refusals_.push_back(event);
    std::lock_guard lock(shared_->streamMutex);
    if (shared_->streams.empty()) return;
    shared_->Push("data: " + ToJson(event) + "\n\n", false);
}

}  // namespace ristova::api
