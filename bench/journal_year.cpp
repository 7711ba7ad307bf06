// A year of journal for one controller of 32 relays: 200 timed actions a day,
// each with its state change read back, plus the run events of each day.
// Prints the insert rate through the writer thread, the time to read one day
// and to turn it into the history page's periods, and the file's size.
//
// Usage: bench_journal_year [days]   (default 365)
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

}  // namespace

int main(int argc, char** argv) {
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 365;
    char folderTemplate[] = "/tmp/ristova-journal-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) return 1;
    const std::string folder = std::string(folderTemplate) + "/";
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
    std::string cleanup = "rm -rf '" + folder + "'";
    [[maybe_unused]] int rc = std::system(cleanup.c_str());
    return 0;
}
