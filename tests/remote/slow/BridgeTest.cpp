// The built ristova-run against a real mosquitto broker and the simulated
// board: what it publishes, what a "set" does, and what a broker that is
// gone, restarted or stalled costs.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/RunnerFixture.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "support/Broker.h"
#include "support/Simulator.h"

namespace ristova {
namespace {

using test::ReadUntil;

constexpr const char* kPrefix = "t/site";
const std::string kCtl = std::string(kPrefix) + "/泵房";

class BridgeTest : public ::testing::Test, public test::RunnerFixture {
  protected:
    // "name:password" pairs of the broker's password file; none: anonymous.
    virtual std::vector<std::string> BrokerUsers() const { return {}; }
    void SetUp() override {
        ASSERT_TRUE(broker.Start(BrokerUsers())) << broker.Error();
        ASSERT_TRUE(sim.Start({"--relays", "4"})) << sim.Error();
    }
    void Configure(bool manual = true) {
        WriteIniText(ctx.settingsFile, "MQTT", "Host", "127.0.0.1");
        WriteIniText(ctx.settingsFile, "MQTT", "Port", std::to_string(broker.Port()));
        WriteIniText(ctx.settingsFile, "MQTT", "TopicPrefix", kPrefix);
        settings::WriteSwitch(ctx.settingsFile, settings::kChkManOperate, manual);
    }
    // Started, connected and with the board's first answer published.
    void StartConnected(test::ChildProcess& runner) {
        test::Subscriber states(broker, kCtl + "/relay/4/state");
        ASSERT_TRUE(StartRunner(runner));
        ASSERT_TRUE(ReadUntil(runner, " run engine started", lines, test::kProgramStartMs));
        std::string line;
        ASSERT_TRUE(states.Next(line, 5000)) << "no state published";
    }
    int SimCommandsLike(const std::string& text) const {
        int n = 0;
        for (const test::SimulatorCommand& c : sim.Commands()) n += c.text == text;
        return n;
    }
    bool WaitSimCommand(const std::string& text, int timeoutMs) const {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (SimCommandsLike(text) > 0) return true;
            usleep(20'000);
        }
        return false;
    }

    test::Broker broker;
    test::SimulatorProcess sim;
    std::vector<std::string> lines;
};

TEST_F(BridgeTest, PublishesStatesDiscoveryAndEventsAndSwitchesOnSet) {
    const std::time_t due = std::time(nullptr) + 4;
    MakeFolder(sim.SlavePath(), due);
    Configure();
    test::Subscriber all(broker, std::string(kPrefix) + "/#");
    test::ChildProcess runner;
    StartConnected(runner);

    // The timed command's new state reaches its topic within 2 s of its second.
    std::string line;
    ASSERT_TRUE(all.Next(line, 8000, kCtl + "/relay/2/state")) << "no state of relay 2";
    while (line == kCtl + "/relay/2/state OFF")
        ASSERT_TRUE(all.Next(line, 8000, kCtl + "/relay/2/state"));
    EXPECT_EQ(line, kCtl + "/relay/2/state ON");
    EXPECT_LE(std::time(nullptr), due + 2);

    // A client that comes later finds everything retained.
    std::vector<std::string> retained = broker.Collect(kCtl + "/relay/+/state", 4, 3000);
    std::sort(retained.begin(), retained.end());
    EXPECT_EQ(retained, (std::vector<std::string>{
                            kCtl + "/relay/1/state OFF", kCtl + "/relay/2/state ON",
                            kCtl + "/relay/3/state OFF", kCtl + "/relay/4/state OFF"}));
    EXPECT_EQ(broker.Collect(std::string(kPrefix) + "/status", 1, 3000),
              std::vector<std::string>{std::string(kPrefix) + "/status online"});
    EXPECT_EQ(broker.Collect(kCtl + "/line", 1, 3000),
              std::vector<std::string>{kCtl + "/line ok"});

    // One switch config per relay, with the fields Home Assistant reads.
    std::vector<std::string> configs = broker.Collect("homeassistant/switch/#", 4, 3000);
    ASSERT_EQ(configs.size(), 4u);
    std::sort(configs.begin(), configs.end());
    const std::string node = "t2fsite";
    for (int k = 1; k <= 4; ++k) {
        const std::string& c = configs[k - 1];
        const std::string relay = kCtl + "/relay/" + std::to_string(k);
        const std::string topic =
            "homeassistant/switch/" + node + "/e6b3b5e688bf_" + std::to_string(k) + "/config";
        SCOPED_TRACE(c);
        ASSERT_EQ(c.substr(0, topic.size() + 1), topic + " ");
        const nlohmann::json config = nlohmann::json::parse(c.substr(topic.size() + 1));
        EXPECT_EQ(config.value("unique_id", ""), "ristova_" + node + "_e6b3b5e688bf_" + std::to_string(k));
        EXPECT_EQ(config.value("name", ""), "灯" + std::to_string(k));
        EXPECT_EQ(config.value("command_topic", ""), relay + "/set");
        EXPECT_EQ(config.value("state_topic", ""), relay + "/state");
        EXPECT_EQ(config.value("availability_topic", ""), "t/site/status");
        EXPECT_EQ(config.value("payload_on", ""), "ON");
        EXPECT_EQ(config.value("payload_off", ""), "OFF");
        ASSERT_TRUE(config.contains("device") && config["device"].is_object());
        EXPECT_EQ(config["device"].value("name", ""), "泵房");
        EXPECT_EQ(config["device"]["identifiers"], nlohmann::json::array({node + "_e6b3b5e688bf"}));
    }

    // A set in any letter case switches the relay as a manual switch does.
    ASSERT_TRUE(broker.Publish(kCtl + "/relay/3/set", "on"));
    EXPECT_TRUE(WaitSimCommand(test::OnCommand(3), 3000));
    EXPECT_TRUE(ReadUntil(runner, " 3 on remote sent ", lines, 3000));
    // The events before it (start, states, the timed command) come first.
    nlohmann::json event = nlohmann::json::object();
    while (event.value("source", "") != "remote") {
        ASSERT_TRUE(all.Next(line, 3000, kCtl + "/events"));
        event = nlohmann::json::parse(line.substr(kCtl.size() + 8));
    }
    EXPECT_EQ(event.value("controller", ""), "泵房.PSW");
    EXPECT_EQ(event.value("relay", 0), 3);
    EXPECT_EQ(event.value("kind", ""), "on");
    EXPECT_EQ(event.value("source", ""), "remote");
    EXPECT_EQ(event.value("result", ""), "sent");
    EXPECT_EQ(event.value("detail", ""), "4F2830302C30332C312945");
    EXPECT_FALSE(event.value("at", "").empty());
    EXPECT_TRUE(all.Next(line, 3000, kCtl + "/relay/3/state"));
    EXPECT_EQ(line, kCtl + "/relay/3/state ON");
}

TEST_F(BridgeTest, SetIsRefusedWithoutManualOperationAndForRelaysBeyondTheCount) {
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    Configure(false);
    {
        test::ChildProcess runner;
        StartConnected(runner);
        test::Subscriber events(broker, kCtl + "/events");
        ASSERT_TRUE(broker.Publish(kCtl + "/relay/1/set", "ON"));
        EXPECT_TRUE(ReadUntil(runner, " 1 on remote refused manual operation off", lines, 3000));
        // The board's first states may come before it.
        nlohmann::json event = nlohmann::json::object();
        std::string line;
        while (event.value("source", "") != "remote") {
            ASSERT_TRUE(events.Next(line, 3000));
            event = nlohmann::json::parse(line.substr(kCtl.size() + 8));
        }
        EXPECT_EQ(event.value("result", ""), "refused");
        EXPECT_EQ(event.value("detail", ""), "manual operation off");
    }
    Configure(true);
    test::ChildProcess runner;
    StartConnected(runner);
    ASSERT_TRUE(broker.Publish(kCtl + "/relay/9/set", "ON"));
    EXPECT_TRUE(ReadUntil(runner, " 9 on remote refused no such relay", lines, 3000));
    ASSERT_TRUE(broker.Publish(kCtl + "/relay/1/set", "toggle"));
    EXPECT_TRUE(ReadUntil(runner, " 1 switch remote refused neither ON nor OFF", lines, 3000));
    usleep(300'000);
    EXPECT_EQ(SimCommandsLike(test::OnCommand(1)), 0);
}

TEST_F(BridgeTest, LastWillOnKillAndRepublishAfterABrokerRestart) {
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    Configure();
    {
        test::ChildProcess runner;
        StartConnected(runner);
        test::Subscriber online(broker, std::string(kPrefix) + "/status");
        std::string line;
        ASSERT_TRUE(online.Next(line, 3000));
        EXPECT_EQ(line, std::string(kPrefix) + "/status online");
        kill(runner.Pid(), SIGKILL);
        ASSERT_TRUE(online.Next(line, 5000));
        EXPECT_EQ(line, std::string(kPrefix) + "/status offline");
    }
    test::ChildProcess runner;
    StartConnected(runner);
    // A broker without persistence forgets everything retained.
    broker.Stop();
    ASSERT_TRUE(broker.Start()) << broker.Error();
    const auto restarted = std::chrono::steady_clock::now();
    test::Subscriber states(broker, kCtl + "/relay/1/state");
    std::string line;
    ASSERT_TRUE(states.Next(line, 10000)) << "not published again";
    EXPECT_EQ(line, kCtl + "/relay/1/state OFF");
    EXPECT_LT(std::chrono::steady_clock::now() - restarted, std::chrono::seconds(5));
    EXPECT_EQ(broker.Collect(std::string(kPrefix) + "/status", 1, 3000),
              std::vector<std::string>{std::string(kPrefix) + "/status online"});
}

TEST_F(BridgeTest, AStalledBrokerCostsTheTimedCommandsNothing) {
    const std::time_t first = std::time(nullptr) + 3;
    std::vector<test::PlanRow> rows;
    for (int i = 0; i < 4; ++i)
        rows.push_back({std::to_string(i + 1), test::TimeText(first + i), "接通"});
    MakeFolder(sim.SlavePath(), first, rows);
    Configure();
    test::ChildProcess runner;
    StartConnected(runner);
    broker.Pause();
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(WaitSimCommand(test::OnCommand(i + 1), 8000)) << i;
    for (const test::SimulatorCommand& c : sim.Commands()) {
        for (int i = 0; i < 4; ++i) {
            if (c.text != test::OnCommand(i + 1)) continue;
            const auto late = c.firstByte - std::chrono::system_clock::from_time_t(first + i);
            EXPECT_GE(late, std::chrono::milliseconds(0)) << c.text;
            EXPECT_LT(late, std::chrono::milliseconds(300)) << c.text;
        }
    }
    broker.Resume();
    // Still connected or back: the states catch up.
    std::vector<std::string> retained;
    for (int i = 0; i < 20 && retained != std::vector<std::string>{kCtl + "/relay/4/state ON"};
         ++i)
        retained = broker.Collect(kCtl + "/relay/4/state", 1, 1000);
    EXPECT_EQ(retained, std::vector<std::string>{kCtl + "/relay/4/state ON"});
}

// The broker has a password file and no anonymous access from its start.
class BridgeLoginTest : public BridgeTest {
  protected:
    std::vector<std::string> BrokerUsers() const override { return {"ristova:s3cret"}; }
};

TEST_F(BridgeLoginTest, AWrongPasswordIsReportedOnceAndTheRightOneLogsIn) {
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    Configure();
    WriteIniText(ctx.settingsFile, "MQTT", "User", "ristova");
    WriteIniText(ctx.settingsFile, "MQTT", "PasswordFile", dir.File("mqtt-password"));
    dir.Write("mqtt-password", "wrong\n");
    {
        test::ChildProcess runner;
        ASSERT_TRUE(StartRunner(runner));
        EXPECT_TRUE(ReadUntil(runner, "登录被拒绝", lines, 5000));
        // Past several reconnect delays: no second report, the plan runs on.
        std::vector<std::string> more;
        EXPECT_FALSE(ReadUntil(runner, "登录被拒绝", more, 4000));
        EXPECT_TRUE(runner.Running());
    }
    dir.Write("mqtt-password", "s3cret\n");
    test::Subscriber online(broker, std::string(kPrefix) + "/status");
    test::ChildProcess runner;
    ASSERT_TRUE(StartRunner(runner));
    EXPECT_TRUE(ReadUntil(runner, "远程: 已连接", lines, 5000));
    std::string line;
    ASSERT_TRUE(online.Next(line, 3000));
    EXPECT_EQ(line, std::string(kPrefix) + "/status online");
}

}  // namespace
}  // namespace ristova
