#include "run/Journal.h"

#include <sqlite3.h>

#include <algorithm>
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

}  // namespace

std::string JournalLossText(std::uint64_t lost) {
    return std::string(kJournalUnwritable) + ",已丢失" + std::to_string(lost) + "条记录";
}

int ReadJournalKeepDays(const std::string& settingsFile) {
    if (settingsFile.empty()) return kJournalKeepDays;
    const long long days = StrToIntDef(
        Trim(ReadIniTextDef(settingsFile, kJournalSection, kKeepDaysKey, "")), kJournalKeepDays);
    return days < 1 || days > 100000 ? kJournalKeepDays : static_cast<int>(days);
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
    wake_.notify_one();
}

void Journal::Flush() {
    std::unique_lock lock(mutex_);
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
        const bool untried = queue_.size() > tried_;
        const bool retryDue = tried_ > 0 && SteadyClock::now() >= nextTry_;
        if (!stop_ && !untried && !retryDue) {
            const auto woken = [&] { return stop_ || queue_.size() > tried_; };
            if (tried_ > 0) {
                wake_.wait_until(lock, nextTry_, woken);
            } else {
                wake_.wait(lock, woken);
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
        } else if (stopping) {
            // The last attempt: what the file still refuses is lost.
            settled_ += queue_.size() - std::max(tried_, batch.size());
            dropped_ += static_cast<std::uint64_t>(std::count_if(
                queue_.begin(), queue_.end(), [](const Item& item) { return !item.lost; }));
            queue_.clear();
            tried_ = 0;
        } else {
            tried_ = std::max(tried_, batch.size());
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
        rc = Exec(db_,
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
    if (std::sscanf(startedAt.c_str(), "%d-%d-%d", &day.year, &day.month, &day.day) != 3 ||
        !day.IsValid())
        return SQLITE_OK;
    const std::string limit = DateText(true, day.AddDays(-ReadJournalKeepDays(settingsFile_)));
    sqlite3_stmt* del = nullptr;
    int rc = sqlite3_prepare_v2(db_, "DELETE FROM events WHERE at < ?1", -1, &del, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(del, 1, limit.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(del);
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    sqlite3_finalize(del);
    return rc;
}

bool Journal::WriteBatch(const std::vector<Item>& items, bool force) {
    if (items.empty()) return true;
    const std::string today = items.front().event.at.substr(0, 10);
    // A damaged file goes aside and the batch is tried once on a new one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (db_ == nullptr && !force && std::chrono::steady_clock::now() < nextTry_) return false;
        int rc = Open();
        if (rc == SQLITE_OK) rc = Insert(items);
        if (rc == SQLITE_OK) return true;
        const bool damaged = IsDamage(rc);
        if (damaged) MoveDamagedAside(today);
        Failed();
        if (!damaged) return false;
        nextTry_ = {};
    }
    return false;
}

}  // namespace ristova::run
