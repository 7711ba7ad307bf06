// The journal file: its schema, a journal that cannot be written, a damaged
// file, housekeeping, chatter kept as aggregated rows, the size cap, and
// reading a day back.
#include "run/Journal.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Files.h"
#include "base/IniFile.h"
#include "base/TextUtils.h"
#include "run/Timeline.h"
#include "support/TempDir.h"

namespace ristova::run {
namespace {

RunEvent Event(std::string at, std::string kind, std::string result, int relay = 0,
               std::string source = "engine") {
    return {std::move(at), "泵房.PSW", relay, std::move(kind), std::move(source),
            std::move(result), "d"};
}

// One value of a query on the file, as text.
std::string Query(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string value;
    if (sqlite3_open(file.c_str(), &db) == SQLITE_OK) {
        sqlite3_exec(
            db, sql.c_str(),
            [](void* out, int, char** values, char**) {
                *static_cast<std::string*>(out) = values[0] ? values[0] : "NULL";
                return 0;
            },
            &value, nullptr);
    }
    sqlite3_close(db);
    return value;
}

TEST(JournalTest, ANewFileGetsTheSchemaAndRowsReadBackByDayAndController) {
    test::TempDir dir;
    {
        Journal journal(dir.Path());
        journal.OnRunEvent(Event("2012-03-17 23:59:59.999", "run", "started"));
        journal.OnRunEvent(Event("2012-03-18 00:00:00.000", "on", "sent", 3, "plan"));
        RunEvent other = Event("2012-03-18 08:00:00.000", "off", "sent", 1, "manual");
        other.controller = "乙.PSW";
        journal.OnRunEvent(other);
        journal.OnRunEvent(Event("2012-03-18 23:59:59.999", "state", "1", 32, "board"));
        journal.OnRunEvent(Event("2012-03-19 00:00:00.000", "run", "stopped"));
        journal.Flush();
        EXPECT_EQ(journal.Written(), 5u);
    }
    const std::string file = dir.File("运行记录.db");
    EXPECT_EQ(Query(file, "PRAGMA user_version"), "1");
    EXPECT_EQ(Query(file, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(Query(file, "SELECT group_concat(name, ' ') FROM pragma_table_info('events')"),
              "id at controller relay kind source result detail");
    EXPECT_EQ(Query(file, "SELECT relay FROM events WHERE kind = 'run' LIMIT 1"), "NULL");

    const auto day = ReadJournalDay(file, "泵房.PSW", Date{2012, 3, 18});
    ASSERT_EQ(day.size(), 2u);
    EXPECT_EQ(day[0].at, "2012-03-18 00:00:00.000");
    EXPECT_EQ(day[0].relay, 3);
    EXPECT_EQ(day[0].source, "plan");
    EXPECT_EQ(day[1].relay, 32);
    EXPECT_EQ(day[1].result, "1");
    EXPECT_TRUE(ReadJournalDay(dir.File("none.db"), "泵房.PSW", Date{2012, 3, 18}).empty());
}

TEST(JournalTest, RowsTheFileRefusesAreKeptInOrderAndOnlyAnOverflowIsLostAndCounted) {
    test::TempDir dir;
    // A folder where the file should be: no user, root included, can open it.
    const std::string file = dir.File("运行记录.db");
    ::mkdir(file.c_str(), 0755);
    std::mutex mutex;
    std::vector<std::uint64_t> reports;
    Journal journal(dir.Path(), {}, JournalLimits{5, 1});
    journal.SetOnRowsLost([&](std::uint64_t lost) {
        std::lock_guard lock(mutex);
        reports.push_back(lost);
    });
    for (int i = 1; i <= 8; ++i)
        journal.OnRunEvent(
            Event("2012-03-18 08:00:0" + std::to_string(i) + ".000", "on", "sent", i));
    journal.Flush();
    EXPECT_EQ(journal.Written(), 0u);
    EXPECT_EQ(journal.Dropped(), 3u);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(reports, std::vector<std::uint64_t>{3});
    }

    ::rmdir(file.c_str());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (journal.Written() < 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    journal.OnRunEvent(Event("2012-03-18 08:00:09.000", "run", "stopped"));
    journal.Flush();
    EXPECT_EQ(journal.Written(), 6u);
    std::vector<std::string> rows;
    for (const RunEvent& e : ReadJournalDay(file, "泵房.PSW", Date{2012, 3, 18}))
        rows.push_back(e.at.substr(17, 2) + " " + e.kind + " " + e.result + " " + e.detail);
    // The row of the loss stands where the loss began.
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "01 on sent d", "02 on sent d", "03 on sent d", "04 on sent d",
                        "05 on sent d", "06 journal lost 3 rows lost up to 2012-03-18 08:00:08.000",
                        "09 run stopped d"}));
    EXPECT_EQ(journal.Dropped(), 3u);
}

TEST(JournalTest, AFlushReturnsWhenTheFileRefusesMoreRowsThanOneBatch) {
    test::TempDir dir;
    const std::string file = dir.File("运行记录.db");
    ::mkdir(file.c_str(), 0755);
    Journal journal(dir.Path(), {}, JournalLimits{20000, 3600});
    for (int i = 0; i < 6000; ++i)
        journal.OnRunEvent(Event("2012-03-18 08:00:00.000", "on", "sent", i % 32 + 1));
    auto flushed = std::async(std::launch::async, [&] { journal.Flush(); });
    if (flushed.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // The window's thread would hang here until the file takes rows again.
        std::fprintf(stderr, "Flush still waits after 30 s\n");
        std::_Exit(1);
    }
    EXPECT_EQ(journal.Written(), 0u);
    EXPECT_EQ(journal.Dropped(), 0u);
}

TEST(JournalTest, ADamagedFileIsMovedAsideAndANewOneStarted) {
    test::TempDir dir;
    const std::string garbage(8192, 'x');
    dir.Write("运行记录.db", garbage);
    {
        Journal journal(dir.Path());
        journal.OnRunEvent(Event("2012-03-18 08:00:00.000", "on", "sent", 1));
        journal.Flush();
        EXPECT_EQ(journal.Written(), 1u);
        EXPECT_EQ(journal.Dropped(), 0u);
    }
    EXPECT_EQ(dir.Read("运行记录.db.damaged-2012-03-18"), garbage);
    EXPECT_EQ(ReadJournalDay(dir.File("运行记录.db"), "泵房.PSW", Date{2012, 3, 18}).size(), 1u);
}

TEST(JournalTest, ARunStartDeletesRowsOlderThanKeepDays) {
    test::TempDir dir;
    const std::string settings = dir.File("系统参数.INI");
    EXPECT_EQ(ReadJournalKeepDays(settings), 400);
    WriteIniText(settings, "JOURNAL", "KeepDays", "0");
    EXPECT_EQ(ReadJournalKeepDays(settings), 400);
    WriteIniText(settings, "JOURNAL", "KeepDays", "10");
    const std::string file = dir.File("运行记录.db");
    Journal journal(dir.Path(), settings);
    journal.OnRunEvent(Event("2012-03-07 23:59:59.999", "on", "sent", 1));
    journal.OnRunEvent(Event("2012-03-08 00:00:00.000", "on", "sent", 2));
    journal.Flush();
    EXPECT_EQ(Query(file, "SELECT count(*) FROM events"), "2");
    // Other run events leave the old rows alone.
    journal.OnRunEvent(Event("2012-03-18 08:00:00.000", "run", "stopped"));
    journal.Flush();
    EXPECT_EQ(Query(file, "SELECT count(*) FROM events"), "3");
    journal.OnRunEvent(Event("2012-03-18 08:00:01.000", "run", "started"));
    journal.Flush();
    EXPECT_EQ(Query(file, "SELECT min(at) FROM events"), "2012-03-08 00:00:00.000");
    EXPECT_EQ(Query(file, "SELECT count(*) FROM events"), "3");
}

TEST(JournalTest, StateChatterAndRefusalsBecomeOneRowAMinuteWithTheCountAndTheLastState) {
    auto state = [](std::string at, int relay, bool on) {
        return RunEvent{"2012-03-18 08:" + at, "泵房.PSW", relay, "state", "board",
                        on ? "1" : "0",        ""};
    };
    test::TempDir dir;
    Journal journal(dir.Path());
    // Relay 1 flips every second of 08:00, then once more at 08:01:00.
    for (int s = 0; s < 60; ++s)
        journal.OnRunEvent(
            state("00:" + PadLeft(std::to_string(s), '0', 2) + ".000", 1, s % 2 == 0));
    journal.OnRunEvent(state("01:00.000", 1, true));
    journal.OnRunEvent(state("00:30.000", 2, true));
    // 50 refused requests for relay 3 in one second; the plan's rows stay.
    for (int i = 0; i < 50; ++i) {
        RunEvent refused = Event("2012-03-18 08:00:10." + PadLeft(std::to_string(i), '0', 3), "on",
                                 "refused", 3, "remote");
        refused.detail = "manual operation off";
        journal.OnRunEvent(refused);
        journal.OnRunEvent(Event("2012-03-18 08:00:10.500", "on", "sent", 4, "plan"));
    }
    journal.Flush();

    std::vector<std::string> rows[5];
    const auto day = ReadJournalDay(journal.FilePath(), "泵房.PSW", Date{2012, 3, 18});
    for (const RunEvent& e : day)
        rows[e.relay].push_back(e.at.substr(14, 5) + " " + e.result + " " + e.detail);
    EXPECT_EQ(rows[1],
              (std::vector<std::string>{"00:00 1 ", "00:01 0 ", "00:02 1 ", "00:03 0 ",
                                        "00:59 0 aggregated 56 from 08:00:04.000", "01:00 1 "}));
    EXPECT_EQ(rows[2].size(), 1u);
    ASSERT_EQ(rows[3].size(), 5u);
    EXPECT_EQ(rows[3][4], "00:10 refused aggregated 46 from 08:00:10.004: manual operation off");
    EXPECT_EQ(rows[4].size(), 50u);

    // The history page draws the minute as chatter, the states around it as they were.
    const DayTimeline timeline = BuildDayTimeline(day, {}, 3, kDaySeconds);
    const int eight = 8 * 3600;
    EXPECT_EQ(timeline.relays[0].chatter, (std::vector<Span>{{eight + 4, eight + 60}}));
    EXPECT_EQ(
        timeline.relays[0].board,
        (std::vector<Span>{{eight, eight + 1}, {eight + 2, eight + 3}, {eight + 60, kDaySeconds}}));
    EXPECT_TRUE(timeline.relays[1].chatter.empty());

    // Without a flush the aggregated row is written when its time is up.
    test::TempDir other;
    Journal late(other.Path(), {}, JournalLimits{.aggregateSeconds = 1});
    for (int i = 0; i < 10; ++i)
        late.OnRunEvent(state("00:0" + std::to_string(i) + ".000", 1, i % 2));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (late.Written() < 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(late.Written(), 5u);
}

TEST(JournalTest, TheOldestDaysGoWhenTheRowsOutgrowMaxMB) {
    test::TempDir dir;
    const std::string settings = dir.File("系统参数.INI");
    EXPECT_EQ(ReadJournalMaxMB(settings), 200);
    WriteIniText(settings, "JOURNAL", "MaxMB", "1");
    const std::string file = dir.File("运行记录.db");
    // Days of some 400 kB each: two fit under 1 MB.
    auto fillDay = [](Journal& journal, int day) {
        for (int i = 0; i < 300; ++i) {
            RunEvent e =
                Event("2012-03-1" + std::to_string(day) + " 08:00:00.000", "on", "sent", 1);
            e.detail = std::string(1000, 'x');
            journal.OnRunEvent(e);
        }
        journal.Flush();
    };
    {
        Journal journal(dir.Path());
        for (int day = 1; day <= 4; ++day) fillDay(journal, day);
    }
    // A file of an earlier program gives no room back by itself.
    ASSERT_EQ(Query(file, "PRAGMA auto_vacuum=NONE; VACUUM; PRAGMA auto_vacuum"), "0");
    {
        // Checked at the first write, then after every batch here.
        Journal journal(dir.Path(), settings, JournalLimits{.sizeCheckSeconds = 0});
        fillDay(journal, 5);
    }
    for (int day = 1; day <= 5; ++day)
        EXPECT_EQ(ReadJournalDay(file, "泵房.PSW", Date{2012, 3, day + 10}).size(),
                  day <= 3 ? 0u : 300u)
            << day;
    EXPECT_EQ(Query(file, "PRAGMA auto_vacuum"), "2");
    EXPECT_LE(std::filesystem::file_size(file), 1u << 20);
}

}  // namespace
}  // namespace ristova::run
