#pragma once
// The local API: HTTP and JSON on the socket in the program folder (and on
// TCP with a token when [API] Listen says so), served by the process that
// runs the site. The HTTP library's threads read and answer the requests;
// whatever touches the site is posted to the main thread, and the request
// waits for its result with a deadline. The main thread never waits for a
// client: events reach each stream through a bounded queue of its own, and
// a stream that falls behind is closed.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/ApiSettings.h"
#include "api/WebSessions.h"
#include "base/AppContext.h"
#include "run/RunEvents.h"
#include "run/Site.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace ristova::api {

class SocketAddress;

// How long a request waits for the main thread before it is answered 503.
inline constexpr int kMainThreadWaitMs = 2000;
// Request bodies larger than this are refused unread.
inline constexpr std::size_t kMaxBodyBytes = 4096;
// Events queued for one stream; a stream that falls this far behind ends.
inline constexpr std::size_t kStreamQueueEvents = 1000;
inline constexpr std::size_t kMaxStreams = 100;
// Connections served at once, per listener; more wait for one to end.
inline constexpr std::size_t kMaxConnections = 256;
// The web page's files: beside the executable in a build tree, in the
// package's data folder when installed.
inline constexpr const char* kWebFolderName = "web/";
inline constexpr const char* kInstalledWebFolder = "../share/ristova/web/";

class ApiServer : public run::IRunEventSink, public run::SiteService {
  public:
    ApiServer(AppContext& ctx, run::Site& site);
    // Stops serving: waiting requests are answered, streams end, the
    // socket file goes.
    ~ApiServer() override;
    ApiServer(const ApiServer&) = delete;
    ApiServer& operator=(const ApiServer&) = delete;

    // Serves the socket, and TCP when the settings name an address. What
    // kept a listener from starting, one text each; the others serve.
    std::vector<std::string> Start(const ApiSettings& settings);
    // On the main thread after a request started or stopped runs, so that
    // the host arms its timers.
    void SetOnRunsChanged(std::function<void()> handler) { onRunsChanged_ = std::move(handler); }
    // What "run" and "stop" do: the site's StartAll and StopAll, or the
    // run page's buttons where a window shows them. start throws
    // OperatorError when a run cannot start.
    void SetRunButtons(std::function<void()> start, std::function<void()> stop);

    const std::string& SocketPath() const { return socketPath_; }
    bool ServesSocket() const;
    bool ServesTcp() const;
    // The TCP listener's address ("127.0.0.1:8080", the port bound when
    // Listen asked for port 0); empty when TCP is off.
    const std::string& TcpAddress() const { return tcpAddress_; }
    // Where the web page's files were found; empty when nowhere.
    const std::string& WebFolder() const { return webFolder_; }

    void OnRunEvent(const run::RunEvent& event) override;

    // What a request gets: its status and JSON body.
    struct Reply;

  private:
    struct Shared;
    class Listener;

    void Route(Listener& listener);
    void RouteGuards(Listener& listener);
    void RouteControl(Listener& listener);
    void RouteEvents(Listener& listener);
    void RouteHistory(Listener& listener);
    void RouteWeb(Listener& listener);
    // A TCP request may go on: it carries the token or the cookie of a
    // live session from the page's own origin. Otherwise res is the refusal.
    bool Admit(const httplib::Request& req, httplib::Response& res);
    bool AdmitLocal(const httplib::Request& req, httplib::Response& res) const;
    // The session key of the request's cookie; empty when none is alive.
    std::string SessionOf(const httplib::Request& req);
    // The day a journal or timeline request asks for (today without a
    // date); false with res the refusal.
    bool AskedDay(const httplib::Request& req, httplib::Response& res, Date& day);
    std::string StartSocket();
    std::string StartTcp(const ApiSettings& settings);
    void Launch(std::unique_ptr<Listener> listener);

    // Handler threads: runs work on the main thread, waits for its reply.
    Reply OnMain(std::function<Reply(ApiServer&)> work);
    // Main thread.
    Reply Switch(const std::string& controller, int relay, bool on);
    Reply StartOrStop(bool start);

    AppContext& ctx_;
    run::Site& site_;
    std::shared_ptr<Shared> shared_;
    std::vector<std::unique_ptr<Listener>> listeners_;
    std::string socketPath_;
    std::unique_ptr<SocketAddress> socketAddress_;
    unsigned long long socketInode_ = 0;
    run::Journal* journal_ = nullptr;
    std::string journalFile_;
    std::string tcpAddress_;
    std::string token_;
    std::string localToken_;  // the socket file's, where it holds one
    std::string webFolder_;
    std::string cookieName_;
    LoginPace pace_;
    std::function<void()> onRunsChanged_;
    std::function<void()> startRuns_;
    std::function<void()> stopRuns_;
    // While a switch runs: the refusal its run published.
    const run::ControllerRun* switching_ = nullptr;
    std::vector<run::RunEvent> refusals_;
    bool started_ = false;
};

}  // namespace ristova::api
