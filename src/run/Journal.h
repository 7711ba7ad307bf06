#pragma once
// The switching journal: every run event as one row of an SQLite file in the
// program folder. Events are queued by the engine's thread and written in
// batches by a writer thread of its own, so a slow or failing disk never
// holds up a timed command.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "run/RunEvents.h"

struct sqlite3;
struct sqlite3_stmt;

namespace ristova::run {

inline constexpr const char* kJournalFileName = "运行记录.db";
// Panel 3 when rows were lost: the text, then the count (JournalLossText).
inline constexpr const char* kJournalUnwritable = "运行记录无法写入";
// "运行记录无法写入,已丢失N条记录".
std::string JournalLossText(std::uint64_t lost);
inline constexpr std::string_view kJournalSection = "JOURNAL";
inline constexpr std::string_view kKeepDaysKey = "KeepDays";
inline constexpr int kJournalKeepDays = 400;
inline constexpr std::string_view kMaxMBKey = "MaxMB";
inline constexpr int kJournalMaxMB = 200;
inline constexpr int kJournalSchemaVersion = 1;

// KeepDays of the settings file; missing, non-numeric or below 1 gives 400.
int ReadJournalKeepDays(const std::string& settingsFile);
// MaxMB of the settings file (MB of 2^20 bytes); missing, non-numeric or
// below 1 gives 200.
int ReadJournalMaxMB(const std::string& settingsFile);

// A row that stands for several events of one relay: its detail is
// "aggregated <count> from <HH:MM:SS.mmm>", then ": " and the last event's
// detail when it had one. The row itself is the last event.
std::string AggregatedDetail(std::uint64_t count, const std::string& firstAt,
                             const std::string& lastDetail);
struct Aggregated {
    std::uint64_t count = 0;
    std::string from;  // "HH:MM:SS.mmm" of the first event
    std::string lastDetail;
};
std::optional<Aggregated> ParseAggregated(const std::string& detail);

// The events of one controller (every controller's when it is empty) on
// one day, oldest first; empty when the file is missing or cannot be read.
std::vector<RunEvent> ReadJournalDay(const std::string& dbFile, const std::string& controller,
                                     const Date& day);

struct JournalLimits {
    // Rows kept in memory while the file does not take them (locked by
    // another program, a full disk). A row takes a few hundred bytes, so this
    // is some 30 MB at most: more than a day of a busy site (a row a second),
    // while a machine that is short of memory is not pushed over.
    std::size_t maxKeptRows = 100000;
    // Seconds between attempts on a file that did not take rows.
    int retrySeconds = 10;
    // Rows of their own that one relay's state changes get within a minute
    // of the run's clock, and so do its refused requests and those replaced
    // by newer ones (per source). A relay switched by the plan, by hand and
    // from outside rarely changes more often; the rest of that minute is one
    // row with the count and the last state. A board whose answers flip
    // every poll so makes five rows a minute per relay instead of sixty.
    // 0: every event is a row.
    int ownRowsPerMinute = 4;
    // Such a row is written at the latest this long after its first event.
    int aggregateSeconds = 60;
    // Seconds between checks of the file's size against MaxMB; the first
    // check is when the file is first written.
    int sizeCheckSeconds = 3600;
};

class Journal : public IRunEventSink {
  public:
    // folder ends in '/'; settingsFile gives KeepDays (empty: the default).
    explicit Journal(std::string folder, std::string settingsFile = {}, JournalLimits limits = {});
    // Writes what is kept; what the file still refuses then is lost.
    ~Journal() override;
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Queues the event, or folds it into its minute's aggregated row (see
    // JournalLimits); a run start also queues the housekeeping. Rows the
    // file does not take are kept, in order, and written when it takes them
    // again; an event that finds the memory full is lost and counted, and a
    // row says how many were lost.
    void OnRunEvent(const RunEvent& event) override;
    // Called on the writer thread after an attempt on the file when rows
    // were lost since the last call, with the number lost since the start.
    void SetOnRowsLost(std::function<void(std::uint64_t lost)> handler);
    // Closes the aggregated rows still open, then waits until each row
    // queued so far was written or tried once.
    void Flush();

    std::string FilePath() const { return folder_ + kJournalFileName; }
    // Rows written, and events lost, since the start.
    std::uint64_t Written() const;
    std::uint64_t Dropped() const;

  private:
    // The events that found the memory full, while no later one fitted.
    struct LostSpell {
        std::uint64_t count = 0;
        std::string controller;
        std::string firstAt;
        std::string lastAt;
    };
    struct Item {
        RunEvent event;
        bool housekeeping = false;
        // Set: the row that tells of a spell of lost events, in their place.
        std::shared_ptr<LostSpell> lost;
    };
    // The events of one relay, source and class in the minute of `minute`.
    struct Window {
        std::string minute;  // "YYYY-MM-DD HH:MM"
        int own = 0;         // rows of their own so far
        std::uint64_t folded = 0;
        std::string firstAt;
        RunEvent last;
        std::chrono::steady_clock::time_point due;
    };
    // Under the mutex: queues a row, or counts it lost when the memory is full.
    void Enqueue(const RunEvent& event);
    // Under the mutex: queues the row of a window's folded events.
    void CloseWindow(Window& window);
    // Under the mutex: closes the windows that are due (all with force);
    // returns when the next one is.
    std::chrono::steady_clock::time_point CloseDueWindows(bool all);
    void WriterLoop();
    // Copies the front of the queue; a spell of losses in it is closed.
    std::vector<Item> TakeBatch();
    // Writes the batch: after a failure not before the retry is due, unless
    // forced.
    bool WriteBatch(const std::vector<Item>& items, bool force);
    // SQLite result codes.
    int Insert(const std::vector<Item>& items);
    int DeleteOld(const std::string& startedAt);
    // Deletes the oldest days while the rows take more than MaxMB (the
    // newest day stays), then gives the room back to the file system.
    void TrimToSize();
    int Open();
    void Close();
    void MoveDamagedAside(const std::string& today);
    void Failed();

    const std::string folder_;
    const std::string settingsFile_;
    const JournalLimits limits_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    // Every row not yet written, in order; the first tried_ of them were
    // tried and refused.
    std::deque<Item> queue_;
    std::size_t tried_ = 0;
    std::shared_ptr<LostSpell> spell_;
    std::map<std::string, Window> windows_;
    // Rows ever queued, and of those the ones written or tried.
    std::uint64_t queued_ = 0;
    std::uint64_t settled_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t droppedReported_ = 0;
    bool stop_ = false;
    int flushWanted_ = 0;
    std::function<void(std::uint64_t)> onRowsLost_;

    // Writer thread only.
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    std::chrono::steady_clock::time_point nextTry_;
    std::chrono::steady_clock::time_point nextSizeCheck_;

    std::thread writer_;
};

}  // namespace ristova::run
