#include "run/Journal.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "base/Files.h"
#include "base/IniFile.h"
#include "base/TextUtils.h"

namespace ristova::run {

namespace {

constexpr int kBatchDelayMs = 250;
// Rows per transaction when much was kept: readers get the file back sooner.
constexpr std::size_t kMaxBatchRows = 5000;

bool IsDamage(int rc) {
    rc &= 0xff;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

// The first error of a series of statements, SQLITE_OK when all ran.
int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

int UserVersion(sqlite3* db, int& version) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            version = sqlite3_column_int(stmt, 0);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(stmt);
    return rc;
}

std::string ColumnText(sqlite3_stmt* stmt, int col) {
    const unsigned char* text = sqlite3_column_text(stmt, col);
    return text ? reinterpret_cast<const char*>(text) : std::string();
}

// The first column of the first row of a query, as text; empty when none.
std::string QueryText(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
        value = ColumnText(stmt, 0);
    sqlite3_finalize(stmt);
    return value;
}

long long QueryNumber(sqlite3* db, const char* sql) {
    return StrToIntDef(QueryText(db, sql), 0);
}

// The date of a time "YYYY-MM-DD ..."; false for another form.
bool DayOf(const std::string& at, Date& day) {
    return std::sscanf(at.c_str(), "%d-%d-%d", &day.year, &day.month, &day.day) == 3 &&
           day.IsValid();
}

// Deletes the rows before the time; SQLite's result code.
int DeleteBefore(sqlite3* db, const std::string& limit) {
    sqlite3_stmt* del = nullptr;
    int rc = sqlite3_prepare_v2(db, "DELETE FROM events WHERE at < ?1", -1, &del, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(del, 1, limit.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(del);
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    sqlite3_finalize(del);
    return rc;
}

// The events that chatter: a relay's state changes, and the requests that
// came to nothing (refused, or replaced by a newer one). Empty for others.
std::string_view AggregateClass(const RunEvent& e) {
    if (e.kind == "state") return "state";
    if (e.result == "refused") return "refused";
    if (e.result == "dropped" && e.detail == kReplaced) return "replaced";
    return {};
}

}  // namespace

std::string JournalLossText(std::uint64_t lost) {
    return std::string(kJournalUnwritable) + ",已丢失" + std::to_string(lost) + "条记录";
}

namespace {

// A whole number of the settings file's [JOURNAL] section from 1 to 100000;
// anything else gives the default.
int ReadJournalNumber(const std::string& settingsFile, std::string_view key, int def) {
    if (settingsFile.empty()) return def;
    const long long n =
        StrToIntDef(Trim(ReadIniTextDef(settingsFile, kJournalSection, key, "")), def);
    return n < 1 || n > 100000 ? def : static_cast<int>(n);
}

}  // namespace

int ReadJournalKeepDays(const std::string& settingsFile) {
    return ReadJournalNumber(settingsFile, kKeepDaysKey, kJournalKeepDays);
}

int ReadJournalMaxMB(const std::string& settingsFile) {
    return ReadJournalNumber(settingsFile, kMaxMBKey, kJournalMaxMB);
}

std::string AggregatedDetail(std::uint64_t count, const std::string& firstAt,
                             const std::string& lastDetail) {
    std::string detail = "aggregated " + std::to_string(count) + " from " +
                         (firstAt.size() > 11 ? firstAt.substr(11) : firstAt);
    return lastDetail.empty() ? detail : detail + ": " + lastDetail;
}

std::optional<Aggregated> ParseAggregated(const std::string& detail) {
    constexpr std::string_view kPrefix = "aggregated ";
    constexpr std::string_view kFrom = " from ";
    constexpr std::size_t kTimeLength = 12;  // HH:MM:SS.mmm
    if (!detail.starts_with(kPrefix)) return std::nullopt;
    const std::size_t digits = detail.find_first_not_of("0123456789", kPrefix.size());
    if (digits == kPrefix.size() || digits == std::string::npos ||
        detail.compare(digits, kFrom.size(), kFrom) != 0)
        return std::nullopt;
    const std::size_t from = digits + kFrom.size();
    if (detail.size() < from + kTimeLength) return std::nullopt;
    Aggregated a;
    // A count too large for its type is no row of ours.
    if (std::from_chars(detail.data() + kPrefix.size(), detail.data() + digits, a.count).ec !=
        std::errc())
        return std::nullopt;
    a.from = detail.substr(from, kTimeLength);
    const std::string rest = detail.substr(from + kTimeLength);
    if (!rest.empty() && !rest.starts_with(": ")) return std::nullopt;
    if (!rest.empty()) a.lastDetail = rest.substr(2);
    return a;
}

std::vector<RunEvent> ReadJournalDay(const std::string& dbFile, const std::string& controller,
                                     const Date& day) {
    std::vector<RunEvent> events;
    if (!FileExists(dbFile)) return events;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return events;
    }
    sqlite3_busy_timeout(db, 200);
    sqlite3_stmt* stmt = nullptr;
    const std::string from = DateText(true, day);
    const std::string to = DateText(true, day.AddDays(1));
    const char* sql =
        controller.empty()
            ? "SELECT at, controller, relay, kind, source, result, detail FROM events "
              "WHERE ?1 = '' AND at >= ?2 AND at < ?3 ORDER BY at, id"
            : "SELECT at, controller, relay, kind, source, result, detail FROM events "
              "WHERE controller = ?1 AND at >= ?2 AND at < ?3 ORDER BY at, id";
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, controller.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 2, from.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 3, to.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            RunEvent e;
            e.at = ColumnText(stmt, 0);
            e.controller = ColumnText(stmt, 1);
            e.relay = sqlite3_column_type(stmt, 2) == SQLITE_NULL ? 0 : sqlite3_column_int(stmt, 2);
            e.kind = ColumnText(stmt, 3);
            e.source = ColumnText(stmt, 4);
            e.result = ColumnText(stmt, 5);
            e.detail = ColumnText(stmt, 6);
            events.push_back(std::move(e));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return events;
}

Journal::Journal(std::string folder, std::string settingsFile, JournalLimits limits)
    : folder_(std::move(folder)), settingsFile_(std::move(settingsFile)), limits_(limits) {
    writer_ = std::thread([this] { WriterLoop(); });
}

Journal::~Journal() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    writer_.join();
    Close();
}

void Journal::SetOnRowsLost(std::function<void(std::uint64_t lost)> handler) {
    std::lock_guard lock(mutex_);
    onRowsLost_ = std::move(handler);
}

void Journal::OnRunEvent(const RunEvent& event) {
    {
        std::lock_guard lock(mutex_);
        const std::string_view cls = AggregateClass(event);
        if (cls.empty() || limits_.ownRowsPerMinute <= 0) {
            Enqueue(event);
        } else {
            const std::string key = event.controller + '\x1f' + std::to_string(event.relay) +
                                    '\x1f' + event.source + '\x1f' + std::string(cls);
            Window& w = windows_[key];
            const std::string minute = event.at.substr(0, 16);
            if (w.minute != minute) {
                CloseWindow(w);
                w.minute = minute;
                w.own = 0;
            }
            if (w.own < limits_.ownRowsPerMinute) {
                ++w.own;
                Enqueue(event);
            } else {
                if (w.folded == 0) {
                    w.firstAt = event.at;
                    w.due = std::chrono::steady_clock::now() +
                            std::chrono::seconds(limits_.aggregateSeconds);
                }
                ++w.folded;
                w.last = event;
            }
        }
    }
    wake_.notify_one();
}

void Journal::Enqueue(const RunEvent& event) {
    if (queue_.size() >= limits_.maxKeptRows) {
        ++dropped_;
        if (!spell_) {
            // The row that tells of the loss stands where the loss began.
            spell_ = std::make_shared<LostSpell>();
            spell_->controller = event.controller;
            spell_->firstAt = event.at;
            queue_.push_back({RunEvent{}, false, spell_});
            ++queued_;
        }
        ++spell_->count;
        spell_->lastAt = event.at;
    } else {
        // An event that fits ends the spell of losses before it.
        spell_.reset();
        queue_.push_back({event, event.kind == "run" && event.result == "started", nullptr});
        ++queued_;
    }
}

void Journal::CloseWindow(Window& window) {
    if (window.folded == 0) return;
    RunEvent row = window.last;
    if (window.folded > 1)
        row.detail = AggregatedDetail(window.folded, window.firstAt, window.last.detail);
    window.folded = 0;
    Enqueue(row);
}

std::chrono::steady_clock::time_point Journal::CloseDueWindows(bool all) {
    const auto now = std::chrono::steady_clock::now();
    auto next = std::chrono::steady_clock::time_point::max();
    for (auto& [key, w] : windows_) {
        if (w.folded == 0) continue;
        if (all || now >= w.due) {
            CloseWindow(w);
        } else {
            next = std::min(next, w.due);
        }
    }
    return next;
}

void Journal::Flush() {
    std::unique_lock lock(mutex_);
    CloseDueWindows(true);
    const std::uint64_t target = queued_;
    ++flushWanted_;
    wake_.notify_all();
    done_.wait(lock, [&] { return settled_ >= target; });
    --flushWanted_;
}

std::uint64_t Journal::Written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

std::uint64_t Journal::Dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

void Journal::WriterLoop() {
    using SteadyClock = std::chrono::steady_clock;
    std::unique_lock lock(mutex_);
    for (;;) {
        // Folded events are written once their window is due, at the end at once.
        const SteadyClock::time_point nextWindow = CloseDueWindows(stop_);
        const bool untried = queue_.size() > tried_;
        const bool retryDue = tried_ > 0 && SteadyClock::now() >= nextTry_;
        if (!stop_ && !untried && !retryDue) {
            const auto woken = [&] { return stop_ || queue_.size() > tried_; };
            const SteadyClock::time_point until =
                tried_ > 0 ? std::min(nextTry_, nextWindow) : nextWindow;
            if (until == SteadyClock::time_point::max()) {
                wake_.wait(lock, woken);
            } else {
                wake_.wait_until(lock, until, woken);
            }
            continue;
        }
        if (queue_.empty()) return;  // stopping, all written
        // Events come in bursts at the start of a second, while the commands
        // are still leaving: the disk work waits until the burst is over.
        if (untried)
            wake_.wait_for(lock, std::chrono::milliseconds(kBatchDelayMs),
                           [&] { return stop_ || flushWanted_ > 0; });
        const bool stopping = stop_;
        const std::vector<Item> batch = TakeBatch();
        lock.unlock();
        const bool ok = WriteBatch(batch, stopping);
        lock.lock();
        const std::size_t wasTried = std::min(tried_, batch.size());
        settled_ += batch.size() - wasTried;
        if (ok) {
            queue_.erase(queue_.begin(),
                         queue_.begin() + static_cast<std::ptrdiff_t>(batch.size()));
            tried_ -= wasTried;
            written_ += static_cast<std::uint64_t>(std::count_if(
                batch.begin(), batch.end(), [](const Item& item) { return !item.lost; }));
        } else {
            // The rows behind the batch meet the same file: they count as tried
            // and wait for the retry with it, so a flush never waits on them.
            settled_ += queue_.size() - std::max(tried_, batch.size());
            tried_ = queue_.size();
            if (stopping) {
                // The last attempt: what the file still refuses is lost.
                dropped_ += static_cast<std::uint64_t>(std::count_if(
                    queue_.begin(), queue_.end(), [](const Item& item) { return !item.lost; }));
                queue_.clear();
                tried_ = 0;
            }
        }
        // Not at the end: the handler's receiver may be going too.
        if (!stopping && dropped_ > droppedReported_ && onRowsLost_) {
            droppedReported_ = dropped_;
            const std::function<void(std::uint64_t)> handler = onRowsLost_;
            const std::uint64_t lost = dropped_;
            lock.unlock();
            handler(lost);
            lock.lock();
        }
        done_.notify_all();
    }
}

std::vector<Journal::Item> Journal::TakeBatch() {
    const std::size_t count = std::min(queue_.size(), kMaxBatchRows);
    std::vector<Item> batch(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(count));
    for (Item& item : batch) {
        if (!item.lost) continue;
        // Taken: its count is final, and a later loss starts a spell of its own.
        if (item.lost == spell_) spell_.reset();
        const LostSpell& spell = *item.lost;
        item.event = {spell.firstAt,
                      spell.controller,
                      0,
                      "journal",
                      "journal",
                      "lost",
                      std::to_string(spell.count) + " rows lost up to " + spell.lastAt};
    }
    return batch;
}

int Journal::Open() {
    if (db_ != nullptr) return SQLITE_OK;
    const std::string path = FilePath();
    int rc = sqlite3_open_v2(path.c_str(), &db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    int version = 0;
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db_, 2000);
        rc = Exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    }
    if (rc == SQLITE_OK) rc = UserVersion(db_, version);
    if (rc == SQLITE_OK && version == 0) {
        // A new file gives the room of trimmed rows back as it goes.
        rc = Exec(db_,
                  "PRAGMA auto_vacuum=INCREMENTAL;"
                  "BEGIN;"
                  "CREATE TABLE IF NOT EXISTS events ("
                  " id INTEGER PRIMARY KEY,"
                  " at TEXT NOT NULL,"
                  " controller TEXT NOT NULL,"
                  " relay INTEGER,"
                  " kind TEXT NOT NULL,"
                  " source TEXT NOT NULL,"
                  " result TEXT NOT NULL,"
                  " detail TEXT NOT NULL DEFAULT '');"
                  "CREATE INDEX IF NOT EXISTS events_by_day ON events(controller, at);"
                  "CREATE INDEX IF NOT EXISTS events_by_time ON events(at);"
                  "PRAGMA user_version=1;"
                  "COMMIT;");
    } else if (rc == SQLITE_OK && version != kJournalSchemaVersion) {
        // A later program's file: left as it is rather than written wrongly.
        rc = SQLITE_ERROR;
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_prepare_v2(db_,
                                "INSERT INTO events (at, controller, relay, kind, source, result, "
                                "detail) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                                -1, &insert_, nullptr);
    if (rc != SQLITE_OK) Close();
    return rc;
}

void Journal::Close() {
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    sqlite3_close(db_);
    db_ = nullptr;
}

// The damaged file and its companions go aside under the day's name; a new
// journal starts on the next open.
void Journal::MoveDamagedAside(const std::string& today) {
    Close();
    const std::string path = FilePath();
    std::string aside = path + ".damaged-" + today;
    for (int n = 2; FileExists(aside); ++n) aside = path + ".damaged-" + today + "-" + std::to_string(n);
    std::rename(path.c_str(), aside.c_str());
    std::rename((path + "-wal").c_str(), (aside + "-wal").c_str());
    std::remove((path + "-shm").c_str());
}

void Journal::Failed() {
    Close();
    nextTry_ = std::chrono::steady_clock::now() + std::chrono::seconds(limits_.retrySeconds);
}

int Journal::Insert(const std::vector<Item>& items) {
    int rc = Exec(db_, "BEGIN");
    for (const Item& item : items) {
        if (rc != SQLITE_OK) break;
        const RunEvent& e = item.event;
        sqlite3_reset(insert_);
        sqlite3_bind_text(insert_, 1, e.at.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insert_, 2, e.controller.c_str(), -1, SQLITE_STATIC);
        if (e.relay >= 1)
            sqlite3_bind_int(insert_, 3, e.relay);
        else
            sqlite3_bind_null(insert_, 3);
        sqlite3_bind_text(insert_, 4, e.kind.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insert_, 5, e.source.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insert_, 6, e.result.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(insert_, 7, e.detail.c_str(), -1, SQLITE_STATIC);
        rc = sqlite3_step(insert_);
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
        if (rc == SQLITE_OK && item.housekeeping) rc = DeleteOld(e.at);
    }
    sqlite3_reset(insert_);
    if (rc == SQLITE_OK) rc = Exec(db_, "COMMIT");
    if (rc != SQLITE_OK) Exec(db_, "ROLLBACK");
    return rc;
}

// Rows older than KeepDays before the day of the start go.
int Journal::DeleteOld(const std::string& startedAt) {
    Date day;
    if (!DayOf(startedAt, day)) return SQLITE_OK;
    return DeleteBefore(db_, DateText(true, day.AddDays(-ReadJournalKeepDays(settingsFile_))));
}

void Journal::TrimToSize() {
    const long long cap = static_cast<long long>(ReadJournalMaxMB(settingsFile_)) << 20;
    bool trimmed = false;
    for (;;) {
        const long long used =
            (QueryNumber(db_, "PRAGMA page_count") - QueryNumber(db_, "PRAGMA freelist_count")) *
            QueryNumber(db_, "PRAGMA page_size");
        if (used <= cap) break;
        const std::string oldest = QueryText(db_, "SELECT substr(min(at), 1, 10) FROM events");
        const std::string newest = QueryText(db_, "SELECT substr(max(at), 1, 10) FROM events");
        Date day;
        if (oldest >= newest || !DayOf(oldest, day)) break;
        if (DeleteBefore(db_, DateText(true, day.AddDays(1))) != SQLITE_OK) break;
        trimmed = true;
    }
    if (!trimmed) return;
    // A file from before incremental vacuum is made over once.
    Exec(db_, QueryNumber(db_, "PRAGMA auto_vacuum") == 2
                  ? "PRAGMA incremental_vacuum;"
                  : "PRAGMA auto_vacuum=INCREMENTAL; VACUUM;");
    Exec(db_, "PRAGMA wal_checkpoint(TRUNCATE);");
}

bool Journal::WriteBatch(const std::vector<Item>& items, bool force) {
    if (items.empty()) return true;
    const std::string today = items.front().event.at.substr(0, 10);
    // A damaged file goes aside and the batch is tried once on a new one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (db_ == nullptr && !force && std::chrono::steady_clock::now() < nextTry_) return false;
        int rc = Open();
        if (rc == SQLITE_OK) rc = Insert(items);
        if (rc == SQLITE_OK) {
            // On the writer's thread: a large trim holds up no timed command.
            const auto now = std::chrono::steady_clock::now();
            if (now >= nextSizeCheck_) {
                nextSizeCheck_ = now + std::chrono::seconds(limits_.sizeCheckSeconds);
                TrimToSize();
            }
            return true;
        }
        const bool damaged = IsDamage(rc);
        if (damaged) MoveDamagedAside(today);
        Failed();
        if (!damaged) return false;
        nextTry_ = {};
    }
    return false;
}

}  // namespace ristova::run
