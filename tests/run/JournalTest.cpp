// The journal file: its schema, a journal that cannot be written, a damaged
// file, housekeeping, and reading a day back.
#include "run/Journal.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
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

TEST(JournalTest, AJournalThatCannotBeWrittenReportsOnceAndDropsItsRows) {
    test::TempDir dir;
    // A folder where the file should be: no user, root included, can open it.
    ::mkdir(dir.File("运行记录.db").c_str(), 0755);
    std::atomic<int> reports{0};
    Journal journal(dir.Path());
    journal.SetOnUnwritable([&] { ++reports; });
    for (int i = 0; i < 3; ++i) {
        journal.OnRunEvent(Event("2012-03-18 08:00:0" + std::to_string(i) + ".000", "on", "sent"));
        journal.Flush();
    }
    EXPECT_EQ(reports.load(), 1);
    EXPECT_EQ(journal.Written(), 0u);
    EXPECT_EQ(journal.Dropped(), 3u);
}

TEST(JournalTest, ADamagedFileIsMovedAsideAndANewOneStarted) {
    test::TempDir dir;
    const std::string garbage(8192, 'x');
    dir.Write("运行记录.db", garbage);
    std::atomic<int> reports{0};
    {
        Journal journal(dir.Path());
        journal.SetOnUnwritable([&] { ++reports; });
        journal.OnRunEvent(Event("2012-03-18 08:00:00.000", "on", "sent", 1));
        journal.Flush();
        EXPECT_EQ(journal.Written(), 1u);
    }
    EXPECT_EQ(reports.load(), 1);
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
