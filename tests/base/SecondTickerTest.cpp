#include "base/SecondTicker.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <ctime>

namespace ristova {
namespace {

TEST(SecondTicker, FiresAtTheStartOfTheNextWholeSecond) {
    SecondTicker ticker;
    ticker.Start();
    pollfd pfd{ticker.Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 1500), 1);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    EXPECT_LT(now.tv_nsec, 50'000'000) << "woke " << now.tv_nsec / 1000 << " us into the second";
    SecondTicker::Reading r = ticker.Read();
    EXPECT_EQ(r.ticks, 1u);
    EXPECT_FALSE(r.clockStepped);
    // Nothing pending: a read does not block and counts nothing.
    EXPECT_EQ(ticker.Read().ticks, 0u);
    ticker.Stop();
    EXPECT_EQ(poll(&pfd, 1, 1200), 0);
}

}  // namespace
}  // namespace ristova
