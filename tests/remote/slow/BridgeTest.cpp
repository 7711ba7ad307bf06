// The built ristova-run against a real mosquitto broker and the simulated
// board: what it publishes, what a "set" does, and what a broker that is
// gone, restarted or stalled costs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/RunnerFixture.h"
#include "base/IniFile.h"
#include "base/Settings.h"
#include "remote/MqttSettings.h"
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
    // The broker under kPrefix; "set" taken unless allowSet is empty.
    void Configure(bool manual = true, const std::string& allowSet = "YES",
                   const test::RunnerFixture* folder = nullptr) {
        const std::string& file = (folder ? *folder : *this).ctx.settingsFile;
        WriteIniText(file, "MQTT", "Host", "127.0.0.1");
        WriteIniText(file, "MQTT", "Port", std::to_string(broker.Port()));
        WriteIniText(file, "MQTT", "TopicPrefix", kPrefix);
        if (!allowSet.empty()) WriteIniText(file, "MQTT", "AllowSet", allowSet);
        settings::WriteSwitch(file, settings::kChkManOperate, manual);
    }
    // Started, connected and with the board's first answer published.
    void StartConnected(test::ChildProcess& runner) {
        // An earlier runner's retained state must not pass for this one's,
        // which comes after its subscriptions.
        ASSERT_TRUE(broker.Publish(kCtl + "/relay/4/state", "", true));
        test::Subscriber states(broker, kCtl + "/relay/4/state");
        ASSERT_TRUE(StartRunner(runner));
        ASSERT_TRUE(ReadUntil(runner, " run engine started", lines, test::kProgramStartMs));
        std::string line;
        ASSERT_TRUE(states.Next(line, 5000)) << "no state published";
    }
    // A folder's status topic.
    static std::string Status(const test::RunnerFixture& folder) {
        return std::string(kPrefix) + "/" + remote::InstanceId(folder.dir.Path()) + "/status";
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
    EXPECT_EQ(broker.Collect(std::string(kPrefix) + "/+/status", 1, 3000),
              std::vector<std::string>{Status(*this) + " online"});
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
        EXPECT_EQ(config.value("availability_topic", ""), Status(*this));
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
        test::Subscriber online(broker, Status(*this));
        std::string line;
        ASSERT_TRUE(online.Next(line, 3000));
        EXPECT_EQ(line, Status(*this) + " online");
        kill(runner.Pid(), SIGKILL);
        ASSERT_TRUE(online.Next(line, 5000));
        EXPECT_EQ(line, Status(*this) + " offline");
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
    EXPECT_EQ(broker.Collect(Status(*this), 1, 3000),
              std::vector<std::string>{Status(*this) + " online"});
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

TEST_F(BridgeTest, RetainedCommandsAreIgnoredAndWithoutAllowSetRelaysAreReadOnly) {
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    Configure();
    // Left on the broker, it would switch relay 1 at every connect.
    ASSERT_TRUE(broker.Publish(kCtl + "/relay/1/set", "ON", true));
    {
        test::ChildProcess runner;
        StartConnected(runner);
        EXPECT_TRUE(
            ReadUntil(runner, " 1 on remote refused retained message ignored", lines, 5000));
        EXPECT_EQ(broker.Collect("homeassistant/switch/#", 4, 3000).size(), 4u);
    }
    EXPECT_EQ(SimCommandsLike(test::OnCommand(1)), 0);

    // The default: states only. The switches give way to sensors that
    // have no command topic, and a "set" is not even read.
    WriteIniText(ctx.settingsFile, "MQTT", "AllowSet", "");
    test::ChildProcess runner;
    StartConnected(runner);
    std::vector<std::string> sensors = broker.Collect("homeassistant/binary_sensor/#", 4, 3000);
    ASSERT_EQ(sensors.size(), 4u);
    for (const std::string& sensor : sensors) {
        const nlohmann::json config = nlohmann::json::parse(sensor.substr(sensor.find(' ') + 1));
        EXPECT_FALSE(config.contains("command_topic")) << sensor;
        EXPECT_EQ(config.value("state_topic", "").rfind(kCtl + "/relay/", 0), 0u) << sensor;
    }
    std::vector<std::string> switches{"?"};
    for (int i = 0; i < 20 && !switches.empty(); ++i)
        switches = broker.Collect("homeassistant/switch/#", 1, 300);
    EXPECT_TRUE(switches.empty()) << switches.front();
    ASSERT_TRUE(broker.Publish(kCtl + "/relay/3/set", "ON"));
    EXPECT_FALSE(ReadUntil(runner, " 3 on remote ", lines, 1500));
    EXPECT_EQ(SimCommandsLike(test::OnCommand(3)), 0);
}

TEST_F(BridgeTest, AFloodOfSetsIsLimitedPerSecondAndToldInAFewRows) {
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    Configure();
    test::ChildProcess runner;
    StartConnected(runner);
    constexpr int kFlood = 500;
    constexpr int kLimit = 5;  // MaxSetPerSecond's default
    std::vector<std::string> pub = broker.ClientArgs("/usr/bin/mosquitto_pub");
    pub.insert(pub.end(), {"-q", "1", "-t", kCtl + "/relay/1/set", "-m", "ON", "--repeat",
                           std::to_string(kFlood)});
    test::ChildProcess flood;
    ASSERT_TRUE(flood.Start(pub) && flood.WaitExit(test::kProgramStartMs));
    // Every request is either let through to the run or counted in a row.
    int refused = 0;
    int rows = 0;
    int passed = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string line;
    const std::string limited = " 0 switch remote refused rate limit: ";
    while (refused + passed < kFlood && std::chrono::steady_clock::now() < deadline) {
        if (!runner.ReadLine(line, 200)) continue;
        if (const auto at = line.find(limited); at != std::string::npos) {
            ++rows;
            refused += std::atoi(line.c_str() + at + limited.size());
        }
        passed += line.find(" 1 on remote ") != std::string::npos;
    }
    EXPECT_EQ(refused + passed, kFlood);
    EXPECT_GE(passed, kLimit);
    EXPECT_LE(passed, kLimit * (rows + 1));
    EXPECT_GE(rows, 1);
    EXPECT_LE(rows, 3);
    EXPECT_LE(SimCommandsLike(test::OnCommand(1)), passed);
}

TEST_F(BridgeTest, BadPrefixesAreRefusedAndABrokerRefusingTlsIsTold) {
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    Configure();
    WriteIniText(ctx.settingsFile, "MQTT", "TopicPrefix", "t/+/x");
    {
        test::ChildProcess runner;
        ASSERT_TRUE(StartRunner(runner));
        EXPECT_TRUE(
            ReadUntil(runner,
                      " 0 remote broker setting-invalid MQTT: TopicPrefix \"t/+/x\" holds + "
                      "or #",
                      lines, 10000));
        EXPECT_FALSE(ReadUntil(runner, "远程: 已连接", lines, 1500));
    }
    // This broker speaks no TLS: told at once, tried again.
    WriteIniText(ctx.settingsFile, "MQTT", "TopicPrefix", kPrefix);
    WriteIniText(ctx.settingsFile, "MQTT", "TLSCAFile", "/etc/ssl/certs/ca-certificates.crt");
    test::ChildProcess runner;
    ASSERT_TRUE(StartRunner(runner));
    EXPECT_TRUE(
        ReadUntil(runner, " 0 remote broker unreachable 远程: 无法连接 127.0.0.1:", lines, 10000));
    EXPECT_TRUE(runner.Running());
}

TEST_F(BridgeTest, ABrokerThatIsDownIsToldOnceTriedUntilItComesAndAgainAfter30s) {
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    Configure();
    broker.Stop();
    test::ChildProcess runner;
    ASSERT_TRUE(StartRunner(runner));
    ASSERT_TRUE(ReadUntil(runner, "ristova: 远程: 无法连接 127.0.0.1:", lines, 10000));
    ASSERT_TRUE(broker.Start()) << broker.Error();
    // Within the back-off: 1, 2, 4 s.
    ASSERT_TRUE(ReadUntil(runner, "ristova: 远程: 已连接 127.0.0.1:", lines, 15000));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("无法连接") != l.npos; }),
              2)  // the report and its journal row
        << "told more than once";
    // A loss is told at once; 30 s without the broker once more.
    broker.Stop();
    ASSERT_TRUE(ReadUntil(runner, "ristova: 远程: 连接中断", lines, 10000));
    const auto lost = std::chrono::steady_clock::now();
    EXPECT_TRUE(ReadUntil(runner, "ristova: 远程: 无法连接 127.0.0.1:", lines, 60000));
    EXPECT_GE(std::chrono::steady_clock::now() - lost, std::chrono::seconds(29));
}

TEST_F(BridgeTest, CommandsOverTheSizeLimitAreDroppedUnreadAndCounted) {
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    Configure();
    test::ChildProcess runner;
    StartConnected(runner);
    // Read and trimmed, it would switch relay 1.
    ASSERT_TRUE(broker.Publish(kCtl + "/relay/1/set", "ON" + std::string(100, ' ')));
    EXPECT_TRUE(ReadUntil(runner, " 0 switch remote dropped payload over 64 bytes: 1 messages",
                          lines, 5000));
    // A huge one costs no copy of ours: the client library holds it twice.
    const std::string proc = "/proc/" + std::to_string(runner.Pid());
    auto peakKb = [&] {
        std::ifstream in(proc + "/status");
        std::string key;
        long kb = 0;
        while (in >> key && key != "VmHWM:") in.ignore(1 << 20, '\n');
        in >> kb;
        return kb;
    };
    std::ofstream(proc + "/clear_refs") << "5";
    [[maybe_unused]] const long before = peakKb();
    constexpr long kBigKb = 40 * 1024;
    dir.Write("big", std::string(kBigKb * 1024, 'N'));
    std::vector<std::string> pub = broker.ClientArgs("/usr/bin/mosquitto_pub");
    pub.insert(pub.end(), {"-t", kCtl + "/relay/2/set", "-f", dir.File("big")});
    test::ChildProcess big;
    ASSERT_TRUE(big.Start(pub) && big.WaitExit(test::kProgramStartMs));
    EXPECT_TRUE(ReadUntil(runner, " 0 switch remote dropped payload over 64 bytes: 1 messages",
                          lines, 10000));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // shadow memory blurs it
    EXPECT_LT(peakKb() - before, kBigKb * 5 / 2);
#endif
    EXPECT_EQ(SimCommandsLike(test::OnCommand(1)), 0);
}

TEST_F(BridgeTest, InstancesUnderOnePrefixKeepTheirOwnStatusAndDiscovery) {
    // Two folders, controllers A and A_B, both under kPrefix.
    test::RunnerFixture other;
    test::SimulatorProcess otherSim;
    ASSERT_TRUE(otherSim.Start({"--relays", "4"})) << otherSim.Error();
    const std::time_t later = std::time(nullptr) + 3600;
    MakeFolder(sim.SlavePath(), later);
    other.MakeFolder(otherSim.SlavePath(), later);
    WriteController(4, sim.SlavePath(), {}, "A.PSW");
    other.WriteController(4, otherSim.SlavePath(), {}, "A_B.PSW");
    WriteIniText(ctx.settingsFile, "RUN", "sPowerFn", "A.PSW");
    WriteIniText(other.ctx.settingsFile, "RUN", "sPowerFn", "A_B.PSW");
    Configure(true, "");
    Configure(true, "", &other);
    auto start = [&](test::RunnerFixture& folder, test::ChildProcess& runner) {
        ASSERT_TRUE(folder.StartRunner(runner));
        ASSERT_TRUE(ReadUntil(runner, "远程: 已连接", lines, test::kProgramStartMs));
    };
    test::ChildProcess second;
    start(other, second);
    std::vector<std::string> configs;
    {
        test::ChildProcess first;
        start(*this, first);
        std::vector<std::string> online =
            broker.Collect(std::string(kPrefix) + "/+/status", 2, 3000);
        std::sort(online.begin(), online.end());
        std::vector<std::string> expected{Status(*this) + " online", Status(other) + " online"};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(online, expected);
        configs = broker.Collect("homeassistant/binary_sensor/#", 8, 3000);
        ASSERT_EQ(configs.size(), 8u);
        for (const std::string& c : configs) {
            const nlohmann::json config = nlohmann::json::parse(c.substr(c.find(' ') + 1));
            const bool ofA = c.find("/A_B_") == std::string::npos;
            EXPECT_EQ(config.value("availability_topic", ""), Status(ofA ? *this : other)) << c;
        }
    }
    // The first one's end is its own: the other stays available.
    EXPECT_EQ(broker.Collect(Status(*this), 1, 3000),
              std::vector<std::string>{Status(*this) + " offline"});
    EXPECT_EQ(broker.Collect(Status(other), 1, 3000),
              std::vector<std::string>{Status(other) + " online"});
    // Its next start removes its own stale config, and only that.
    const std::string stale = "homeassistant/binary_sensor/t2fsite/A_9/config";
    ASSERT_TRUE(broker.Publish(stale, "{}", true));
    test::ChildProcess first;
    start(*this, first);
    std::vector<std::string> left{"?"};
    for (int i = 0; i < 20 && !left.empty(); ++i) left = broker.Collect(stale, 1, 300);
    EXPECT_TRUE(left.empty()) << "A_9 not removed";
    usleep(500'000);
    std::vector<std::string> now = broker.Collect("homeassistant/binary_sensor/#", 9, 3000);
    std::sort(now.begin(), now.end());
    std::sort(configs.begin(), configs.end());
    EXPECT_EQ(now, configs);
}

// The broker has a password file and no anonymous access from its start.
class BridgeLoginTest : public BridgeTest {
  protected:
    std::vector<std::string> BrokerUsers() const override { return {"ristova:s3cret"}; }
};

TEST_F(BridgeLoginTest, CredentialsAreCheckedAndAWrongPasswordIsReportedOnce) {
    MakeFolder(sim.SlavePath(), std::time(nullptr) + 3600);
    Configure();
    const std::string password = dir.File("mqtt-password");
    auto writePassword = [&](const std::string& text, mode_t mode) {
        dir.Write("mqtt-password", text);
        ASSERT_EQ(chmod(password.c_str(), mode), 0);
    };
    // Refused at the start with the reason, in the journal too; the plan runs on.
    auto refused = [&](const std::string& why) {
        test::ChildProcess runner;
        ASSERT_TRUE(StartRunner(runner));
        EXPECT_TRUE(
            ReadUntil(runner, " 0 remote broker setting-invalid MQTT: " + why, lines, 10000))
            << why;
        EXPECT_TRUE(ReadUntil(runner, "ristova-run: MQTT: " + why, lines, 3000)) << why;
        EXPECT_TRUE(runner.Running());
    };
    WriteIniText(ctx.settingsFile, "MQTT", "PasswordFile", password);
    writePassword("s3cret\n", 0600);
    refused("PasswordFile without User");
    WriteIniText(ctx.settingsFile, "MQTT", "User", "ristova");
    writePassword("s3cret\n", 0640);
    refused("other users may read the password file " + password + " (mode 0640)");

    writePassword("wrong\n", 0600);
    {
        test::ChildProcess runner;
        ASSERT_TRUE(StartRunner(runner));
        EXPECT_TRUE(ReadUntil(runner, "ristova: 远程: 登录被拒绝", lines, 5000));
        // Past several reconnect delays: no second report, the plan runs on.
        std::vector<std::string> more;
        EXPECT_FALSE(ReadUntil(runner, "ristova: 远程: 登录被拒绝", more, 4000));
        EXPECT_TRUE(runner.Running());
    }
    writePassword("s3cret\n", 0600);
    test::Subscriber online(broker, Status(*this));
    test::ChildProcess runner;
    ASSERT_TRUE(StartRunner(runner));
    EXPECT_TRUE(ReadUntil(runner, "远程: 已连接", lines, 5000));
    std::string line;
    ASSERT_TRUE(online.Next(line, 3000));
    EXPECT_EQ(line, Status(*this) + " online");
}

}  // namespace
}  // namespace ristova
