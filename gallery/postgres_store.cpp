// The server gallery: a PostgreSQL database with the zpapi extension, which
// keeps the rows in zp_templates and short-lists probes next to them, so
// that a search sends only its short lists over the network. Every libpq
// result is checked; an error ends the command with the server's message.
// Templates travel in binary form; whole reads and writes as binary COPY.
#include <libpq-fe.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>
#include <utility>

#include "gallery/backends.h"
#include "gallery/search.h"
#include "match/template_validity.h"

namespace zpg {
namespace {

// The layout zp_create_gallery() makes and this client reads.
constexpr int kServerLayout = 1;
// Taken while the extension and the table are created, so that the first
// writers at once do not race ("ZPGL").
constexpr const char* kCreateLock = "SELECT pg_advisory_xact_lock(1515210572)";
constexpr int kRetries = 20;

// Type oids of the parameters sent.
constexpr Oid kText = 25;
constexpr Oid kInt4 = 23;
constexpr Oid kBytea = 17;

constexpr const char* kRowColumns = "subject, finger, slot, window_index, template, checksum";
// A listing adds the impression and the enrolment time as the embedded gallery writes it.
constexpr const char* kListingColumns =
    "subject, finger, slot, window_index, template, checksum, impression,"
    " to_char(enrolled AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')";

// An error the server answered, with its SQLSTATE, so that a transaction it
// could not serialise is tried again.
struct ServerError : Error {
    std::string state;
};

// Serialisation failure, deadlock; with keyTaken also a key another
// transaction took meanwhile (an enrolment then sees that finger's rows).
bool retryable(const std::string& state, bool keyTaken) {
    return state == "40001" || state == "40P01" || (keyTaken && state == "23505");
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// Parameters of one statement in binary form: text as its bytes, integers
// in network order, templates as raw bytea.
class Params {
  public:
    Params& text(std::string_view s) { return add(kText, std::string(s)); }
    Params& int4(std::int32_t v) {
        const auto u = static_cast<std::uint32_t>(v);
        return add(kInt4, std::string{static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
                                      static_cast<char>(u)});
    }
    Params& bytes(const Template& t) { return add(kBytea, std::string(t.begin(), t.end())); }

    int size() const { return static_cast<int>(values_.size()); }
    const Oid* types() const { return types_.data(); }
    const int* lengths() const { return lengths_.data(); }
    const int* formats() const { return formats_.data(); }
    // Pointers into the values, taken when the statement is sent.
    std::vector<const char*> pointers() const {
        std::vector<const char*> p;
        for (const std::string& v : values_) p.push_back(v.data());
        return p;
    }

  private:
    Params& add(Oid type, std::string value) {
        types_.push_back(type);
        lengths_.push_back(static_cast<int>(value.size()));
        formats_.push_back(1);
        values_.push_back(std::move(value));
        return *this;
    }
    std::vector<Oid> types_;
    std::vector<int> lengths_;
    std::vector<int> formats_;
    std::vector<std::string> values_;
};

// A smallint, integer or bigint in network order (NULL: 0).
std::int64_t integer(std::string_view v) {
    if (v.size() != 0 && v.size() != 2 && v.size() != 4 && v.size() != 8)
        throw Error{"the server answered a " + std::to_string(v.size()) + "-byte value where an integer was expected"};
    std::uint64_t u = 0;
    for (const char c : v) u = (u << 8) | static_cast<std::uint8_t>(c);
    const unsigned bits = static_cast<unsigned>(v.size()) * 8;
    if (bits > 0 && bits < 64 && (u >> (bits - 1)) != 0) u |= ~std::uint64_t{0} << bits;  // sign
    return static_cast<std::int64_t>(u);
}

// The value as a template; false when it is not 256 bytes.
bool templateField(std::string_view v, Template& t) {
    if (v.size() != t.size()) return false;
    std::copy(v.begin(), v.end(), t.begin());
    return true;
}

// Fields of a binary result.
std::string_view field(const PGresult* r, int row, int column) {
    return {PQgetvalue(r, row, column), static_cast<std::size_t>(PQgetlength(r, row, column))};
}
std::int64_t integer(const PGresult* r, int row, int column) { return integer(field(r, row, column)); }

// The columns of one row of a read, in binary form; NULL reads as empty.
constexpr std::size_t kMaxColumns = 8;
using Columns = std::array<std::string_view, kMaxColumns>;

// Splits one tuple of COPY ... TO STDOUT (FORMAT binary) into columns;
// false at the trailer. The stream's header comes with its first message.
bool copyTuple(std::string_view message, bool first, Columns& columns) {
    const auto take = [&](std::size_t n) {
        if (message.size() < n) throw Error{"a malformed row from the server"};
        const std::string_view v = message.substr(0, n);
        message.remove_prefix(n);
        return v;
    };
    if (first) {
        take(15);                                          // signature and flags
        take(static_cast<std::size_t>(integer(take(4))));  // header extension
    }
    const std::int64_t count = integer(take(2));
    if (count < 0) return false;
    if (static_cast<std::size_t>(count) > kMaxColumns) throw Error{"a malformed row from the server"};
    for (std::size_t c = 0; c < static_cast<std::size_t>(count); ++c) {
        const std::int64_t length = integer(take(4));
        columns[c] = length < 0 ? std::string_view() : take(static_cast<std::size_t>(length));
    }
    return true;
}

// Rows for COPY ... FROM STDIN (FORMAT binary).
class CopyRows {
  public:
    CopyRows() { bytes_.append("PGCOPY\n\377\r\n\0", 11).append(8, '\0'); }
    void row(const std::string& subject, int finger, int slot, int window, const std::string& impression,
             const Template& t) {
        number(8, 2);  // fields
        text(subject);
        number(finger, 2, true);
        number(slot, 2, true);
        number(window, 2, true);
        text(impression);
        number(templateQuality(t), 4, true);
        number(ZP_TEMPLATE_SIZE, 4);
        bytes_.append(reinterpret_cast<const char*>(t.data()), t.size());
        number(rowChecksum(subject, finger, t), 8, true);
    }
    const std::string& finish() {
        number(-1, 2);
        return bytes_;
    }

  private:
    // A value of size bytes in network order, preceded by its length.
    void number(std::int64_t v, int size, bool field = false) {
        if (field) number(size, 4);
        for (int i = size - 1; i >= 0; --i) bytes_.push_back(static_cast<char>(static_cast<std::uint64_t>(v) >> (8 * i)));
    }
    void text(const std::string& s) {
        number(static_cast<std::int64_t>(s.size()), 4);
        bytes_.append(s);
    }
    std::string bytes_;
};

// One usable row of a read, with its other columns.
struct RowView {
    std::string_view subject;
    int finger;
    int slot;
    int window;
    const Template& templ;
    const Columns& columns;
};

class PostgresStore final : public Store {
  public:
    PostgresStore(const std::string& uri, Access access);
    ~PostgresStore() override { PQfinish(conn_); }

    const std::string& location() const override { return location_; }
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
    bool shortLists(const std::vector<Probe>& probes, std::size_t length, StoreShortLists& into) override;

  private:
    // Runs one statement; anything but success throws the server's message.
    Result run(const std::string& sql, const Params& params, const std::string& what, int format = 1);
    Result run(const std::string& sql, const std::string& what) { return run(sql, Params{}, what, 0); }
    [[noreturn]] void fail(const PGresult* r, const std::string& what) const;
    // The layout of what the database holds: 0 no gallery; throws when it
    // holds something else under the gallery's name.
    int detectLayout();
    int checkedLayout(int layout) const;
    void create();
    // Runs one write transaction, again while the server answers that it
    // could not serialise it with others.
    template <class Body>
    void retried(bool keyTaken, Body body);
    // Reads every row (or one subject's) in (subject, finger, slot) order
    // inside the caller's transaction, checking each: onRow(RowView)
    // receives the usable ones. Answers the rows read.
    template <class OnRow>
    std::int64_t scan(const std::string* subject, int finger, bool listing, std::vector<DamagedRow>& damaged,
                      OnRow onRow);
    std::vector<StoredTemplate> collect(const std::string* subject, int finger, std::vector<DamagedRow>& damaged);
    void copyIn(const std::string& rows, const std::string& what);
    std::int64_t count(const std::string& sql, const Params& params = {});

    // One transaction; rolled back unless committed. Inside an open one
    // (a search made while enrolling) it joins that one.
    class Transaction {
      public:
        Transaction(PostgresStore& s, const char* begin)
            : s_(s), done_(PQtransactionStatus(s.conn_) != PQTRANS_IDLE) {
            if (!done_) s_.run(begin, "cannot start a transaction");
        }
        ~Transaction() {
            if (!done_) PQclear(PQexec(s_.conn_, "ROLLBACK"));
        }
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit() {
            if (done_) return;
            s_.run("COMMIT", "cannot commit");
            done_ = true;
        }

      private:
        PostgresStore& s_;
        bool done_;
    };
    static constexpr const char* kRead = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY";

    PGconn* conn_ = nullptr;
    std::string location_;
    int version_ = 0;
};

PostgresStore::PostgresStore(const std::string& uri, Access access) : location_(maskedLocation(uri)) {
    const std::array<const char*, 3> keys = {"dbname", "fallback_application_name", nullptr};
    const std::array<const char*, 3> values = {uri.c_str(), "zpapi", nullptr};
    conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string why = conn_ ? trimmed(PQerrorMessage(conn_)) : "out of memory";
        PQfinish(conn_);
        conn_ = nullptr;
        throw Error{location_ + ": cannot connect: " + why};
    }
    try {
        run("SET client_min_messages = warning", "cannot set up the session");
        // A read-only command cannot change anything, whatever it runs.
        if (access == Access::Read) run("SET default_transaction_read_only = on", "cannot set up the session");
        version_ = detectLayout();
        if (version_ == 0 && access != Access::Write)
            throw Error{location_ + ": no such gallery (the database has no zp_templates table; enroll creates it)"};
        if (access == Access::Write) create();
    } catch (...) {
        PQfinish(conn_);
        conn_ = nullptr;
        throw;
    }
}

Result PostgresStore::run(const std::string& sql, const Params& params, const std::string& what, int format) {
    const std::vector<const char*> values = params.pointers();
    Result r(PQexecParams(conn_, sql.c_str(), params.size(), params.types(), values.data(), params.lengths(),
                          params.formats(), format),
             &PQclear);
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(r.get(), what);
    return r;
}

void PostgresStore::fail(const PGresult* r, const std::string& what) const {
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const char* detail = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL) : nullptr;
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    std::string why = primary ? primary : trimmed(PQerrorMessage(conn_));
    if (detail) why += " (" + std::string(detail) + ")";
    ServerError e;
    e.message = location_ + ": " + what + ": " + why;
    e.state = state ? state : "";
    throw e;
}

std::int64_t PostgresStore::count(const std::string& sql, const Params& params) {
    const Result r = run(sql, params, "cannot read the gallery");
    return PQntuples(r.get()) == 1 ? integer(r.get(), 0, 0) : 0;
}

// zp_create_gallery() marks the table with a comment naming its layout.
int PostgresStore::detectLayout() {
    const Result r = run(
        "SELECT to_regclass('zp_templates') IS NOT NULL,"
        " substring(obj_description(to_regclass('zp_templates'), 'pg_class') FROM '^zpapi gallery, layout ([0-9]+)$'),"
        " EXISTS (SELECT 1 FROM pg_extension WHERE extname = 'zpapi')",
        "cannot read the database's catalogue");
    if (std::string_view(PQgetvalue(r.get(), 0, 0)) != "t") return 0;
    if (PQgetisnull(r.get(), 0, 1)) throw Error{location_ + ": not a zpapi gallery (a zp_templates table it did not make)"};
    if (std::string_view(PQgetvalue(r.get(), 0, 2)) != "t")
        throw Error{location_ + ": the zpapi extension is not installed in this database (CREATE EXTENSION zpapi)"};
    return checkedLayout(std::atoi(PQgetvalue(r.get(), 0, 1)));
}

int PostgresStore::checkedLayout(int layout) const {
    if (layout > kServerLayout)
        throw Error{location_ + ": made by a newer zpapi (gallery layout " + std::to_string(layout) +
                    "); this one reads layouts up to " + std::to_string(kServerLayout)};
    return layout;
}

// The extension, then the gallery when missing: what zp_create_gallery()
// makes it answers with its layout.
void PostgresStore::create() {
    Transaction t(*this, "BEGIN");
    run(kCreateLock, "cannot lock the gallery");
    run("CREATE EXTENSION IF NOT EXISTS zpapi", "cannot install the zpapi extension");
    const Result r = run("SELECT zp_create_gallery()", "cannot create the gallery");
    version_ = checkedLayout(std::atoi(PQgetvalue(r.get(), 0, 0)));
    t.commit();
}

template <class Body>
void PostgresStore::retried(bool keyTaken, Body body) {
    std::minstd_rand jitter(static_cast<unsigned>(::getpid()));
    for (int attempt = 1;; ++attempt) {
        try {
            body();
            return;
        } catch (const ServerError& e) {
            if (!retryable(e.state, keyTaken) || attempt == kRetries) throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt * 5 + jitter() % 20));
    }
}

template <class OnRow>
std::int64_t PostgresStore::scan(const std::string* subject, int finger, bool listing,
                                 std::vector<DamagedRow>& damaged, OnRow onRow) {
    std::string sql = std::string("SELECT ") + (listing ? kListingColumns : kRowColumns) + " FROM zp_templates";
    Params params;
    if (subject) {
        sql += " WHERE subject = $1";
        params.text(*subject);
        if (finger != kAllFingers) {
            sql += " AND finger = $2";
            params.int4(finger);
        }
    }
    sql += " ORDER BY subject, finger, slot";
    std::int64_t read = 0;
    Template t{};
    const auto visit = [&](const Columns& c) {
        ++read;
        const std::string_view who = c[0];
        const int position = static_cast<int>(integer(c[1]));
        const int slot = static_cast<int>(integer(c[2]));
        std::string why;
        if (!templateField(c[4], t)) why = "stored template is not 256 bytes";
        else if (rowChecksum(who, position, t) != integer(c[5])) why = "checksum mismatch";
        else if (zp::storedTemplateVerdict(t.data()) != zp::TemplateVerdict::Usable)
            why = "template refused: " + templateRejection(t);
        if (why.empty()) onRow(RowView{who, position, slot, static_cast<int>(integer(c[3])), t, c});
        else damaged.push_back({std::string(who), position, slot, why});
    };
    Columns columns{};
    if (subject) {
        const Result r = run(sql, params, "cannot read the gallery");
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            for (int c = 0; c < PQnfields(r.get()); ++c) columns[static_cast<std::size_t>(c)] = field(r.get(), i, c);
            visit(columns);
        }
        return read;
    }
    // A whole gallery streams as binary COPY: rows arrive while the server
    // reads on, with no result held whole.
    const Result start(PQexec(conn_, ("COPY (" + sql + ") TO STDOUT (FORMAT binary)").c_str()), &PQclear);
    if (!start || PQresultStatus(start.get()) != PGRES_COPY_OUT) fail(start.get(), "cannot read the gallery");
    bool first = true;
    for (;;) {
        char* message = nullptr;
        const int length = PQgetCopyData(conn_, &message, 0);
        if (length < 0) break;
        const std::unique_ptr<char, decltype(&PQfreemem)> owned(message, &PQfreemem);
        try {
            if (copyTuple({message, static_cast<std::size_t>(length)}, std::exchange(first, false), columns)) visit(columns);
        } catch (...) {
            // The connection is left mid-stream: it cannot serve this store again.
            PQfinish(conn_);
            conn_ = nullptr;
            throw;
        }
    }
    const Result end(PQgetResult(conn_), &PQclear);
    while (PGresult* more = PQgetResult(conn_)) PQclear(more);
    if (!end || PQresultStatus(end.get()) != PGRES_COMMAND_OK) fail(end.get(), "cannot read the gallery");
    return read;
}

std::vector<StoredTemplate> PostgresStore::collect(const std::string* subject, int finger,
                                                   std::vector<DamagedRow>& damaged) {
    std::vector<StoredTemplate> out;
    scan(subject, finger, true, damaged, [&out](const RowView& row) {
        out.push_back({std::string(row.subject), row.finger, row.slot, std::string(row.columns[6]), row.window,
                       std::string(row.columns[7]), row.templ});
    });
    return out;
}

void PostgresStore::readSnapshot(Snapshot& s, const Arrival& arrived) {
    constexpr std::size_t kArrivalStep = 4096;
    s = Snapshot{};
    Transaction t(*this, kRead);
    s.reserveTemplates(static_cast<std::size_t>(count("SELECT count(*) FROM zp_templates")));
    bool overflow = false;  // more rows than counted in the same snapshot: cannot be
    scan(nullptr, kAllFingers, false, s.damaged, [&](const RowView& row) {
        if (arrived && s.templates.size() == s.templates.capacity()) {
            overflow = true;  // growing would move what others read
            return;
        }
        appendToSnapshot(s, row.subject, row.finger, row.templ);
        if (arrived && s.templates.size() % kArrivalStep == 0) arrived(s.templates.size());
    });
    if (overflow) throw Error{location_ + ": more template rows than the server counted"};
    t.commit();
    if (arrived) arrived(s.templates.size());
}

std::vector<StoredTemplate> PostgresStore::templatesOf(const std::string& subject, int finger,
                                                       std::vector<DamagedRow>& damaged) {
    return collect(&subject, finger, damaged);  // one statement: one snapshot
}

std::vector<StoredTemplate> PostgresStore::rows(std::vector<DamagedRow>& damaged) {
    Transaction t(*this, kRead);
    std::vector<StoredTemplate> out = collect(nullptr, kAllFingers, damaged);
    t.commit();
    return out;
}

void PostgresStore::copyIn(const std::string& rows, const std::string& what) {
    const Result start(PQexec(conn_,
                              "COPY zp_templates (subject, finger, slot, window_index, impression, quality, template,"
                              " checksum) FROM STDIN (FORMAT binary)"),
                       &PQclear);
    if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) fail(start.get(), what);
    if (PQputCopyData(conn_, rows.data(), static_cast<int>(rows.size())) != 1 || PQputCopyEnd(conn_, nullptr) != 1)
        fail(nullptr, what);
    Result end(PQgetResult(conn_), &PQclear);
    while (PGresult* more = PQgetResult(conn_)) PQclear(more);
    if (!end || PQresultStatus(end.get()) != PGRES_COMMAND_OK) fail(end.get(), what);
}

// Enrolments of one finger queue on a lock of that finger, taken before its
// rows are read: of two at once, the second sees what the first stored.
void PostgresStore::enrol(const std::string& subject, int finger, Existing existing, const Decision& decide) {
    if (subject.empty()) throw Error{"an empty subject id cannot be enrolled"};
    retried(true, [&] {
        Transaction t(*this, "BEGIN");
        run("SELECT pg_advisory_xact_lock(hashtext($1), $2)", Params{}.text(subject).int4(finger),
            "cannot lock the finger");
        std::vector<DamagedRow> damaged;
        std::vector<StoredTemplate> kept = collect(&subject, finger, damaged);
        if (const std::string why = enrolRefusal(location_, subject, finger, existing, kept.size(), damaged);
            !why.empty())
            throw Error{why};
        if (existing != Existing::Add) kept.clear();
        const std::vector<NewTemplate> chosen = decide(kept);
        if (chosen.empty()) return;  // rolled back: nothing changes
        checkChosen(chosen);
        run("DELETE FROM zp_templates WHERE subject = $1 AND finger = $2", Params{}.text(subject).int4(finger),
            "cannot enrol " + subject);
        CopyRows rows;
        for (std::size_t slot = 0; slot < chosen.size(); ++slot)
            rows.row(subject, finger, static_cast<int>(slot), chosen[slot].window, chosen[slot].impression,
                     chosen[slot].templ);
        copyIn(rows.finish(), "cannot enrol " + subject);
        t.commit();
    });
}

std::size_t PostgresStore::remove(const std::string& subject, int finger) {
    std::size_t removed = 0;
    retried(false, [&] {
        Params params;
        params.text(subject);
        std::string sql = "DELETE FROM zp_templates WHERE subject = $1";
        if (finger != kAllFingers) {
            sql += " AND finger = $2";
            params.int4(finger);
        }
        const Result r = run(sql, params, "cannot remove " + subject);
        removed = static_cast<std::size_t>(std::strtoull(PQcmdTuples(r.get()), nullptr, 10));
    });
    return removed;
}

void PostgresStore::add(const std::vector<StoredTemplate>& rows) {
    checkNewRows(rows);
    CopyRows copy;
    for (const StoredTemplate& r : rows) copy.row(r.subject, r.finger, r.slot, r.window, r.impression, r.templ);
    const std::string& bytes = copy.finish();
    try {
        retried(false, [&] {
            Transaction t(*this, "BEGIN");
            copyIn(bytes, "cannot add the rows");
            t.commit();
        });
    } catch (const ServerError& e) {
        if (e.state != "23505") throw;
        throw Error{e.message + "; a row already exists: nothing was added"};
    }
}

CheckReport PostgresStore::check() {
    CheckReport report;
    report.schemaVersion = version_;
    Transaction t(*this, kRead);
    const std::int64_t counted = count("SELECT count(*) FROM zp_templates");
    std::int64_t read = 0;
    try {
        read = scan(nullptr, kAllFingers, false, report.damaged, [](const RowView&) {});
    } catch (const Error& e) {
        report.problems.push_back(e.message);
        return report;
    }
    if (read != counted)
        report.problems.push_back("the server counts " + std::to_string(counted) + " template rows but " +
                                  std::to_string(read) + " could be read");
    report.templates = static_cast<std::size_t>(read);
    t.commit();
    return report;
}

// The server's rows, read in one snapshot, become a new embedded gallery
// file: a copy any zpapi reads without the server. A damaged gallery is
// not copied (its damage would be laundered into fresh checksums).
void PostgresStore::backup(const std::string& path) {
    if (isServerLocation(path))
        throw Error{maskedLocation(path) + ": backup writes an SQLite gallery file; pg_dump copies a server's database"};
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) throw Error{path + ": already exists; the backup is not written over it"};
    std::vector<DamagedRow> damaged;
    const std::vector<StoredTemplate> all = rows(damaged);
    if (!damaged.empty())
        throw Error{location_ + ": " + std::to_string(damaged.size()) + " damaged rows (" +
                    rowName(damaged[0].subject, damaged[0].finger, damaged[0].slot) + ": " + damaged[0].reason +
                    "); nothing copied; zpapi check lists them"};
    // Written under a temporary name and renamed, so no half copy is ever
    // found under the final name.
    const std::string partial = path + ".partial-" + std::to_string(::getpid());
    const auto cleanup = [&] {
        for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(partial + suffix, ec);
    };
    try {
        auto copy = openSqliteGallery(partial, Access::Write);
        if (!all.empty()) copy->add(all);
    } catch (...) {
        cleanup();
        throw;
    }
    std::filesystem::rename(partial, path, ec);
    if (ec) {
        cleanup();
        throw Error{path + ": cannot put the backup in place: " + ec.message()};
    }
}

// Damage and counts first (the server checks every row's checksum), then one
// short list per probe, all in one snapshot: the fingers each short list
// names come with their usable templates.
bool PostgresStore::shortLists(const std::vector<Probe>& probes, std::size_t length, StoreShortLists& into) {
    into = StoreShortLists{};
    Transaction t(*this, kRead);
    constexpr const char* kSound = "checksum = zp_row_checksum(subject, finger, template)";
    // Per finger, then per subject: no sort for distinct counts. Sums of
    // counts are numeric: read back as bigint.
    const Result counts = run(std::string("SELECT coalesce(sum(usable), 0)::bigint, coalesce(sum(fingers), 0)::bigint,"
                                          " count(*) FILTER (WHERE usable > 0), coalesce(sum(damaged), 0)::bigint FROM"
                                          " (SELECT sum(usable) AS usable, count(*) FILTER (WHERE usable > 0) AS fingers,"
                                          "  sum(damaged) AS damaged FROM"
                                          "  (SELECT subject, count(*) FILTER (WHERE sound) AS usable,"
                                          "   count(*) FILTER (WHERE NOT sound) AS damaged FROM"
                                          "   (SELECT subject, finger, coalesce(") +
                                  kSound + ", false) AS sound FROM zp_templates) r"
                                           "   GROUP BY subject, finger) f GROUP BY subject) s",
                              Params{}, "cannot count the gallery");
    into.templates = static_cast<std::size_t>(integer(counts.get(), 0, 0));
    into.fingers = static_cast<std::size_t>(integer(counts.get(), 0, 1));
    into.subjects = static_cast<std::size_t>(integer(counts.get(), 0, 2));
    if (integer(counts.get(), 0, 3) > 0) {
        const Result bad = run(std::string("SELECT subject, finger, slot FROM zp_templates WHERE NOT coalesce(") +
                                   kSound + ", false) ORDER BY subject, finger, slot",
                               Params{}, "cannot read the gallery");
        for (int i = 0; i < PQntuples(bad.get()); ++i)
            into.gallery.damaged.push_back({std::string(field(bad.get(), i, 0)), static_cast<int>(integer(bad.get(), i, 1)),
                                            static_cast<int>(integer(bad.get(), i, 2)), "checksum mismatch"});
    }
    std::map<std::pair<std::string, int>, std::uint32_t> placed;  // finger -> index in the snapshot
    for (const Probe& probe : probes) {
        const Result r = run("SELECT subject, finger, quick, template FROM zp_short_list($1::zptemplate, $2, $3, true)",
                             Params{}.bytes(probe.templ).int4(probe.finger).int4(static_cast<std::int32_t>(length)),
                             probe.label.empty() ? "cannot search" : "cannot search for " + probe.label);
        ShortList& list = into.lists.emplace_back();
        const PGresult* rows = r.get();
        const int n = PQntuples(rows);
        const auto sameFinger = [&](int a, int b) {
            return field(rows, a, 0) == field(rows, b, 0) && integer(rows, a, 1) == integer(rows, b, 1);
        };
        // A finger's rows come together, best slot first, under its quick score.
        for (int begin = 0, end = 0; begin < n; begin = end) {
            while (end < n && sameFinger(begin, end)) ++end;
            const std::string subject(field(rows, begin, 0));
            const int finger = static_cast<int>(integer(rows, begin, 1));
            const auto [at, fresh] = placed.try_emplace({subject, finger}, static_cast<std::uint32_t>(into.gallery.fingers.size()));
            list.push_back({static_cast<int>(integer(rows, begin, 2)), at->second});
            for (int i = begin; fresh && i < end; ++i) {
                Template t{};
                if (!templateField(field(rows, i, 3), t) || zp::storedTemplateVerdict(t.data()) != zp::TemplateVerdict::Usable)
                    throw Error{location_ + ": the server short-listed an unusable template of " +
                                rowName(subject, finger, i - begin)};
                appendToSnapshot(into.gallery, subject, finger, t);
            }
        }
    }
    t.commit();
    return true;
}

}  // namespace

std::unique_ptr<Store> openPostgresGallery(const std::string& uri, Access access) {
    return std::make_unique<PostgresStore>(uri, access);
}

}  // namespace zpg
