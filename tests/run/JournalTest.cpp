// The journal file: its schema, a journal that cannot be written, a damaged
// file, housekeeping, and reading a day back.
#include "run/Journal.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Files.h"
#include "base/IniFile.h"
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

}  // namespace
}  // namespace ristova::run
