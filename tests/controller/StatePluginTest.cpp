#include "controller/StatePlugin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/TempDir.h"

namespace ristova::controller {
namespace {

const std::string kPluginDir = RISTOVA_PLUGIN_DIR;
const std::string kTestPluginDir = RISTOVA_TEST_PLUGIN_DIR;

std::string Decode(const StatePlugin& plugin, std::string_view block) {
    return plugin.DecodeStates(block.data(), block.size());
}

TEST(StatePluginName, RefusesNamesThatLeaveTheFolder) {
    EXPECT_TRUE(IsSafePluginName("SimRelay.so"));
    EXPECT_TRUE(IsSafePluginName("泵房控制器.so"));
    for (const char* bad : {"", ".", "..", "../SimRelay.so", "sub/x.so", "/lib/x.so", "a\\b.so",
                            "x..so", "a\nb.so"}) {
        EXPECT_FALSE(IsSafePluginName(bad)) << bad;
    }
}

TEST(QueryPluginDescription, CopiesTheTextAndReleasesTheLibrary) {
    // The project's own decoder answers in code page 936.
    EXPECT_EQ(QueryPluginDescription(kPluginDir, "SimRelay.so"), "Ristova 模拟继电器控制器");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "echo.so"), "回显");
    // Missing file, missing export, null result, refused name: all empty.
    EXPECT_EQ(QueryPluginDescription(kPluginDir, "Missing.so"), "");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "decoderonly.so"), "");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "null.so"), "");
    EXPECT_EQ(QueryPluginDescription(kTestPluginDir, "../PowerDll/SimRelay.so"), "");
}

TEST(StatePlugin, FilesThatAreNoPluginLoadNothing) {
    test::TempDir dir;
    dir.Write("text.so", "not a shared library");
    ASSERT_EQ(::mkdir(dir.File("folder.so").c_str(), 0755), 0);
    StatePlugin plugin;
    for (const char* name : {"missing.so", "text.so", "folder.so", ""}) {
        EXPECT_FALSE(plugin.LoadStatePlugin(dir.Path(), name)) << name;
        EXPECT_FALSE(plugin.IsLoaded());
        EXPECT_EQ(plugin.DeviceDescription(), "");
        EXPECT_EQ(Decode(plugin, "S(00,1)E"), "");
    }
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
        StatePlugin plugin;
        ASSERT_TRUE(plugin.LoadStatePlugin(kTestPluginDir, c.file)) << c.file;
        EXPECT_EQ(plugin.HasDecoder(), c.decoder) << c.file;
        EXPECT_EQ(plugin.DeviceDescription(), c.description) << c.file;
        EXPECT_EQ(Decode(plugin, "S(00,1)E"), c.decoded) << c.file;
    }
}

TEST(StatePlugin, KeepsTheLoadedFileAndSwitchesForAnotherOne) {
    StatePlugin plugin;
    ASSERT_TRUE(plugin.LoadStatePlugin(kTestPluginDir, "echo.so"));
    EXPECT_EQ(plugin.LoadedPath(), kTestPluginDir + "echo.so");
    // Exactly the block and its count reach the plug-in.
    EXPECT_EQ(Decode(plugin, "S(00"), "S(00");
    ASSERT_TRUE(plugin.LoadStatePlugin(kTestPluginDir, "echo.so"));
    EXPECT_EQ(Decode(plugin, "abc"), "abc");
    // Another controller's plug-in replaces it.
    ASSERT_TRUE(plugin.LoadStatePlugin(kTestPluginDir, "decoderonly.so"));
    EXPECT_EQ(plugin.LoadedPath(), kTestPluginDir + "decoderonly.so");
    EXPECT_EQ(Decode(plugin, "abc"), "1");
    plugin.UnloadStatePlugin();
    EXPECT_FALSE(plugin.IsLoaded());
    EXPECT_EQ(plugin.LoadedPath(), "");
    EXPECT_EQ(Decode(plugin, "abc"), "");
    // A refused name unloads nothing it should not have loaded.
    EXPECT_FALSE(plugin.LoadStatePlugin(kPluginDir, "../PowerDll/SimRelay.so"));
    EXPECT_FALSE(plugin.IsLoaded());
}

TEST(SimRelayDecoder, DecodesOnlyWholeAnswerFrames) {
    StatePlugin plugin;
    ASSERT_TRUE(plugin.LoadStatePlugin(kPluginDir, "SimRelay.so"));
    EXPECT_EQ(Decode(plugin, "S(00,10100000)E"), "10100000");
    EXPECT_EQ(Decode(plugin, "S(00,1)E"), "1");
    // Each half of a split answer is passed alone and decodes to nothing.
    EXPECT_EQ(Decode(plugin, "S(00,101"), "");
    EXPECT_EQ(Decode(plugin, "00000)E"), "");
    EXPECT_EQ(Decode(plugin, "S(00,)E"), "");
    EXPECT_EQ(Decode(plugin, "S(00,10?1)E"), "");
    EXPECT_EQ(Decode(plugin, std::string(1, '\0') + "\xFFgarbage"), "");
    EXPECT_EQ(Decode(plugin, "S(00," + std::string(33, '1') + ")E"), "");
    // Noise around a frame is skipped; of two frames the newer counts.
    EXPECT_EQ(Decode(plugin, "\r\nS(00,11)E\r\n"), "11");
    EXPECT_EQ(Decode(plugin, "S(00,11)ES(00,01)E"), "01");
    EXPECT_EQ(Decode(plugin, ""), "");
}

}  // namespace
}  // namespace ristova::controller
