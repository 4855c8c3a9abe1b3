// The embedded gallery: one SQLite file in WAL mode, so that searches never
// block enrolment. Every SQLite result is checked; an error ends the command
// with the database's message rather than a shorter answer.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>
#include <thread>

#include "gallery/backends.h"
#include "gallery/snapshot_cache.h"
#include "match/template_validity.h"

namespace zpg {
namespace {

// "ZPGL" in the database header marks a zpapi gallery.
constexpr int kApplicationId = 0x5A50474C;
// 1: one template per id, FNV-1a checksums (no application id).
// 2: subjects, fingers, several templates per finger, XXH3 checksums.
// 3: each template names its window of the capture; up to
//    kMaxTemplatesPerFinger slots per finger.
constexpr int kSchemaVersion = 3;
constexpr int kBusyTimeoutMs = 60000;
// Layouts whose every writer renews the write token (older tools refuse
// them), so that a snapshot cache can trust it.
constexpr int kFirstCachedLayout = 3;

constexpr const char* kSubjectsTable =
    "CREATE TABLE subjects ("
    " subject TEXT PRIMARY KEY NOT NULL CHECK (length(subject) > 0),"
    " created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))"
    ") WITHOUT ROWID;";
const std::string kTemplatesTable =
    "CREATE TABLE templates ("
    " subject TEXT NOT NULL REFERENCES subjects (subject),"
    " finger INTEGER NOT NULL CHECK (finger BETWEEN 0 AND 10),"
    " slot INTEGER NOT NULL CHECK (slot BETWEEN 0 AND " + std::to_string(kMaxTemplatesPerFinger - 1) + "),"
    " impression TEXT NOT NULL DEFAULT '',"
    " window_index INTEGER NOT NULL DEFAULT 0 CHECK (window_index >= 0),"
    " quality INTEGER NOT NULL,"
    " template BLOB NOT NULL CHECK (length(template) = 256),"
    " checksum INTEGER,"  // NULL: the row failed its check before an upgrade
    " enrolled TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),"
    " PRIMARY KEY (subject, finger, slot)"
    ") WITHOUT ROWID;";
// Rows the writers stored, so that a read that ends early is noticed.
constexpr const char* kCountsTable =
    "CREATE TABLE counts (name TEXT PRIMARY KEY NOT NULL, value INTEGER NOT NULL) WITHOUT ROWID;"
    "INSERT INTO counts VALUES ('templates', 0);";

// The checksum of the first layout (FNV-1a, 32 bits, template bytes only).
std::uint32_t firstLayoutChecksum(const Template& t) {
    std::uint32_t h = 2166136261U;
    for (std::uint8_t b : t) {
        h ^= b;
        h *= 16777619U;
    }
    return h;
}

class SqliteStore;
class Statement;

// One usable row of a scan; the text stays valid until the next row.
struct RowView {
    std::string_view subject;
    int finger;
    int slot;
    int window;
    const Template& templ;
    const Statement& statement;  // impression (column 3) and time (column 4)
};

class Statement {
  public:
    Statement(SqliteStore& store, const char* sql);
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& bind(int i, const std::string& text);
    Statement& bind(int i, std::int64_t value);
    Statement& bindNull(int i);
    Statement& bindBlob(int i, const void* data, int size);
    // True for a row, false when done; an error throws.
    bool step();
    void run() {
        while (step()) {
        }
    }
    void reset();
    std::string text(int i) const { return std::string(view(i)); }
    std::string_view view(int i) const;
    std::int64_t integer(int i) const { return sqlite3_column_int64(stmt_, i); }
    bool isNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
    // The column as a template; false when it is not 256 bytes.
    bool blob(int i, Template& t) const;
    sqlite3_stmt* handle() { return stmt_; }

  private:
    void check(int rc);
    SqliteStore& store_;
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteStore final : public Store {
  public:
    SqliteStore(const std::string& path, Access access);
    ~SqliteStore() override { sqlite3_close(db_); }

    const std::string& location() const override { return path_; }
    int schemaVersion() const override { return version_; }
    void readSnapshot(Snapshot& s, const Arrival& arrived) override;
    std::vector<StoredTemplate> templatesOf(const std::string& subject, int finger,
                                            std::vector<DamagedRow>& damaged) override;
    std::vector<StoredTemplate> rows(std::vector<DamagedRow>& damaged) override;
    void enrol(const std::string& subject, int finger, Existing existing, const Decision& decide) override;
    std::size_t remove(const std::string& subject, int finger) override;
    void add(const std::vector<StoredTemplate>& rows) override;
    CheckReport check() override;
    void backup(const std::string& path) override;

    [[noreturn]] void fail(const std::string& what) const {
        throw Error{path_ + ": " + what + ": " + sqlite3_errmsg(db_)};
    }
    sqlite3* db() { return db_; }

  private:
    void exec(const char* sql, const char* what);
    void useWal();
    // Reads the header fields and the tables to tell which layout this is;
    // 0 for an empty database. Throws when it is not a gallery.
    int detectLayout();
    void createSchema();
    void markLayout();
    void upgradeFirstLayout();
    void upgradeSecondLayout();
    // Scans every row (or one subject's) inside the caller's read
    // transaction; onRow(RowView) receives the usable ones.
    template <class OnRow>
    void scan(const std::string* subject, int finger, std::vector<DamagedRow>& damaged, OnRow onRow);
    // The rows of a scan as full records.
    std::vector<StoredTemplate> collect(const std::string* subject, int finger, std::vector<DamagedRow>& damaged);
    std::int64_t recordedCount();
    // Every transaction that changes rows goes through here: it also renews
    // the write token that snapshot caches are stamped with.
    void addToCount(std::int64_t delta);
    // The stamp a snapshot cache must carry; none when the gallery is too
    // small to cache or of a layout that older tools may still write.
    std::optional<CacheStamp> cacheStamp();

    // One transaction; rolled back unless commit() is called. Inside an
    // open one (a read made while enrolling) it joins that one.
    class Transaction {
      public:
        Transaction(SqliteStore& s, bool write) : s_(s), done_(sqlite3_get_autocommit(s.db_) == 0) {
            if (!done_) s_.exec(write ? "BEGIN IMMEDIATE" : "BEGIN", "cannot start a transaction");
        }
        ~Transaction() {
            if (!done_) sqlite3_exec(s_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        void commit() {
            if (done_) return;
            s_.exec("COMMIT", "cannot commit");
            done_ = true;
        }

      private:
        SqliteStore& s_;
        bool done_ = false;
    };

    sqlite3* db_ = nullptr;
    std::string path_;
    int version_ = 0;
};

Statement::Statement(SqliteStore& store, const char* sql) : store_(store) {
    if (sqlite3_prepare_v2(store.db(), sql, -1, &stmt_, nullptr) != SQLITE_OK) store.fail("cannot read the gallery");
}

void Statement::check(int rc) {
    if (rc != SQLITE_OK) store_.fail("cannot bind a value");
}

Statement& Statement::bind(int i, const std::string& text) {
    check(sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
}

Statement& Statement::bind(int i, std::int64_t value) {
    check(sqlite3_bind_int64(stmt_, i, value));
    return *this;
}

Statement& Statement::bindNull(int i) {
    check(sqlite3_bind_null(stmt_, i));
    return *this;
}

Statement& Statement::bindBlob(int i, const void* data, int size) {
    check(sqlite3_bind_blob(stmt_, i, data, size, SQLITE_TRANSIENT));
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    store_.fail("database error");
}

void Statement::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::string_view Statement::view(int i) const {
    const unsigned char* s = sqlite3_column_text(stmt_, i);
    return s ? std::string_view(reinterpret_cast<const char*>(s), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)))
             : std::string_view();
}

bool Statement::blob(int i, Template& t) const {
    const void* b = sqlite3_column_blob(stmt_, i);
    if (b == nullptr || sqlite3_column_bytes(stmt_, i) != ZP_TEMPLATE_SIZE) return false;
    std::memcpy(t.data(), b, ZP_TEMPLATE_SIZE);
    return true;
}

SqliteStore::SqliteStore(const std::string& path, Access access) : path_(path) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(path, ec);
    if (access != Access::Write && !exists) throw Error{path + ": no such gallery (enrol a finger first)"};
    // One connection serves one thread: SQLite's own locking of it is not needed.
    const int flags = SQLITE_OPEN_NOMUTEX |
                      (access == Access::Read ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw Error{path + ": cannot open the gallery: " + why};
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // Searches read the whole file: mapped pages are not copied into the
    // page cache (an advisory setting; SQLite ignores it where unsupported).
    sqlite3_exec(db_, "PRAGMA mmap_size = 4294967296", nullptr, nullptr, nullptr);
    try {
        if (access == Access::Read) {
            Transaction t(*this, false);
            version_ = detectLayout();
            if (version_ == 0) throw Error{path + ": not a zpapi gallery (the database is empty)"};
            t.commit();
            return;
        }
        {
            Transaction t(*this, true);
            version_ = detectLayout();
            if (version_ == 0) createSchema();
            else if (version_ == 1) upgradeFirstLayout();
            else if (version_ == 2) upgradeSecondLayout();
            version_ = kSchemaVersion;
            t.commit();
        }
        useWal();
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

// Readers never block writers, nor writers readers. The switch needs the
// file to itself, and SQLite answers busy at once rather than waiting when
// other connections hold it (a gallery's first enrolments, all at once):
// retried until the busy timeout.
void SqliteStore::useWal() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
        Statement wal(*this, "PRAGMA journal_mode = WAL");
        const int rc = sqlite3_step(wal.handle());
        if (rc == SQLITE_ROW && wal.view(0) == "wal") return;
        const bool busy = (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED || rc == SQLITE_ROW;
        if (!busy || std::chrono::steady_clock::now() > deadline) fail("cannot switch to WAL journal mode");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SqliteStore::exec(const char* sql, const char* what) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string why = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw Error{path_ + ": " + what + ": " + why};
    }
}

int SqliteStore::detectLayout() {
    Statement app(*this, "PRAGMA application_id");
    const std::int64_t appId = app.step() ? app.integer(0) : 0;
    Statement ver(*this, "PRAGMA user_version");
    const std::int64_t version = ver.step() ? ver.integer(0) : 0;
    if (appId == kApplicationId) {
        if (version > kSchemaVersion)
            throw Error{path_ + ": made by a newer zpapi (gallery layout " + std::to_string(version) +
                        "); this one reads layouts up to " + std::to_string(kSchemaVersion)};
        if (version != 2 && version != kSchemaVersion)
            throw Error{path_ + ": not a zpapi gallery (unknown layout " + std::to_string(version) + ")"};
        return static_cast<int>(version);
    }
    std::set<std::string> tables;
    Statement list(*this, "SELECT name FROM sqlite_schema WHERE type = 'table'");
    while (list.step()) tables.insert(list.text(0));
    if (appId == 0 && version == 0 && tables.empty()) return 0;
    if (appId == 0 && version == 0 && tables == std::set<std::string>{"templates"}) {
        std::set<std::string> columns;
        Statement cols(*this, "SELECT name FROM pragma_table_info('templates')");
        while (cols.step()) columns.insert(cols.text(0));
        if (columns == std::set<std::string>{"id", "template", "checksum", "enrolled"}) return 1;
    }
    throw Error{path_ + ": not a zpapi gallery (an SQLite database with other tables)"};
}

void SqliteStore::createSchema() {
    exec(kSubjectsTable, "cannot create the gallery");
    exec(kTemplatesTable.c_str(), "cannot create the gallery");
    exec(kCountsTable, "cannot create the gallery");
    markLayout();
}

void SqliteStore::markLayout() {
    exec(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str(), "cannot mark the gallery");
    exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str(), "cannot mark the gallery");
}

// The first layout kept one template per id. Each becomes a subject with
// one finger of unknown position; a row that fails its old checksum is
// carried over with no checksum, so it stays reported as damaged.
void SqliteStore::upgradeFirstLayout() {
    exec("ALTER TABLE templates RENAME TO templates_first_layout", "cannot upgrade the gallery");
    createSchema();
    Statement read(*this, "SELECT id, template, checksum, enrolled FROM templates_first_layout");
    Statement subject(*this, "INSERT INTO subjects (subject, created) VALUES (?, ?)");
    Statement write(*this,
                    "INSERT INTO templates (subject, finger, slot, impression, quality, template, checksum, enrolled)"
                    " VALUES (?, 0, 0, '', ?, ?, ?, ?)");
    std::int64_t rows = 0;
    while (read.step()) {
        const std::string id = read.text(0);
        Template t{};
        const bool sized = read.blob(1, t);
        const bool sound = sized && firstLayoutChecksum(t) == static_cast<std::uint32_t>(read.integer(2));
        subject.bind(1, id).bind(2, read.text(3));
        subject.run();
        subject.reset();
        write.bind(1, id).bind(2, templateQuality(t)).bindBlob(3, t.data(), ZP_TEMPLATE_SIZE);
        if (sound) write.bind(4, rowChecksum(id, kUnknownFinger, t));
        else write.bindNull(4);
        write.bind(5, read.text(3));
        write.run();
        write.reset();
        ++rows;
    }
    exec("DROP TABLE templates_first_layout", "cannot upgrade the gallery");
    addToCount(rows);
}

// The second layout had no window column and ten slots: its templates
// table is rebuilt (SQLite cannot widen a CHECK in place), every row taken
// as the centred window; checksums and counts stay as they are.
void SqliteStore::upgradeSecondLayout() {
    exec("ALTER TABLE templates RENAME TO templates_second_layout", "cannot upgrade the gallery");
    exec(kTemplatesTable.c_str(), "cannot upgrade the gallery");
    exec("INSERT INTO templates (subject, finger, slot, impression, window_index, quality, template, checksum, enrolled)"
         " SELECT subject, finger, slot, impression, 0, quality, template, checksum, enrolled"
         " FROM templates_second_layout",
         "cannot upgrade the gallery");
    exec("DROP TABLE templates_second_layout", "cannot upgrade the gallery");
    markLayout();
}

std::int64_t SqliteStore::recordedCount() {
    Statement st(*this, "SELECT value FROM counts WHERE name = 'templates'");
    if (!st.step()) throw Error{path_ + ": the gallery's row count is missing (run zpapi check)"};
    return st.integer(0);
}

void SqliteStore::addToCount(std::int64_t delta) {
    Statement st(*this, "UPDATE counts SET value = value + ? WHERE name = 'templates'");
    st.bind(1, delta).run();
    if (sqlite3_changes(db_) != 1) throw Error{path_ + ": the gallery's row count is missing (run zpapi check)"};
    exec("INSERT OR REPLACE INTO counts VALUES ('token', random())", "cannot write the gallery");
}

std::optional<CacheStamp> SqliteStore::cacheStamp() {
    if (version_ < kFirstCachedLayout) return std::nullopt;
    const std::int64_t rows = recordedCount();
    Statement st(*this, "SELECT value FROM counts WHERE name = 'token'");
    if (rows < kCachedGalleryRows || !st.step()) return std::nullopt;
    return CacheStamp{st.integer(0), rows};
}

template <class OnRow>
void SqliteStore::scan(const std::string* subject, int finger, std::vector<DamagedRow>& damaged, OnRow onRow) {
    std::string sql =
        version_ == 1   ? "SELECT id, 0, 0, '', enrolled, template, checksum, 0 FROM templates"
        : version_ == 2 ? "SELECT subject, finger, slot, impression, enrolled, template, checksum, 0 FROM templates"
                        : "SELECT subject, finger, slot, impression, enrolled, template, checksum, window_index FROM templates";
    const char* key = version_ == 1 ? "id" : "subject";
    if (subject) {
        sql += std::string(" WHERE ") + key + " = ?1";
        if (finger != kAllFingers && version_ > 1) sql += " AND finger = ?2";
    }
    sql += version_ == 1 ? " ORDER BY id" : " ORDER BY subject, finger, slot";
    Statement st(*this, sql.c_str());
    if (subject) {
        st.bind(1, *subject);
        if (finger != kAllFingers && version_ > 1) st.bind(2, static_cast<std::int64_t>(finger));
    }
    std::int64_t read = 0;
    Template t{};
    while (st.step()) {
        ++read;
        const std::string_view who = st.view(0);
        const int position = static_cast<int>(st.integer(1));
        const int slot = static_cast<int>(st.integer(2));
        const char* why = nullptr;
        if (!st.blob(5, t)) why = "stored template is not 256 bytes";
        else if (st.isNull(6)) why = "failed its checksum before the gallery was upgraded";
        else if (version_ == 1 ? firstLayoutChecksum(t) != static_cast<std::uint32_t>(st.integer(6))
                               : rowChecksum(who, position, t) != st.integer(6))
            why = "checksum mismatch";
        if (why == nullptr && zp::storedTemplateVerdict(t.data()) == zp::TemplateVerdict::Usable) {
            onRow(RowView{who, position, slot, static_cast<int>(st.integer(7)), t, st});
            continue;
        }
        damaged.push_back({std::string(who), position, slot, why ? why : "template refused: " + templateRejection(t)});
    }
    // Rows that damage to the file hid from the scan would make a search
    // silently shorter.
    if (!subject && version_ > 1) {
        const std::int64_t recorded = recordedCount();
        if (recorded != read)
            throw Error{path_ + ": the gallery records " + std::to_string(recorded) + " templates but " +
                        std::to_string(read) + " could be read: the file is damaged (run zpapi check)"};
    }
}

std::vector<StoredTemplate> SqliteStore::collect(const std::string* subject, int finger,
                                                 std::vector<DamagedRow>& damaged) {
    std::vector<StoredTemplate> out;
    scan(subject, finger, damaged, [&out](const RowView& row) {
        out.push_back({std::string(row.subject), row.finger, row.slot, row.statement.text(3), row.window,
                       row.statement.text(4), row.templ});
    });
    return out;
}

void SqliteStore::readSnapshot(Snapshot& s, const Arrival& arrived) {
    constexpr std::size_t kArrivalStep = 4096;
    s = Snapshot{};
    // Within the caller's transaction (an enrolment's duplicate check) the
    // token changes at its commit: a cache saved there would be stale at
    // once, and written under the write lock.
    const bool own = sqlite3_get_autocommit(db_) != 0;
    Transaction t(*this, false);
    const std::optional<CacheStamp> stamp = cacheStamp();
    if (stamp && loadSnapshotCache(snapshotCachePath(path_), *stamp, s)) {
        t.commit();
        if (arrived) arrived(s.templates.size());
        return;
    }
    if (version_ > 1) {
        s.reserveTemplates(static_cast<std::size_t>(stamp ? stamp->rows : recordedCount()));
    } else {
        Statement count(*this, "SELECT count(*) FROM templates");
        if (count.step()) s.reserveTemplates(static_cast<std::size_t>(count.integer(0)));
    }
    bool overflow = false;  // more rows than recorded: the scan reports it
    scan(nullptr, kAllFingers, s.damaged, [&](const RowView& row) {
        if (arrived && s.templates.size() == s.templates.capacity()) {
            overflow = true;  // growing would move what others read
            return;
        }
        appendToSnapshot(s, row.subject, row.finger, row.templ);
        if (arrived && s.templates.size() % kArrivalStep == 0) arrived(s.templates.size());
    });
    if (overflow) throw Error{path_ + ": more template rows than the gallery records: the file is damaged (run zpapi check)"};
    t.commit();
    if (arrived) arrived(s.templates.size());
    // Read as the stamp says: the next search of this state reads one file.
    if (stamp && own) saveSnapshotCache(snapshotCachePath(path_), *stamp, s);
}

std::vector<StoredTemplate> SqliteStore::templatesOf(const std::string& subject, int finger,
                                                     std::vector<DamagedRow>& damaged) {
    Transaction t(*this, false);
    std::vector<StoredTemplate> out = collect(&subject, finger, damaged);
    t.commit();
    return out;
}

std::vector<StoredTemplate> SqliteStore::rows(std::vector<DamagedRow>& damaged) {
    Transaction t(*this, false);
    std::vector<StoredTemplate> out = collect(nullptr, kAllFingers, damaged);
    t.commit();
    return out;
}

void SqliteStore::enrol(const std::string& subject, int finger, Existing existing, const Decision& decide) {
    if (subject.empty()) throw Error{"an empty subject id cannot be enrolled"};
    Transaction t(*this, true);
    std::vector<DamagedRow> damaged;
    std::vector<StoredTemplate> kept = collect(&subject, finger, damaged);
    if (const std::string why = enrolRefusal(path_, subject, finger, existing, kept.size(), damaged); !why.empty())
        throw Error{why};
    if (existing != Existing::Add) kept.clear();
    const std::vector<NewTemplate> chosen = decide(kept);
    if (chosen.empty()) return;  // rolled back: nothing changes
    checkChosen(chosen);
    Statement del(*this, "DELETE FROM templates WHERE subject = ? AND finger = ?");
    del.bind(1, subject).bind(2, static_cast<std::int64_t>(finger)).run();
    const std::int64_t removed = sqlite3_changes(db_);
    Statement sub(*this, "INSERT OR IGNORE INTO subjects (subject) VALUES (?)");
    sub.bind(1, subject).run();
    Statement ins(*this,
                  "INSERT INTO templates (subject, finger, slot, impression, quality, template, checksum, window_index)"
                  " VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (std::size_t slot = 0; slot < chosen.size(); ++slot) {
        const NewTemplate& n = chosen[slot];
        ins.bind(1, subject)
            .bind(2, static_cast<std::int64_t>(finger))
            .bind(3, static_cast<std::int64_t>(slot))
            .bind(4, n.impression)
            .bind(5, templateQuality(n.templ))
            .bindBlob(6, n.templ.data(), ZP_TEMPLATE_SIZE)
            .bind(7, rowChecksum(subject, finger, n.templ))
            .bind(8, static_cast<std::int64_t>(n.window));
        ins.run();
        ins.reset();
    }
    addToCount(static_cast<std::int64_t>(chosen.size()) - removed);
    t.commit();
}

std::size_t SqliteStore::remove(const std::string& subject, int finger) {
    Transaction t(*this, true);
    std::string sql = "DELETE FROM templates WHERE subject = ?1";
    if (finger != kAllFingers) sql += " AND finger = ?2";
    Statement del(*this, sql.c_str());
    del.bind(1, subject);
    if (finger != kAllFingers) del.bind(2, static_cast<std::int64_t>(finger));
    del.run();
    const std::int64_t removed = sqlite3_changes(db_);
    Statement sub(*this,
                  "DELETE FROM subjects WHERE subject = ?1 AND NOT EXISTS (SELECT 1 FROM templates WHERE subject = ?1)");
    sub.bind(1, subject).run();
    addToCount(-removed);
    t.commit();
    return static_cast<std::size_t>(removed);
}

void SqliteStore::add(const std::vector<StoredTemplate>& rows) {
    checkNewRows(rows);
    Transaction t(*this, true);
    Statement sub(*this, "INSERT OR IGNORE INTO subjects (subject) VALUES (?)");
    Statement ins(*this,
                  "INSERT INTO templates (subject, finger, slot, impression, quality, template, checksum, window_index,"
                  " enrolled) VALUES (?, ?, ?, ?, ?, ?, ?, ?, coalesce(?, strftime('%Y-%m-%dT%H:%M:%SZ', 'now')))");
    for (const StoredTemplate& r : rows) {
        sub.bind(1, r.subject).run();
        sub.reset();
        ins.bind(1, r.subject)
            .bind(2, static_cast<std::int64_t>(r.finger))
            .bind(3, static_cast<std::int64_t>(r.slot))
            .bind(4, r.impression)
            .bind(5, templateQuality(r.templ))
            .bindBlob(6, r.templ.data(), ZP_TEMPLATE_SIZE)
            .bind(7, rowChecksum(r.subject, r.finger, r.templ))
            .bind(8, static_cast<std::int64_t>(r.window));
        if (r.enrolled.empty()) ins.bindNull(9);
        else ins.bind(9, r.enrolled);
        if (sqlite3_step(ins.handle()) != SQLITE_DONE) {
            if (sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_PRIMARYKEY)
                throw Error{path_ + ": " + rowName(r.subject, r.finger, r.slot) + " already exists; nothing was added"};
            fail("cannot store " + rowName(r.subject, r.finger, r.slot));
        }
        ins.reset();
    }
    addToCount(static_cast<std::int64_t>(rows.size()));
    t.commit();
}

CheckReport SqliteStore::check() {
    CheckReport report;
    report.schemaVersion = version_;
    Transaction t(*this, false);
    {
        Statement st(*this, "PRAGMA integrity_check");
        while (st.step()) {
            const std::string line = st.text(0);
            if (line != "ok") report.problems.push_back("integrity check: " + line);
        }
    }
    std::int64_t read = 0;
    try {
        scan(nullptr, kAllFingers, report.damaged, [&read](const RowView&) { ++read; });
    } catch (const Error& e) {
        report.problems.push_back(e.message);
    }
    report.templates = static_cast<std::size_t>(read + static_cast<std::int64_t>(report.damaged.size()));
    if (version_ > 1) {
        Statement orphans(*this,
                          "SELECT DISTINCT subject FROM templates WHERE subject NOT IN (SELECT subject FROM subjects)");
        while (orphans.step()) report.problems.push_back("templates of '" + orphans.text(0) + "' have no subject row");
    }
    t.commit();
    return report;
}

void SqliteStore::backup(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) throw Error{path + ": already exists; the backup is not written over it"};
    // Copied under a temporary name and renamed, so no half copy is ever
    // found under the final name.
    const std::string partial = path + ".partial-" + std::to_string(::getpid());
    sqlite3* dest = nullptr;
    const auto cleanup = [&] {
        sqlite3_close(dest);
        std::filesystem::remove(partial, ec);
    };
    if (sqlite3_open_v2(partial.c_str(), &dest, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string why = dest ? sqlite3_errmsg(dest) : "out of memory";
        cleanup();
        throw Error{path + ": cannot write the backup: " + why};
    }
    sqlite3_backup* b = sqlite3_backup_init(dest, "main", db_, "main");
    if (b == nullptr) {
        const std::string why = sqlite3_errmsg(dest);
        cleanup();
        throw Error{path + ": cannot start the backup: " + why};
    }
    int rc = SQLITE_OK;
    // One step copies every page from one read snapshot; busy answers
    // (a writer holding the lock of a non-WAL file) are retried.
    do {
        rc = sqlite3_backup_step(b, -1);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
    sqlite3_backup_finish(b);
    if (rc != SQLITE_DONE || sqlite3_errcode(dest) != SQLITE_OK) {
        const std::string why = sqlite3_errstr(rc);
        cleanup();
        throw Error{path + ": backup failed: " + why};
    }
    if (sqlite3_close(dest) != SQLITE_OK) {
        dest = nullptr;
        std::filesystem::remove(partial, ec);
        throw Error{path + ": backup failed while closing the copy"};
    }
    dest = nullptr;
    std::filesystem::rename(partial, path, ec);
    if (ec) {
        std::filesystem::remove(partial, ec);
        throw Error{path + ": cannot put the backup in place: " + ec.message()};
    }
}

}  // namespace

std::unique_ptr<Store> openSqliteGallery(const std::string& path, Access access) {
    return std::make_unique<SqliteStore>(path, access);
}

}  // namespace zpg
