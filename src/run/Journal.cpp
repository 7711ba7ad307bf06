#include "run/Journal.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>

#include "base/Files.h"
#include "base/IniFile.h"
#include "base/TextUtils.h"

namespace ristova::run {

namespace {

// Seconds between attempts to open a journal that could not be written.
constexpr std::int64_t kReopenSeconds = 10;
constexpr int kBatchDelayMs = 250;

std::int64_t SteadySeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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
    if (sqlite3_prepare_v2(db,
                           "SELECT at, controller, relay, kind, source, result, detail FROM events "
                           "WHERE controller = ?1 AND at >= ?2 AND at < ?3 ORDER BY at, id",
                           -1, &stmt, nullptr) == SQLITE_OK) {
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

Journal::Journal(std::string folder, std::string settingsFile)
    : folder_(std::move(folder)), settingsFile_(std::move(settingsFile)) {
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

void Journal::SetOnUnwritable(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    onUnwritable_ = std::move(handler);
}

void Journal::OnRunEvent(const RunEvent& event) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({event, event.kind == "run" && event.result == "started"});
        ++queued_;
    }
    wake_.notify_one();
}

void Journal::Flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = queued_;
    ++flushWanted_;
    wake_.notify_all();
    done_.wait(lock, [&] { return handled_ >= target; });
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
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, all written
        // Events come in bursts at the start of a second, while the commands
        // are still leaving: the disk work waits until the burst is over.
        wake_.wait_for(lock, std::chrono::milliseconds(kBatchDelayMs),
                       [&] { return stop_ || flushWanted_; });
        std::vector<Item> batch(std::make_move_iterator(queue_.begin()),
                                std::make_move_iterator(queue_.end()));
        queue_.clear();
        lock.unlock();
        const bool ok = WriteBatch(batch);
        lock.lock();
        (ok ? written_ : dropped_) += batch.size();
        handled_ += batch.size();
        done_.notify_all();
    }
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
    nextOpenTry_ = SteadySeconds() + kReopenSeconds;
    if (reported_) return;
    reported_ = true;
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        handler = onUnwritable_;
    }
    if (handler) handler();
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

bool Journal::WriteBatch(const std::vector<Item>& items) {
    if (items.empty()) return true;
    const std::string today = items.front().event.at.substr(0, 10);
    // A damaged file goes aside and the batch is tried once on a new one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (db_ == nullptr && SteadySeconds() < nextOpenTry_) return false;
        int rc = Open();
        if (rc == SQLITE_OK) rc = Insert(items);
        if (rc == SQLITE_OK) {
            reported_ = false;
            return true;
        }
        const bool damaged = IsDamage(rc);
        if (damaged) MoveDamagedAside(today);
        Failed();
        if (!damaged) return false;
        nextOpenTry_ = 0;
    }
    return false;
}

}  // namespace ristova::run
