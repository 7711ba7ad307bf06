#include "api/ApiClient.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "api/ApiModel.h"
#include "api/ApiSettings.h"
#include "api/Sockets.h"

namespace ristova::api {

namespace {

constexpr int kConnectSeconds = 3;
constexpr int kConnectTries = 4;
// The server answers within its wait for the main thread (2 s) or says 503.
constexpr int kAnswerSeconds = 10;
// A quiet event stream says it is alive every 15 s.
constexpr int kStreamSeconds = 40;

}  // namespace

struct ApiClient::Impl {
    Endpoint endpoint;
    std::unique_ptr<SocketAddress> address;
    std::mutex mutex;
    httplib::Client* streaming = nullptr;  // the client of a running Events
    std::atomic<bool> cancelled{false};

    std::unique_ptr<httplib::Client> NewClient(int readSeconds, std::string& error) {
        std::unique_ptr<httplib::Client> client;
        if (!endpoint.url.empty()) {
            client = std::make_unique<httplib::Client>(endpoint.url);
            if (!client->is_valid()) {
                error = "无效的地址: " + endpoint.url;
                return nullptr;
            }
            if (!endpoint.token.empty()) client->set_bearer_token_auth(endpoint.token);
        } else {
            if (!address) address = std::make_unique<SocketAddress>(endpoint.socketPath);
            if (address->Usable().empty()) {
                error = address->Error();
                return nullptr;
            }
            client = LocalClient(address->Usable(), error);
            if (!client) return nullptr;
        }
        client->set_connection_timeout(kConnectSeconds, 0);
        client->set_read_timeout(readSeconds, 0);
        client->set_write_timeout(kAnswerSeconds, 0);
        client->set_url_encode(false);
        client->set_default_headers({{"Host", "localhost"}});
        return client;
    }

    ApiResult From(const httplib::Result& answer) const {
        ApiResult result;
        if (!answer) {
            result.error =
                "无法连接到Ristova: " + Where() + " (" + httplib::to_string(answer.error()) + ")";
            return result;
        }
        result.reached = true;
        result.status = answer->status;
        result.body = answer->body;
        if (!result.Ok()) result.error = ErrorText(answer->body);
        return result;
    }

    std::string Where() const { return endpoint.url.empty() ? endpoint.socketPath : endpoint.url; }

    // A connection refused at once (a burst filled the listener's queue) is
    // tried again; nothing was sent then.
    template <typename Request>
    ApiResult Send(const Request& request) {
        std::string error;
        auto client = NewClient(kAnswerSeconds, error);
        if (!client) return ApiResult{false, 0, {}, error};
        for (int attempt = 1;; ++attempt) {
            httplib::Result answer = request(*client);
            if (answer || answer.error() != httplib::Error::Connection || attempt == kConnectTries)
                return From(answer);
            std::this_thread::sleep_for(std::chrono::milliseconds(50 * attempt));
        }
    }
    ApiResult Get(const std::string& path) {
        return Send([&](httplib::Client& c) { return c.Get(path); });
    }
    ApiResult Post(const std::string& path, const std::string& body) {
        return Send([&](httplib::Client& c) { return c.Post(path, body, "application/json"); });
    }
};

std::string SocketPathOf(const std::string& folder) {
    return folder + kSocketFileName;
}

std::string UrlEncode(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

ApiClient::ApiClient(Endpoint endpoint) : impl_(std::make_unique<Impl>()) {
    impl_->endpoint = std::move(endpoint);
}

ApiClient::~ApiClient() = default;

ApiResult ApiClient::Status() {
    return impl_->Get("/api/v1/status");
}

ApiResult ApiClient::Controller(const std::string& name) {
    return impl_->Get("/api/v1/controllers/" + UrlEncode(name));
}

ApiResult ApiClient::Switch(const std::string& controller, int relay, bool on) {
    return impl_->Post(
        "/api/v1/controllers/" + UrlEncode(controller) + "/relays/" + std::to_string(relay),
        on ? R"({"state":"on"})" : R"({"state":"off"})");
}

ApiResult ApiClient::Run() {
    return impl_->Post("/api/v1/run", {});
}

ApiResult ApiClient::Stop() {
    return impl_->Post("/api/v1/stop", {});
}

ApiResult ApiClient::Journal(const std::string& date, const std::string& controller) {
    std::string query;
    if (!date.empty()) query += "date=" + UrlEncode(date);
    if (!controller.empty())
        query += (query.empty() ? "" : "&") + ("controller=" + UrlEncode(controller));
    return impl_->Get("/api/v1/journal" + (query.empty() ? "" : "?" + query));
}

ApiResult ApiClient::Events(const std::function<bool(const std::string& json)>& onEvent,
                            const std::function<void()>& onOpen) {
    std::string error;
    auto client = impl_->NewClient(kStreamSeconds, error);
    if (!client) return ApiResult{false, 0, {}, error};
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->cancelled) return ApiResult{true, 200, {}, {}};
        impl_->streaming = client.get();
    }
    int status = 0;
    std::string pending;  // a line not yet complete
    std::string body;     // an error's answer
    const httplib::Result answer = client->Get(
        "/api/v1/events",
        [&](const httplib::Response& response) {
            status = response.status;
            if (status == 200 && onOpen) onOpen();
            return true;
        },
        [&](const char* data, std::size_t size) {
            if (status != 200) {
                body.append(data, size);
                return body.size() < 64 * 1024;
            }
            pending.append(data, size);
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.rfind("data:", 0) != 0) continue;  // a comment or a blank line
                std::string event = line.substr(5);
                if (!event.empty() && event.front() == ' ') event.erase(0, 1);
                if (!onEvent(event)) return false;
            }
            return true;
        });
    {
        std::lock_guard lock(impl_->mutex);
        impl_->streaming = nullptr;
    }
    ApiResult result;
    if (status == 0) return impl_->From(answer);
    result.reached = true;
    result.status = status;
    result.body = body;
    if (!result.Ok()) result.error = ErrorText(body);
    return result;
}

void ApiClient::Cancel() {
    std::lock_guard lock(impl_->mutex);
    impl_->cancelled = true;
    if (impl_->streaming) impl_->streaming->stop();
}

}  // namespace ristova::api
