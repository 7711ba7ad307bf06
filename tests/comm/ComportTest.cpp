// The component on a line whose far end the test plays: the same on every
// platform (a pseudo-terminal here, a COM port under Wine).
#include "comm/ComportFixture.h"

namespace ristova::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using Comport = ComportFixture;

TEST_F(Comport, FreshComponentIsClosedWithItsDefaults) {
    PumpedPoster other;
    TMyComport fresh(other);
    EXPECT_EQ(fresh.CommPort(), "COM1");
    EXPECT_EQ(fresh.ComPortBaudRate(), 9600u);
    EXPECT_EQ(fresh.ComPortDataBits(), db8BITS);
    EXPECT_EQ(fresh.ComPortStopBits(), sb1BITS);
    EXPECT_EQ(fresh.ComPortParity(), ptNONE);
    EXPECT_EQ(fresh.ComPortHwHandshaking(), hhNONE);
    EXPECT_EQ(fresh.ComPortSwHandshaking(), shNONE);
    EXPECT_EQ(fresh.ReadTimeout(), 10);
    EXPECT_TRUE(fresh.EnableDTROnOpen());
    EXPECT_EQ(fresh.CommFileHandle(), kNoHandle);
    EXPECT_EQ(fresh.CommsLogFileName(), "");

    // A closed component: SendData fails with its line, ClosePort writes none.
    EnableLog();
    ASSERT_TRUE(port.OpenPort());
    // The open port's workers log on their own, so look for the close line only.
    fresh.ClosePort();
    EXPECT_EQ(Log().find(" Stopping the Comm"), std::string::npos);
    EXPECT_FALSE(fresh.SendData("x", 1));
    EXPECT_NE(Log().find(" 没有创建Write thread"), std::string::npos);
}

TEST_F(Comport, BurstsArriveWholeInBlocksOfAtMost2048InOrder) {
    ASSERT_TRUE(port.OpenPort());
    // Zero bytes inside the data are data.
    std::string burst("ab\0\0cd\0", 7);
    pty.Write(burst);
    ASSERT_TRUE(PumpUntilReceived(burst.size()));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0], burst);

    blocks.clear();
    std::string longBurst;
    for (int i = 0; i < 5000; ++i) longBurst += static_cast<char>(i % 251);
    pty.Write(longBurst);
    ASSERT_TRUE(PumpUntilReceived(longBurst.size()));
    EXPECT_GE(blocks.size(), 3u);
    for (const auto& b : blocks) EXPECT_LE(b.size(), 2048u);
    EXPECT_EQ(Received(), longBurst);
}

TEST_F(Comport, ReadTimeoutZeroDeliversAtOnceWhatArrived) {
    port.SetReadTimeout(0);
    ASSERT_TRUE(port.OpenPort());
    pty.Write("Q(00)");
    EXPECT_TRUE(PumpUntilReceived(5, 2000));
    EXPECT_EQ(Received(), "Q(00)");
}

TEST_F(Comport, BlocksGoOutInOrderAtLeast50MsApart) {
    EnableLog();
    ASSERT_TRUE(port.OpenPort());
    auto sent = Clock::now();
    std::vector<std::string> fates;
    auto fate = [&](std::string name) {
        return [&fates, name](SendFate f, Clock::time_point) {
            fates.push_back(name + (f == SendFate::Written ? " written" : " not written"));
        };
    };
    ASSERT_TRUE(port.SendData("first", 5, fate("first")));
    ASSERT_TRUE(port.SendData(nullptr, 0));
    EXPECT_FALSE(port.SendData(nullptr, 3, fate("refused")));
    ASSERT_TRUE(port.SendData("second", 6, fate("second")));
    EXPECT_EQ(pty.Read(5, 2000), "first");
    char byte = 0;
    auto secondAt = pty.WaitFirstByte(2000, &byte);
    ASSERT_NE(secondAt, Clock::time_point::max());
    EXPECT_EQ(byte, 's');
    EXPECT_EQ(pty.Read(5, 2000), "econd");
    // Two pauses: after "first" and after the empty block.
    EXPECT_GE(secondAt - sent, 100ms);
    ASSERT_TRUE(WaitForLog(" Write OK:second"));
    std::string log = Log();
    EXPECT_EQ(Count(log, " Writing to comm port"), 3u);
    EXPECT_NE(log.find(" Write OK:first"), std::string::npos);
    EXPECT_NE(log.find(" Write OK:\r\n"), std::string::npos);
    // Each queued block's fate, once and in order; none for a refused one.
    EXPECT_TRUE(poster.PumpUntil([&] { return fates.size() == 2; }, 2000));
    poster.PumpFor(100);
    EXPECT_EQ(fates, (std::vector<std::string>{"first written", "second written"}));
}

TEST_F(Comport, LargeBlockIsWrittenCompletely) {
    ASSERT_TRUE(port.OpenPort());
    // Far more than the terminal buffers: the write goes on where it stopped.
    std::string block;
    for (int i = 0; i < 65535; ++i) block += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(port.SendData(block.data(), static_cast<std::uint16_t>(block.size())));
    EXPECT_EQ(pty.Read(block.size(), 5000), block);
}

TEST_F(Comport, ClosePortDuringPendingWriteDiscardsTheRest) {
    EnableLog();
    port.SetComPortSwHandshaking(shXONXOFF);
    ASSERT_TRUE(port.OpenPort());
    // XOFF from the far end stops the line, so the write stays pending.
    pty.Write("\x13");
    std::this_thread::sleep_for(50ms);
    std::string block(1000, 'z');
    std::vector<SendFate> fates;
    auto record = [&](SendFate f, Clock::time_point) { fates.push_back(f); };
    ASSERT_TRUE(port.SendData(block.data(), 1000, record));
    ASSERT_TRUE(WaitForLog(" Writing to comm port"));
    ASSERT_TRUE(port.SendData("queued", 6, record));
    ASSERT_TRUE(port.SendData("behind", 6, record));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(pty.Read(1, 50), "");

    auto start = Clock::now();
    port.ClosePort();
    EXPECT_LT(Clock::now() - start, 2s);
    // Told before the close returns, each block once.
    EXPECT_EQ(fates, std::vector<SendFate>(3, SendFate::Dropped));
    poster.PumpFor(100);
    EXPECT_EQ(fates.size(), 3u);
    EXPECT_EQ(port.CommFileHandle(), kNoHandle);
    std::string log = Log();
    EXPECT_EQ(log.find(" Write OK:"), std::string::npos);
    EXPECT_NE(log.find(" Write thread shutting down"), std::string::npos);
    EXPECT_NE(log.find(" Read thread shutting down"), std::string::npos);
}

// While XOFF holds the line: the plan's blocks go ahead of waiting requests,
// a request is replaced by a newer one of its key, and the queue is bounded.
TEST_F(Comport, WaitingBlocksGoUrgentFirstTheLatestOfAKeyWinsAndTheQueueIsBounded) {
    EnableLog();
    port.SetComPortSwHandshaking(shXONXOFF);
    ASSERT_TRUE(port.OpenPort());
    std::vector<std::string> fates;
    auto send = [&](std::string text, bool urgent, std::uint32_t key) {
        return port.Send(
            text.data(), static_cast<std::uint16_t>(text.size()),
            [&fates, text](SendFate f, Clock::time_point) {
                const char* names[] = {" written", " dropped", " failed", " replaced"};
                fates.push_back(text + names[static_cast<int>(f)]);
            },
            SendOptions{urgent, key});
    };
    // XOFF from the far end keeps a block's write pending; the rest wait.
    auto hold = [&](std::size_t writes) {
        pty.Write("\x13");
        std::this_thread::sleep_for(50ms);
        ASSERT_EQ(send(std::string(1000, 'h'), false, 0), SendStatus::Queued);
        ASSERT_TRUE(WaitForLog(" Writing to comm port"));
        while (Count(Log(), " Writing to comm port") < writes) std::this_thread::sleep_for(5ms);
    };
    hold(1);
    EXPECT_EQ(send("a1", false, 1), SendStatus::Queued);
    EXPECT_EQ(send("b2", false, 2), SendStatus::Queued);
    EXPECT_EQ(send("A1", false, 1), SendStatus::Queued);
    EXPECT_EQ(send("u", true, 0), SendStatus::Queued);
    EXPECT_EQ(send("P2", true, 2), SendStatus::Queued);
    EXPECT_EQ(send("U1", true, 1), SendStatus::Queued);
    EXPECT_EQ(send("c", false, 0), SendStatus::Queued);
    pty.Write("\x11");
    EXPECT_EQ(pty.Read(1000 + 6, 5000), std::string(1000, 'h') + "uP2U1c");
    EXPECT_TRUE(poster.PumpUntil([&] { return fates.size() == 8; }, 3000));
    EXPECT_EQ(fates, (std::vector<std::string>{"a1 replaced", "b2 replaced", "A1 replaced",
                                               std::string(1000, 'h') + " written", "u written",
                                               "P2 written", "U1 written", "c written"}));

    hold(6);
    fates.clear();
    ASSERT_EQ(send("k", false, 7), SendStatus::Queued);
    std::size_t waiting = 1;
    while (waiting <= kMaxQueuedBlocks && send("f", waiting % 2 == 0, 0) == SendStatus::Queued)
        ++waiting;
    EXPECT_EQ(waiting, kMaxQueuedBlocks);
    EXPECT_EQ(send("x", true, 0), SendStatus::QueueFull);
    // Full, and still a request replaces the waiting one of its key.
    EXPECT_EQ(send("K", false, 7), SendStatus::Queued);
    port.ClosePort();
    // Each is told once: the replaced one, then the held and the waiting ones.
    ASSERT_EQ(fates.size(), kMaxQueuedBlocks + 2);
    EXPECT_EQ(fates[0], "k replaced");
    EXPECT_EQ(std::count(fates.begin(), fates.end(), "f dropped"), kMaxQueuedBlocks - 1);
    EXPECT_EQ(std::count(fates.begin(), fates.end(), "K dropped"), 1);
}

TEST_F(Comport, DestructorClosesAndDropsUndeliveredBlocks) {
    int calls = 0;
    {
        TMyComport scoped(poster);
        scoped.SetCommPort(pty.SlavePath());
        scoped.SetOnReceiveData([&](const char*, std::uint16_t) { ++calls; });
        ASSERT_TRUE(scoped.OpenPort());
        pty.Write("late");
        // Let the block reach the queue, then let the component go first.
        std::this_thread::sleep_for(100ms);
    }
    poster.Pump();
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(port.OpenPort()) << "the device was released";
}

TEST(PumpedPosterTest, RunsCallsInOrderOnThePumpingThread) {
    PumpedPoster poster;
    std::vector<int> order;
    std::thread producer([&] {
        for (int i = 0; i < 100; ++i) poster.Post([&order, i] { order.push_back(i); });
    });
    producer.join();
    EXPECT_FALSE(poster.Post(nullptr));
    EXPECT_TRUE(poster.PumpUntil([&] { return order.size() == 100; }, 1000));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);

    // A call that posts again runs on the next pump, not in a loop.
    std::function<void()> again = [&] { poster.Post(again); };
    poster.Post(again);
    EXPECT_EQ(poster.Pump(), 1);
    EXPECT_EQ(poster.PumpFor(10), 1);
    EXPECT_FALSE(poster.PumpUntil([] { return false; }, 20));
}

}  // namespace
}  // namespace ristova::test
