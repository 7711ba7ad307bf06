// The headless loop: calls posted from other threads run on the loop in
// their order, watched descriptors are served, a stop signal ends it.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <thread>
#include <vector>

#include "base/EventLoop.h"

namespace ristova {
namespace {

TEST(EventLoopTest, PostedCallsAndTimersRunOnTheLoopThreadUntilASignal) {
    EventLoop loop;
    const std::thread::id loopThread = std::this_thread::get_id();
    std::vector<int> order;
    bool offThread = false;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            loop.Post([&, i] {
                offThread = offThread || std::this_thread::get_id() != loopThread;
                order.push_back(i);
            });
    });
    IntervalTimer timer;
    int ticks = 0;
    timer.Start(10);
    loop.Watch(timer.Handle(), [&] {
        ticks += static_cast<int>(timer.Read());
        if (ticks >= 3 && order.size() == 100) {
            timer.Stop();
            pthread_kill(pthread_self(), SIGTERM);
        }
    });
    EXPECT_EQ(loop.Run(), SIGTERM);
    poster.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_FALSE(offThread);
    EXPECT_GE(ticks, 3);
}

TEST(EventLoopTest, QuitFromAPostedCallEndsTheRound) {
    EventLoop loop;
    int ran = 0;
    loop.Post([&] {
        ++ran;
        loop.Quit();
    });
    EXPECT_EQ(loop.Run(), 0);
    EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace ristova
