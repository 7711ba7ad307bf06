#pragma once
// One component on the slave side of a fresh pseudo-terminal pair, its
// received blocks collected on the test's (main) thread, and its log.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/Codec.h"
#include "comm/MyComm32.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace ristova::test {

class ComportFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        port.SetCommPort(pty.SlavePath());
        port.SetOnReceiveData([this](const char* buffer, std::uint16_t length) {
            EXPECT_EQ(buffer[length], '\0') << "no zero byte after the data";
            blocks.emplace_back(buffer, length);
        });
    }
    void TearDown() override {
        if (HasFailure()) std::fprintf(stderr, "%s\n", Log().c_str());
        port.ClosePort();
        port.SetCommsLogFileName("");
    }

    void EnableLog() { port.SetCommsLogFileName(dir.File("comm.log")); }
    // The log as UTF-8.
    std::string Log() const { return codec::FromCodePage(dir.Read("comm.log")); }
    bool WaitForLog(const std::string& text, int timeoutMs = 3000) const {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    static std::size_t Count(const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    }

    std::size_t ReceivedBytes() const {
        std::size_t n = 0;
        for (const auto& b : blocks) n += b.size();
        return n;
    }
    std::string Received() const {
        std::string all;
        for (const auto& b : blocks) all += b;
        return all;
    }
    bool PumpUntilReceived(std::size_t count, int timeoutMs = 3000) {
        return poster.PumpUntil([&] { return ReceivedBytes() >= count; }, timeoutMs);
    }

    TempDir dir;
    PtyPair pty;
    PumpedPoster poster;
    TMyComport port{poster};
    std::vector<std::string> blocks;
};

}  // namespace ristova::test
