// The [MQTT] keys and the names the bridge makes of them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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
    EXPECT_EQ(s.port, 1883);  // out of range
    EXPECT_EQ(s.topicPrefix, "site/a");
    EXPECT_FALSE(s.discovery);
    WriteIniText(file, "MQTT", "Port", "8883");
    EXPECT_EQ(ReadMqttSettings(file).port, 8883);
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
