#include "controller/StatePlugin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace ristova::controller {
namespace {

const std::string kPluginDir = RISTOVA_PLUGIN_DIR;
const std::string kTestPluginDir = RISTOVA_TEST_PLUGIN_DIR;

// A plug-in in its host, with what the host tells collected on this thread.
class Decoder {
  public:
    explicit Decoder(std::string host = DecoderHostProgram()) : plugin(poster, std::move(host)) {
        plugin.SetHandlers({.notLoaded = [this](const std::string& r) { notLoaded.push_back(r); },
                            .failed = [this](const std::string& w) { failed.push_back(w); },
                            .changed = [this] { ++changed; }});
    }
    // Loads and waits until the host has told what it found.
    bool Load(const std::string& folder, const std::string& file) {
        notLoaded.clear();
        changed = 0;
        if (!plugin.LoadStatePlugin(folder, file)) return false;
        return poster.PumpUntil([&] { return changed > 0 || !notLoaded.empty(); },
                                test::kProgramStartMs);
    }
    std::string Decode(std::string_view block) {
        std::optional<std::string> text;
        plugin.DecodeStates(
            [b = std::string(block)](const StatePlugin::DecodeCall& decode) {
                return decode(b.data(), b.size());
            },
            [&](std::string t) { text = std::move(t); });
        poster.PumpUntil([&] { return text.has_value(); }, test::kProgramStartMs);
        return text.value_or("<no answer>");
    }

    PumpedPoster poster;
    StatePlugin plugin;
    std::vector<std::string> notLoaded, failed;
    int changed = 0;
};

TEST(StatePluginName, RefusesNamesThatLeaveTheFolder) {
    EXPECT_TRUE(IsSafePluginName("SimRelay.so"));
    EXPECT_TRUE(IsSafePluginName("泵房控制器.so"));
    for (const char* bad : {"", ".", "..", "../SimRelay.so", "sub/x.so", "/lib/x.so", "a\\b.so",
                            "x..so", "a\nb.so"}) {
        EXPECT_FALSE(IsSafePluginName(bad)) << bad;
    }
}

TEST(QueryPluginDescription, CopiesTheTextAndEndsTheHost) {
    // The project's own decoder answers in code page 936.
    EXPECT_EQ(QueryPluginDescription(kPluginDir, "SimRelay.so"), "Ristova 模拟继电器控制器");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "echo.so"), "回显");
    // A text without its terminator is cut where readable memory ends.
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "unterminated.so"), "unterminated");
    // Missing file, missing export, null result, refused name, a call that
    // never returns: all empty.
    EXPECT_EQ(QueryPluginDescription(kPluginDir, "Missing.so"), "");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "decoderonly.so"), "");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "null.so"), "");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "../PowerDll/SimRelay.so"), "");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "sleepy.so"), "");
    // Without the host nothing is loaded at all.
    EXPECT_EQ(QueryPluginDescription(kPluginDir, "SimRelay.so", "/nowhere/host"), "");
}

TEST(StatePlugin, FilesThatAreNoPluginLoadNothing) {
    test::TempDir dir;
    dir.Write("text.so", "not a shared library");
    ASSERT_EQ(::mkdir(dir.File("folder.so").c_str(), 0755), 0);
    Decoder d;
    for (const char* name : {"missing.so", "folder.so", ""}) {
        EXPECT_FALSE(d.Load(dir.Path(), name)) << name;
        EXPECT_FALSE(d.plugin.IsLoaded());
        EXPECT_NE(d.plugin.LastError(), "") << name;
    }
    // The host tells why the loader refused it; answers then decode to nothing.
    ASSERT_TRUE(d.Load(dir.Path(), "text.so"));
    ASSERT_EQ(d.notLoaded.size(), 1u);
    EXPECT_NE(d.notLoaded[0].find("text.so"), std::string::npos) << d.notLoaded[0];
    EXPECT_FALSE(d.plugin.IsLoaded());
    EXPECT_EQ(d.plugin.LastError(), d.notLoaded[0]);
    EXPECT_EQ(d.Decode("S(00,1)E"), "");
    // So does a missing host.
    Decoder lost("/nowhere/host");
    ASSERT_TRUE(lost.Load(kPluginDir, "SimRelay.so"));
    EXPECT_EQ(lost.notLoaded,
              std::vector<std::string>{"the decoder host /nowhere/host did not start: "
                                       "No such file or directory"});
}

TEST(StatePlugin, MissingExportsAndNullResultsGiveEmptyTexts) {
    struct Case {
        const char* file;
        bool decoder;
        const char* description;
        const char* decoded;
    };
    for (const Case& c : {Case{"descriptiononly.so", false, "only a description", ""},
                          Case{"decoderonly.so", true, "", "1"}, Case{"null.so", true, "", ""}}) {
        Decoder d;
        ASSERT_TRUE(d.Load(kTestPluginDir, c.file)) << c.file;
        EXPECT_EQ(d.plugin.HasDecoder(), c.decoder) << c.file;
        EXPECT_EQ(d.plugin.DeviceDescription(), c.description) << c.file;
        EXPECT_EQ(d.Decode("S(00,1)E"), c.decoded) << c.file;
        EXPECT_EQ(d.failed, std::vector<std::string>{}) << c.file;
    }
}

TEST(StatePlugin, KeepsTheLoadedFileAndSwitchesForAnotherOne) {
    Decoder d;
    ASSERT_TRUE(d.Load(kTestPluginDir, "echo.so"));
    EXPECT_EQ(d.plugin.LoadedPath(), kTestPluginDir + "echo.so");
    // Exactly the block and its count reach the plug-in.
    EXPECT_EQ(d.Decode("S(00"), "S(00");
    // The same file again: the host that has it stays, with its description.
    EXPECT_TRUE(d.plugin.LoadStatePlugin(kTestPluginDir, "echo.so"));
    EXPECT_EQ(d.plugin.DeviceDescription(), "回显");
    EXPECT_EQ(d.Decode("abc"), "abc");
    // Another controller's plug-in replaces it.
    ASSERT_TRUE(d.Load(kTestPluginDir, "decoderonly.so"));
    EXPECT_EQ(d.plugin.LoadedPath(), kTestPluginDir + "decoderonly.so");
    EXPECT_EQ(d.Decode("abc"), "1");
    d.plugin.UnloadStatePlugin();
    EXPECT_FALSE(d.plugin.IsLoaded());
    EXPECT_EQ(d.plugin.LoadedPath(), "");
    EXPECT_EQ(d.plugin.DeviceDescription(), "");
    // A refused name loads nothing.
    EXPECT_FALSE(d.plugin.LoadStatePlugin(kPluginDir, "../PowerDll/SimRelay.so"));
    EXPECT_FALSE(d.plugin.IsLoaded());
}

// A plug-in that hangs, crashes or returns a text without its end costs
// its own answers only; the host is started again and the next answer
// decodes.
TEST(StatePlugin, AHangingCrashingOrUnterminatedPluginIsContained) {
    const std::string late = "no answer within " + std::to_string(kDecoderCallMs) + " ms";
    Decoder sleepy;
    ASSERT_TRUE(sleepy.Load(kTestPluginDir, "sleepy.so"));
    EXPECT_EQ(sleepy.failed, std::vector<std::string>{late});
    EXPECT_EQ(sleepy.plugin.DeviceDescription(), "");
    EXPECT_TRUE(sleepy.plugin.HasDecoder());
    // Started again at once for the next block, which fails as well.
    EXPECT_EQ(sleepy.Decode("S(00,1)E"), "");
    EXPECT_EQ(sleepy.failed, (std::vector<std::string>{late, late}));

    Decoder crashy;
    ASSERT_TRUE(crashy.Load(kTestPluginDir, "crashy.so"));
    EXPECT_EQ(crashy.Decode("101"), "101");
    EXPECT_EQ(crashy.Decode("crash"), "");
    ASSERT_EQ(crashy.failed.size(), 1u);
    EXPECT_TRUE(crashy.failed[0].starts_with("ended: ")) << crashy.failed[0];
    EXPECT_EQ(crashy.Decode("011"), "011");
    EXPECT_EQ(crashy.failed.size(), 1u);

    Decoder unterminated;
    ASSERT_TRUE(unterminated.Load(kTestPluginDir, "unterminated.so"));
    EXPECT_EQ(unterminated.plugin.DeviceDescription(), "unterminated");
    EXPECT_EQ(unterminated.Decode("S(00,1)E"), "101");
    EXPECT_EQ(unterminated.failed, std::vector<std::string>{});
}

TEST(SimRelayDecoder, DecodesOnlyWholeAnswerFrames) {
    Decoder d;
    ASSERT_TRUE(d.Load(kPluginDir, "SimRelay.so"));
    EXPECT_EQ(d.Decode("S(00,10100000)E"), "10100000");
    EXPECT_EQ(d.Decode("S(00,1)E"), "1");
    // Each half of a split answer is passed alone and decodes to nothing.
    EXPECT_EQ(d.Decode("S(00,101"), "");
    EXPECT_EQ(d.Decode("00000)E"), "");
    EXPECT_EQ(d.Decode("S(00,)E"), "");
    EXPECT_EQ(d.Decode("S(00,10?1)E"), "");
    EXPECT_EQ(d.Decode(std::string(1, '\0') + "\xFFgarbage"), "");
    EXPECT_EQ(d.Decode("S(00," + std::string(33, '1') + ")E"), "");
    // Noise around a frame is skipped; of two frames the newer counts.
    EXPECT_EQ(d.Decode("\r\nS(00,11)E\r\n"), "11");
    EXPECT_EQ(d.Decode("S(00,11)ES(00,01)E"), "01");
    EXPECT_EQ(d.Decode(""), "");
}

}  // namespace
}  // namespace ristova::controller
