// The local API's socket file on Windows: a loopback port and a token that
// only this account may read, and a client that sends the token nowhere else.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "api/Sockets.h"
#include "base/Files.h"
#include "base/win32/Wide.h"
#include "support/TempDir.h"

namespace ristova::api {
namespace {

TEST(Win32LocalApi, TheFileNamesALoopbackPortAndATokenForThisAccountOnly) {
    test::TempDir dir;
    const std::string path = dir.File(".ristova.sock");
    httplib::Server server;
    server.Get("/seen", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.get_header_value("Authorization"), "text/plain");
    });
    std::string token;
    ASSERT_EQ(BindLocal(server, path, path, token), "");
    EXPECT_EQ(token.size(), 64u);
    EXPECT_FALSE(OthersMayRead(path));
    std::thread serving([&] { server.listen_after_bind(); });
    std::string error;
    auto client = LocalClient(path, error);
    ASSERT_TRUE(client) << error;
    const auto answer = client->Get("/seen");
    server.stop();
    serving.join();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "Bearer " + token);

    // The same private file pointing elsewhere gives no client; a crashed
    // process's file goes, and none gives no client either.
    {
        const HANDLE file = ::CreateFileW(win32::WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                          TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const std::string elsewhere = "http://192.0.2.1:80\n" + token + "\n";
        DWORD written = 0;
        ::WriteFile(file, elsewhere.data(), static_cast<DWORD>(elsewhere.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    ASSERT_FALSE(OthersMayRead(path));
    EXPECT_EQ(LocalClient(path, error), nullptr);
    EXPECT_EQ(ClearStaleSocket(path), "");
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(LocalClient(path, error), nullptr);
    EXPECT_NE(error.find("无法连接到Ristova"), std::string::npos) << error;
}

}  // namespace
}  // namespace ristova::api
