#pragma once
// A client of the local API, without Qt: ristova-ctl's, and a window's that
// shows a site another process runs. Each call is one request, bounded by
// time-outs; the answers are the API's JSON (ApiModel.h reads them).
#include <functional>
#include <memory>
#include <string>

namespace ristova::api {

struct Endpoint {
    std::string socketPath;  // the socket file in the program folder; or
    std::string url;         // "http://host:port" for TCP,
    std::string token;       // with its token
};

// The socket of a program folder (ending in '/').
std::string SocketPathOf(const std::string& folder);

struct ApiResult {
    bool reached = false;  // false: no answer (see error)
    int status = 0;
    std::string body;   // the JSON the API answered
    std::string error;  // why there was no answer, or the refusal's text
    bool Ok() const { return reached && status >= 200 && status < 300; }
};

class ApiClient {
  public:
    explicit ApiClient(Endpoint endpoint);
    ~ApiClient();
    ApiClient(const ApiClient&) = delete;
    ApiClient& operator=(const ApiClient&) = delete;

    ApiResult Status();
    ApiResult Controller(const std::string& name);
    ApiResult Switch(const std::string& controller, int relay, bool on);
    ApiResult Run();
    ApiResult Stop();
    // date "YYYY-MM-DD" (empty: today), controller empty: every one.
    ApiResult Journal(const std::string& date, const std::string& controller);
    // The event stream: onOpen once it is open, then onEvent with each
    // event's JSON until it returns false, the stream ends or Cancel().
    ApiResult Events(const std::function<bool(const std::string& json)>& onEvent,
                     const std::function<void()>& onOpen = {});
    // From another thread: a running Events ends.
    void Cancel();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A path segment or query value with every byte but [A-Za-z0-9-._~] as %XX.
std::string UrlEncode(const std::string& text);

}  // namespace ristova::api
