// The [MQTT] keys and the names the bridge makes of them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <utility>

#include "base/IniFile.h"
#include "remote/MqttSettings.h"
#include "support/TempDir.h"

namespace ristova::remote {
namespace {

TEST(MqttSettingsTest, DefaultsAndKeys) {
    test::TempDir dir;
    const std::string file = dir.File("系统参数.INI");
    MqttSettings s = ReadMqttSettings(file);
    EXPECT_EQ(s.host, "");
    EXPECT_EQ(s.port, 1883);
    EXPECT_TRUE(s.discovery);
    EXPECT_EQ(s.discoveryPrefix, "homeassistant");
    EXPECT_EQ(s.topicPrefix.rfind("ristova/", 0), 0u);
    EXPECT_EQ(s.topicPrefix.find_first_of("+#", 0), std::string::npos);

    WriteIniText(file, "MQTT", "Host", "broker");
    WriteIniText(file, "MQTT", "Port", "70000");
    WriteIniText(file, "MQTT", "TopicPrefix", "site/a/");
    WriteIniText(file, "MQTT", "Discovery", "NO");
    s = ReadMqttSettings(file);
    EXPECT_EQ(s.host, "broker");
    EXPECT_EQ(s.port, 1883);  // out of range, and named
    EXPECT_NE(MqttSettingsProblem(s).find("Port=70000"), std::string::npos);
    EXPECT_EQ(s.topicPrefix, "site/a");
    EXPECT_FALSE(s.discovery);
    WriteIniText(file, "MQTT", "Port", "8883");
    EXPECT_EQ(ReadMqttSettings(file).port, 8883);
}

TEST(MqttSettingsTest, RemoteSwitchingIsOffAndUnusableValuesArePlainlyRefused) {
    test::TempDir dir;
    const std::string file = dir.File("系统参数.INI");
    MqttSettings s = ReadMqttSettings(file);
    EXPECT_FALSE(s.allowSet);
    EXPECT_EQ(s.maxSetPerSecond, 5);
    EXPECT_EQ(MqttSettingsProblem(s), "");
    for (const char* prefix : {"t/+/x", "t/#", "a//b", "/a", "$SYS/x"}) {
        WriteIniText(file, "MQTT", "TopicPrefix", prefix);
        EXPECT_NE(MqttSettingsProblem(ReadMqttSettings(file)).find("TopicPrefix"),
                  std::string::npos)
            << prefix;
    }
    WriteIniText(file, "MQTT", "TopicPrefix", "site/泵房 1/");
    WriteIniText(file, "MQTT", "DiscoveryPrefix", "home/+");
    EXPECT_NE(MqttSettingsProblem(ReadMqttSettings(file)).find("DiscoveryPrefix"),
              std::string::npos);
    WriteIniText(file, "MQTT", "DiscoveryPrefix", "home");
    WriteIniText(file, "MQTT", "AllowSet", "yes");
    WriteIniText(file, "MQTT", "MaxSetPerSecond", "20");
    s = ReadMqttSettings(file);
    EXPECT_TRUE(s.allowSet);
    EXPECT_EQ(s.maxSetPerSecond, 20);
    EXPECT_EQ(MqttSettingsProblem(s), "");
    WriteIniText(file, "MQTT", "PasswordFile", "/etc/pw");
    EXPECT_NE(MqttSettingsProblem(ReadMqttSettings(file)).find("without User"), std::string::npos);
    for (const auto& [key, value] :
         {std::pair{"AllowSet", "sure"}, std::pair{"MaxSetPerSecond", "0"},
          std::pair{"MaxSetPerSecond", "5x"}}) {
        WriteIniText(file, "MQTT", key, value);
        s = ReadMqttSettings(file);
        EXPECT_FALSE(s.allowSet);
        EXPECT_NE(MqttSettingsProblem(s).find(std::string(key) + "=" + value), std::string::npos);
        WriteIniText(file, "MQTT", key, "");
    }
}

TEST(MqttSettingsTest, LoopbackHostsAndInstances) {
    for (const char* host : {"localhost", "LocalHost", "127.0.0.1", "127.1.2.3", "::1"})
        EXPECT_TRUE(IsLoopbackHost(host)) << host;
    for (const char* host : {"192.168.1.10", "127.example.com", "broker", "::2"})
        EXPECT_FALSE(IsLoopbackHost(host)) << host;

    const std::string pump = InstanceId("/srv/ristova/pump");
    EXPECT_EQ(pump.rfind("pump-", 0), 0u);
    EXPECT_EQ(InstanceId("/srv/ristova/pump/"), pump);
    EXPECT_NE(InstanceId("/srv/other/pump"), pump);
    EXPECT_EQ(InstanceId("/srv/a+b#c").find_first_of("/+#"), std::string::npos);
}

TEST(MqttSettingsTest, NamesAreSafeTopicLevelsIdsAndJson) {
    EXPECT_EQ(ControllerTopic("泵房.PSW"), "泵房");
    EXPECT_EQ(ControllerTopic("a+b#c/d.psw"), "a_b_c_d");
    EXPECT_EQ(ControllerTopic("x.PSW.bak"), "x.PSW.bak");
    EXPECT_EQ(DiscoveryId("Pump-1_a"), "Pump-1_a");
    EXPECT_EQ(DiscoveryId("泵 /"), "e6b3b5202f");
    EXPECT_EQ(JsonString("a\"b\\c\n\x01灯"), "\"a\\\"b\\\\c\\n\\u0001灯\"");
}

TEST(MqttSettingsTest, JsonStringsReadBackByAJsonParser) {
    std::string every;
    for (int c = 1; c < 128; ++c) every += static_cast<char>(c);
    for (const std::string& text : {every, std::string("继电器 1 \"常开\"\\"), std::string()}) {
        const nlohmann::json parsed = nlohmann::json::parse(JsonString(text));
        ASSERT_TRUE(parsed.is_string());
        EXPECT_EQ(parsed.get<std::string>(), text);
    }
}

}  // namespace
}  // namespace ristova::remote
