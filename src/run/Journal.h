#pragma once
// The switching journal: every run event as one row of an SQLite file in the
// program folder. Events are queued by the engine's thread and written in
// batches by a writer thread of its own, so a slow or failing disk never
// holds up a timed command.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
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
// Panel 3, once per spell of failure.
inline constexpr const char* kJournalUnwritable = "运行记录无法写入";
inline constexpr std::string_view kJournalSection = "JOURNAL";
inline constexpr std::string_view kKeepDaysKey = "KeepDays";
inline constexpr int kJournalKeepDays = 400;
inline constexpr int kJournalSchemaVersion = 1;

// KeepDays of the settings file; missing, non-numeric or below 1 gives 400.
int ReadJournalKeepDays(const std::string& settingsFile);

// The events of one controller on one day, oldest first; empty when the
// file is missing or cannot be read.
std::vector<RunEvent> ReadJournalDay(const std::string& dbFile, const std::string& controller,
                                     const Date& day);

class Journal : public IRunEventSink {
  public:
    // folder ends in '/'; settingsFile gives KeepDays (empty: the default).
    explicit Journal(std::string folder, std::string settingsFile = {});
    ~Journal() override;  // writes what is queued, then stops the writer
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Queues the event; a run start also queues the housekeeping.
    void OnRunEvent(const RunEvent& event) override;
    // Called on the writer thread when writing starts to fail (not again
    // until a write has succeeded).
    void SetOnUnwritable(std::function<void()> handler);
    // Waits until everything queued so far has been handled.
    void Flush();

    std::string FilePath() const { return folder_ + kJournalFileName; }
    // Rows written and rows dropped since the start.
    std::uint64_t Written() const;
    std::uint64_t Dropped() const;

  private:
    struct Item {
        RunEvent event;
        bool housekeeping = false;
    };
    void WriterLoop();
    bool WriteBatch(const std::vector<Item>& items);
    // SQLite result codes.
    int Insert(const std::vector<Item>& items);
    int DeleteOld(const std::string& startedAt);
    int Open();
    void Close();
    void MoveDamagedAside(const std::string& today);
    void Failed();

    const std::string folder_;
    const std::string settingsFile_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<Item> queue_;
    std::uint64_t queued_ = 0;
    std::uint64_t handled_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t dropped_ = 0;
    bool stop_ = false;
    int flushWanted_ = 0;
    std::function<void()> onUnwritable_;

    // Writer thread only.
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    bool reported_ = false;
    std::int64_t nextOpenTry_ = 0;

    std::thread writer_;
};

}  // namespace ristova::run
