// A journal file that another program locks, or that the disk refuses to
// grow: the rows of that time are kept and arrive, in order, once the file
// takes them again.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "run/Journal.h"
#include "support/TempDir.h"

namespace ristova::run {
namespace {

class JournalFaultTest : public ::testing::Test {
  protected:
    // A row of relay k at second k.
    void Add(int relay) {
        journal.OnRunEvent({"2012-03-18 08:00:0" + std::to_string(relay) + ".000", "泵房.PSW", relay,
                            "on", "plan", "sent", "d"});
    }
    // Relay 0's row is in the file; rows 1 to 5 come while the fault lasts
    // and are tried once before it ends.
    void RowsDuring(const std::function<void()>& fault, const std::function<void()>& end) {
        Add(0);
        journal.Flush();
        ASSERT_EQ(journal.Written(), 1u);
        fault();
        for (int relay = 1; relay <= 5; ++relay) Add(relay);
        journal.Flush();
        end();
        EXPECT_EQ(journal.Written(), 1u) << "the fault refused no row";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (journal.Written() < 6 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<int> relays;
        for (const RunEvent& e : ReadJournalDay(journal.FilePath(), "泵房.PSW", Date{2012, 3, 18}))
            relays.push_back(e.relay);
        EXPECT_EQ(relays, (std::vector<int>{0, 1, 2, 3, 4, 5}));
        EXPECT_EQ(journal.Dropped(), 0u);
    }

    test::TempDir dir;
    Journal journal{dir.Path(), {}, JournalLimits{100, 1}};
};

TEST_F(JournalFaultTest, RowsRefusedWhileAnotherProgramHoldsTheFileArriveWhenItLetsGo) {
    sqlite3* other = nullptr;
    RowsDuring(
        [&] {
            // Held longer than the journal's 2 s busy time-out.
            ASSERT_EQ(sqlite3_open(journal.FilePath().c_str(), &other), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        },
        [&] {
            sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_close(other);
        });
}

TEST_F(JournalFaultTest, RowsRefusedWhileTheDiskIsFullArriveWhenThereIsRoomAgain) {
    // No file of this process may grow: to the journal a full disk, with
    // EFBIG in place of ENOSPC.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    RowsDuring(
        [&] {
            const rlimit none{0, before.rlim_max};
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &none), 0);
        },
        [&] { setrlimit(RLIMIT_FSIZE, &before); });
}

}  // namespace
}  // namespace ristova::run
