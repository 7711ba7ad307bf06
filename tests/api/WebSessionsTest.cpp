// The web page's sessions and the pace of wrong tokens, on a clock of the
// test's own.
#include "api/WebSessions.h"

#include "api/Crypto.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/TempDir.h"

namespace ristova::api {
namespace {

using namespace std::chrono_literals;
using Clock = WebSessions::Clock;

const Clock::time_point kT0 = Clock::time_point(std::chrono::hours(490000));

// Each platform's own cryptography (OpenSSL, CNG) gives the same keys.
TEST(Crypto, TheKeyedHashIsHmacSha256AndRandomBytesDiffer) {
    // RFC 4231, test case 2.
    EXPECT_EQ(HmacSha256Hex("Jefe", "what do ya want for nothing?"),
              "5BDCC146BF60754E6A042426089575C75A003F089D2739839DEC58B964EC3843");
    unsigned char a[32] = {}, b[32] = {};
    ASSERT_TRUE(RandomBytes(a, sizeof a));
    ASSERT_TRUE(RandomBytes(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

TEST(WebSessions, ASessionLivesWhileUsedAndEndsAfterTwelveIdleHoursOrALogout) {
    WebSessions sessions("tok", "");
    const std::string a = sessions.Create(kT0);
    ASSERT_EQ(a.size(), 64u);
    EXPECT_NE(sessions.Create(kT0), a);
    EXPECT_FALSE(sessions.Use(a, kT0 + 11h).empty());
    // Each use starts the idle time again.
    const std::string key = sessions.Use(a, kT0 + 22h);
    ASSERT_FALSE(key.empty());
    EXPECT_NE(key, a);
    EXPECT_TRUE(sessions.Alive(key, kT0 + 33h));
    EXPECT_FALSE(sessions.Alive(key, kT0 + 34h));
    EXPECT_TRUE(sessions.Use(a, kT0 + 34h).empty());
    EXPECT_TRUE(sessions.Use("", kT0).empty());
    EXPECT_TRUE(sessions.Use(std::string(64, '0'), kT0).empty());

    const std::string b = sessions.Create(kT0);
    const std::string bKey = sessions.Use(b, kT0);
    EXPECT_EQ(sessions.End(b), bKey);
    EXPECT_TRUE(sessions.Use(b, kT0).empty());
    EXPECT_TRUE(sessions.End(b).empty());
}

TEST(WebSessions, SessionsOutliveARestartButNotALogoutIdleHoursOrANewToken) {
    test::TempDir dir;
    const std::string file = dir.File(kSessionsFileName);
    std::string kept, ended, idle;
    {
        WebSessions sessions("tok", file);
        idle = sessions.Create(kT0 - 13h);
        kept = sessions.Create(kT0);
        ended = sessions.Create(kT0);
        EXPECT_FALSE(sessions.End(ended).empty());
        sessions.Save();
    }
    // What is kept opens nothing by itself.
    const std::string bytes = dir.Read(kSessionsFileName);
    for (const std::string& id : {kept, ended, idle}) EXPECT_EQ(bytes.find(id), std::string::npos);

    WebSessions again("tok", file);
    again.Load(kT0 + 1h);
    EXPECT_EQ(again.Count(), 1u);
    EXPECT_FALSE(again.Use(kept, kT0 + 1h).empty());
    EXPECT_TRUE(again.Use(ended, kT0 + 1h).empty());
    EXPECT_TRUE(again.Use(idle, kT0 + 1h).empty());

    WebSessions newToken("another", file);
    newToken.Load(kT0 + 1h);
    EXPECT_TRUE(newToken.Use(kept, kT0 + 1h).empty());
}

TEST(LoginPace, EachWrongTokenDoublesTheWaitUpToAMinuteAndTheRightOneEndsIt) {
    LoginPace pace;
    const auto t0 = LoginPace::Clock::time_point(std::chrono::hours(1));
    EXPECT_EQ(pace.WaitSeconds("10.0.0.1", t0), 0);
    auto now = t0;
    for (int expected : {1, 2, 4, 8, 16, 32, 60, 60}) {
        pace.Failed("10.0.0.1", now);
        EXPECT_EQ(pace.WaitSeconds("10.0.0.1", now), expected);
        EXPECT_EQ(pace.WaitSeconds("10.0.0.1", now + std::chrono::seconds(expected) - 1ms), 1);
        // Another address is not held up.
        EXPECT_EQ(pace.WaitSeconds("10.0.0.2", now), 0);
        now += std::chrono::seconds(expected);
        EXPECT_EQ(pace.WaitSeconds("10.0.0.1", now), 0);
    }
    pace.Succeeded("10.0.0.1");
    pace.Failed("10.0.0.1", now);
    EXPECT_EQ(pace.WaitSeconds("10.0.0.1", now), 1);
    // An address quiet for an hour starts afresh.
    now += 2h;
    pace.Failed("10.0.0.1", now);
    EXPECT_EQ(pace.WaitSeconds("10.0.0.1", now), 1);
}

TEST(LoginPace, ManyAddressesDoNotGrowItWithoutBound) {
    LoginPace pace;
    const auto t0 = LoginPace::Clock::time_point(std::chrono::hours(1));
    for (std::size_t i = 0; i < LoginPace::kMaxAddresses + 10; ++i)
        pace.Failed("10.1." + std::to_string(i), t0 + std::chrono::milliseconds(i));
    // The newest are remembered, the first to end its wait went.
    const std::size_t last = LoginPace::kMaxAddresses + 9;
    EXPECT_EQ(
        pace.WaitSeconds("10.1." + std::to_string(last), t0 + std::chrono::milliseconds(last)), 1);
    EXPECT_EQ(pace.WaitSeconds("10.1.0", t0), 0);
}

TEST(WebSessions, TheCookieIsFoundByItsWholeName) {
    using V = std::vector<std::string>;
    EXPECT_EQ(CookieValues("a=1; ristova_8080=abc; b=2", "ristova_8080"), V{"abc"});
    EXPECT_EQ(CookieValues("ristova_80800=x; ristova_8080", "ristova_8080"), V{});
    EXPECT_EQ(CookieValues("", "ristova_8080"), V{});
    // Another port's page set one with a narrower path: the browser sends it first.
    EXPECT_EQ(CookieValues("ristova_8080=junk; ristova_8080=abc", "ristova_8080"),
              (V{"junk", "abc"}));
}

}  // namespace
}  // namespace ristova::api
