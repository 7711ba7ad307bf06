// The decoder host on Windows: spawned on its pipe, its answer read, its
// text copied no further than readable memory goes, a call that never
// returns ended in time. The faults' other cases are shared with Linux.
#include <gtest/gtest.h>

#include <chrono>

#include "controller/DecoderConnection.h"
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

#ifdef RISTOVA_WIN32_X86
// 32-bit plug-ins with __stdcall exports under either compiler's decorated
// names: the 64-bit host cannot load them, the 32-bit one serves them.
TEST(Win32DecoderHost, A32BitPluginIsServedByThe32BitHost) {
    for (const char* name : {"echo32mingw.dll", "echo32msvc.dll"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(QueryPluginDescription(kTestPluginDir, name), "回显");
        DecoderConnection host(DecoderHostProgram());
        ASSERT_TRUE(host.Start(kTestPluginDir + name).ok);
        EXPECT_TRUE(host.Report().hasDecoder) << host.Report().error;
        const DecoderConnection::Outcome out = host.Call(DecoderFrame::Decode, "1011");
        EXPECT_TRUE(out.ok);
        EXPECT_EQ(out.text, "1011");
        host.Stop();
    }
}
#endif

}  // namespace
}  // namespace ristova::controller
