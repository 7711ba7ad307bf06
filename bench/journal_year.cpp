// A year of journal for one controller of 32 relays: 200 timed actions a day,
// each with its state change read back, plus the run events of each day.
// Prints the insert rate through the writer thread, the time to read one day
// and to turn it into the history page's periods, and the file's size.
// Then a flood day: a board whose answers flip every relay at every poll for
// 24 h, and 50,000 refused requests; its rows and size with every event a
// row and as the journal keeps them (aggregated).
//
// Usage: bench_journal_year [days]   (default 365)
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/TextUtils.h"
#include "run/Journal.h"
#include "run/Timeline.h"

using namespace ristova;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int kRelays = 32;
constexpr int kActionsPerDay = 200;
const std::string kController = "模拟继电器控制器.PSW";

std::string At(const Date& d, int second, int ms) {
    LocalDateTime t{d, second / 3600, second / 60 % 60, second % 60, ms};
    return run::EventTimeText(t);
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

std::string NewFolder() {
    char folderTemplate[] = "/tmp/ristova-journal-XXXXXX";
    return mkdtemp(folderTemplate) == nullptr ? std::string() : std::string(folderTemplate) + "/";
}

void RemoveFolder(const std::string& folder) {
    std::string cleanup = "rm -rf '" + folder + "'";
    [[maybe_unused]] int rc = std::system(cleanup.c_str());
}

long long CountRows(const std::string& file) {
    sqlite3* db = nullptr;
    long long rows = -1;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT count(*) FROM events", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        rows = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

// The flood day through a journal with these limits: events, rows, MB.
void FloodDay(const char* name, const run::JournalLimits& limits) {
    const std::string folder = NewFolder();
    if (folder.empty()) return;
    const Date d{2025, 6, 1};
    constexpr int kRefusedFrom = 6 * 3600;
    constexpr int kRefusedPerSecond = 500;
    constexpr int kRefused = 50000;
    std::size_t events = 0;
    const auto start = Steady::now();
    {
        run::Journal journal(folder, {}, limits);
        for (int second = 0; second < 86400; ++second) {
            for (int relay = 1; relay <= kRelays; ++relay) {
                journal.OnRunEvent({At(d, second, 70), kController, relay, "state", "board",
                                    (second + relay) % 2 == 0 ? "1" : "0", ""});
                ++events;
            }
            const int burst = second - kRefusedFrom;
            for (int i = 0;
                 burst >= 0 && i < kRefusedPerSecond && burst * kRefusedPerSecond + i < kRefused;
                 ++i) {
                journal.OnRunEvent({At(d, second, i), kController, i % kRelays + 1, "on", "remote",
                                    "refused", "manual operation off"});
                ++events;
            }
            // The memory holds 100,000 rows: the writer catches up every ten minutes.
            if (second % 600 == 599) journal.Flush();
        }
        journal.Flush();
    }
    const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
    const std::string file = folder + run::kJournalFileName;
    std::printf("flood day, %s: %zu events, %lld rows, %.1f MB (%.1f s)\n", name, events,
                CountRows(file),
                static_cast<double>(FileSize(file) + FileSize(file + "-wal")) / 1e6, seconds);
    RemoveFolder(folder);
}

}  // namespace

int main(int argc, char** argv) {
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 365;
    const std::string folder = NewFolder();
    if (folder.empty()) return 1;
    const Date first{2025, 1, 1};

    std::size_t rows = 0;
    const auto start = Steady::now();
    {
        run::Journal journal(folder);
        for (int day = 0; day < days; ++day) {
            const Date d = first.AddDays(day);
            auto add = [&](int second, int ms, int relay, const char* kind, const char* source,
                           std::string result, std::string detail) {
                journal.OnRunEvent({At(d, second, ms), kController, relay, kind, source,
                                    std::move(result), std::move(detail)});
                ++rows;
            };
            add(0, 5, 0, "run", "engine", "date change", DateText(true, d));
            add(0, 6, 0, "run", "engine", "plan chosen", "计划表.tab");
            for (int i = 0; i < kActionsPerDay; ++i) {
                const int relay = i % kRelays + 1;
                const bool on = (i / kRelays) % 2 == 0;
                const int second = 6 * 3600 + i * 300;
                add(second, 3, relay, on ? "on" : "off", "plan", "sent",
                    on ? "4F2830302C30312C3129" : "4F2830302C30312C3029");
                add(second + 1, 40, relay, "state", "board", on ? "1" : "0", "");
            }
        }
        journal.Flush();
    }
    const double insertSeconds = std::chrono::duration<double>(Steady::now() - start).count();
    const std::string file = folder + run::kJournalFileName;

    // Days spread over the year, each read cold from a fresh connection.
    std::vector<double> openMs;
    std::size_t dayRows = 0;
    for (int day = 0; day < days; day += std::max(1, days / 20)) {
        const Date d = first.AddDays(day);
        const auto t0 = Steady::now();
        const auto events = run::ReadJournalDay(file, kController, d);
        const std::vector<run::PlanSegment> plans{{0, "计划表.tab", {}}};
        const auto timeline = run::BuildDayTimeline(events, plans, kRelays, run::kDaySeconds);
        openMs.push_back(std::chrono::duration<double, std::milli>(Steady::now() - t0).count());
        if (timeline.relays.size() == kRelays) dayRows = std::max(dayRows, events.size());
    }
    std::sort(openMs.begin(), openMs.end());

    std::printf("journal of %d days, %zu rows (%zu a day)\n", days, rows, dayRows);
    std::printf("insert rate through the writer thread: %.0f rows/s (%.1f s)\n",
                rows / insertSeconds, insertSeconds);
    std::printf("opening a day (read + periods), %zu days: median %.1f ms, worst %.1f ms\n",
                openMs.size(), openMs[openMs.size() / 2], openMs.back());
    std::printf("file size: %.1f MB (+ wal %.1f MB)\n", FileSize(file) / 1e6,
                FileSize(file + "-wal") / 1e6);
    RemoveFolder(folder);

    FloodDay("every event a row", run::JournalLimits{.ownRowsPerMinute = 0});
    FloodDay("aggregated", run::JournalLimits{});
    return 0;
}
