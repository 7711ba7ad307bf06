// Who may reach the API over TCP: the address, the token file's rules and
// the token's comparison.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "api/ApiClient.h"
#include "api/ApiSettings.h"
#include "support/TempDir.h"

namespace ristova::api {
namespace {

TEST(ApiSettings, ListenIsHostAndPortAndOnlyLoopbackIsLocal) {
    struct Case {
        const char* listen;
        bool valid;
        const char* host;
        int port;
        bool loopback;
    } cases[] = {
        {"127.0.0.1:8080", true, "127.0.0.1", 8080, true},
        {"127.8.9.10:0", true, "127.8.9.10", 0, true},
        {"localhost:80", true, "localhost", 80, true},
        {"[::1]:9000", true, "::1", 9000, true},
        {"0.0.0.0:8080", true, "0.0.0.0", 8080, false},
        {"192.168.1.5:8080", true, "192.168.1.5", 8080, false},
        {"127.0.0.1.evil.example:80", true, "127.0.0.1.evil.example", 80, false},
        {"[::]:80", true, "::", 80, false},
        {"::1:80", false, "", 0, false},
        {"127.0.0.1", false, "", 0, false},
        {":8080", false, "", 0, false},
        {"127.0.0.1:65536", false, "", 0, false},
        {"127.0.0.1:-1", false, "", 0, false},
        {"127.0.0.1:http", false, "", 0, false},
    };
    for (const Case& c : cases) {
        ListenAddress a;
        ASSERT_EQ(ParseListen(c.listen, a), c.valid) << c.listen;
        if (!c.valid) continue;
        EXPECT_EQ(a.host, c.host) << c.listen;
        EXPECT_EQ(a.port, c.port) << c.listen;
        EXPECT_EQ(IsLoopback(a.host), c.loopback) << c.listen;
    }
}

TEST(ApiSettings, TcpStartsOnlyWithATokenNobodyElseCanRead) {
    test::TempDir dir;
    ListenAddress address;
    std::string token;
    auto check = [&](const std::string& listen, const std::string& file) {
        return CheckTcpSettings(ApiSettings{listen, file}, address, token);
    };
    EXPECT_NE(check("0.0.0.0:8080", "").find("not loopback"), std::string::npos);
    // Every TCP request needs the token, on loopback too.
    EXPECT_NE(check("127.0.0.1:8080", "").find("TokenFile"), std::string::npos);
    EXPECT_NE(check("nonsense", "").find("host:port"), std::string::npos);
    EXPECT_NE(check("127.0.0.1:8080", dir.File("missing")).find("cannot read"), std::string::npos);

    const std::string file = dir.Write("token", "  s3cret-token \r\nsecond line\r\n");
    ::chmod(file.c_str(), 0644);
    EXPECT_NE(check("0.0.0.0:8080", file).find("can be read by others"), std::string::npos);
    EXPECT_TRUE(token.empty());
    ::chmod(file.c_str(), 0640);
    EXPECT_EQ(check("0.0.0.0:8080", file), "");
    EXPECT_EQ(token, "s3cret-token");
    EXPECT_EQ(address.port, 8080);

    const std::string empty = dir.Write("empty", "\r\n");
    ::chmod(empty.c_str(), 0600);
    EXPECT_NE(check("127.0.0.1:1", empty).find("empty"), std::string::npos);
}

TEST(ApiSettings, TokensMatchOnlyWhenEqualAndNamesAreEncodedWhole) {
    EXPECT_TRUE(SameToken("abc123", "abc123"));
    EXPECT_FALSE(SameToken("abc12", "abc123"));
    EXPECT_FALSE(SameToken("abc1234", "abc123"));
    EXPECT_FALSE(SameToken("abd123", "abc123"));
    EXPECT_FALSE(SameToken("", "abc123"));
    EXPECT_FALSE(SameToken(std::string("abc123\0", 7), "abc123"));

    // A name's '%', '#', '?', '+' and '/' must reach the server as they are.
    EXPECT_EQ(UrlEncode("泵 房%#?+/a.PSW"), "%E6%B3%B5%20%E6%88%BF%25%23%3F%2B%2Fa.PSW");
}

}  // namespace
}  // namespace ristova::api
