// The decoder host on Windows: spawned on its pipe, its answer read, its
// text copied no further than readable memory goes, a call that never
// returns ended in time. The faults' other cases are shared with Linux.
#include <gtest/gtest.h>

#include <chrono>

#include "controller/StatePlugin.h"

namespace ristova::controller {
namespace {

const std::string kPluginDir = RISTOVA_PLUGIN_DIR;
const std::string kTestPluginDir = RISTOVA_TEST_PLUGIN_DIR;

TEST(Win32DecoderHost, AnswersAreCopiedAndAHangingCallIsEndedInTime) {
    EXPECT_EQ(QueryPluginDescription(kPluginDir, "SimRelay.dll"), "Ristova 模拟继电器控制器");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "echo.dll"), "回显");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "unterminated.dll"), "unterminated");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "sleepy.dll"), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(QueryPluginDescription(kPluginDir, "SimRelay.dll", "C:/nowhere/host.exe"), "");
}

}  // namespace
}  // namespace ristova::controller
