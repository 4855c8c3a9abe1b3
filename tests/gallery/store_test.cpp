// The embedded gallery: refusals, layouts, damage that is reported rather
// than hidden, and writers and readers at the same time.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "gallery/search.h"
#include "gallery/store.h"
#include "gallery_fixtures.h"
#include "support/pg_database.h"

namespace {

using zptest::plainTemplate;

std::vector<zpg::NewTemplate> templates(std::initializer_list<int> seeds) {
    std::vector<zpg::NewTemplate> out;
    for (int s : seeds) out.push_back({plainTemplate(s), "impression-" + std::to_string(s)});
    return out;
}

void enrol(zpg::Store& store, const std::string& subject, int finger, std::initializer_list<int> seeds,
           zpg::Existing existing = zpg::Existing::Refuse) {
    store.enrol(subject, finger, existing, [&](const std::vector<zpg::StoredTemplate>&) { return templates(seeds); });
}

// Runs SQL on a gallery behind the store's back.
void sql(const std::string& path, const std::string& statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// An SQL blob literal of a template.
std::string blob(const zpg::Template& t) {
    std::string hex = "x'";
    for (std::uint8_t v : t) {
        hex += "0123456789abcdef"[v >> 4];
        hex += "0123456789abcdef"[v & 15];
    }
    return hex + "'";
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const zpg::Error& e) {
        return e.message;
    }
    return "";
}

// The same behaviour on each backend: an SQLite file, or a fresh database
// of the cluster tests/postgres/with_cluster.sh starts.
class Backend : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam() != "Postgres") return;
        ZP_REQUIRE_POSTGRES();
        database_ = std::make_unique<zptest::PgDatabase>();
    }
    std::string location() const { return database_ ? database_->uri() : dir_.file("g.db"); }
    // SQL on the gallery's table of rows behind the store's back.
    void onRows(const std::string& statement) {
        if (database_) database_->sql("UPDATE zp_templates " + statement);
        else sql(location(), "UPDATE templates " + statement);
    }
    zptest::TempDir dir_;
    std::unique_ptr<zptest::PgDatabase> database_;
};
INSTANTIATE_TEST_SUITE_P(Backends, Backend, ::testing::Values("Sqlite", "Postgres"),
                         [](const auto& info) { return info.param; });

TEST_P(Backend, SubjectsFingersAndSeveralTemplates) {
    auto store = zpg::openGallery(location(), zpg::Access::Write);
    enrol(*store, "alice", 2, {1, 2, 3});
    enrol(*store, "alice", 3, {4, 5});
    enrol(*store, "bob", 0, {6});
    const zpg::Snapshot s = store->snapshot();
    ASSERT_EQ(s.fingers.size(), 3U);
    EXPECT_EQ(s.subjects(), 2U);
    EXPECT_EQ(s.templates.size(), 6U);
    EXPECT_EQ(s.fingers[0].subject, "alice");
    EXPECT_EQ(s.fingers[0].position, 2);
    EXPECT_EQ(s.fingers[0].end - s.fingers[0].begin, 3U);
    EXPECT_EQ(s.templates[s.fingers[1].begin], plainTemplate(4));
    std::vector<zpg::DamagedRow> damaged;
    const auto rows = store->templatesOf("alice", 2, damaged);
    ASSERT_EQ(rows.size(), 3U);
    EXPECT_EQ(rows[2].impression, "impression-3");
    EXPECT_EQ(rows[2].slot, 2);
    EXPECT_FALSE(rows[0].enrolled.empty());
    EXPECT_EQ(store->templatesOf("alice", zpg::Store::kAllFingers, damaged).size(), 5U);

    // An enrolled finger is refused, started over, or merged.
    EXPECT_NE(errorOf([&] { enrol(*store, "alice", 2, {7}); }).find("already has the right-index finger enrolled"),
              std::string::npos);
    enrol(*store, "alice", 2, {7}, zpg::Existing::Replace);
    EXPECT_EQ(store->templatesOf("alice", 2, damaged).size(), 1U);
    std::size_t offered = 0;
    store->enrol("alice", 2, zpg::Existing::Add, [&](const std::vector<zpg::StoredTemplate>& kept) {
        offered = kept.size();
        return templates({7, 8});
    });
    EXPECT_EQ(offered, 1U);
    EXPECT_EQ(store->templatesOf("alice", 2, damaged).size(), 2U);
    // A decision to keep nothing changes nothing.
    store->enrol("carol", 1, zpg::Existing::Refuse, [](const auto&) { return std::vector<zpg::NewTemplate>{}; });
    EXPECT_TRUE(store->templatesOf("carol", zpg::Store::kAllFingers, damaged).empty());

    EXPECT_EQ(store->remove("alice", 3), 2U);
    EXPECT_EQ(store->remove("alice", zpg::Store::kAllFingers), 2U);
    EXPECT_EQ(store->remove("alice", zpg::Store::kAllFingers), 0U);
    EXPECT_EQ(store->snapshot().templates.size(), 1U);
    EXPECT_TRUE(store->check().sound());
    EXPECT_TRUE(damaged.empty());
}

TEST_P(Backend, TemplatesNoComparisonCanUseAreRefused) {
    auto store = zpg::openGallery(location(), zpg::Access::Write);
    struct Case {
        const char* what;
        std::function<void(zpg::Template&)> damage;
        const char* mentions;
    };
    const std::vector<Case> cases = {
        {"zero", [](zpg::Template& t) { t.fill(0); }, "no template"},
        {"count", [](zpg::Template& t) { t[7] = 51; }, "minutiae count 51"},
        {"area", [](zpg::Template& t) { t[11] = 0xFF; t[12] = 0x7F; }, "does not fit the matching workspace"},
        {"class", [](zpg::Template& t) { t[15] = 1; }, "class code 1"},
    };
    for (const Case& c : cases) {
        zpg::StoredTemplate row;
        row.subject = c.what;
        row.templ = plainTemplate(1);
        c.damage(row.templ);
        const std::string why = errorOf([&] { store->add({row}); });
        EXPECT_NE(why.find(c.mentions), std::string::npos) << c.what << ": " << why;
        const std::string viaEnrol = errorOf([&] {
            store->enrol(c.what, 0, zpg::Existing::Refuse, [&](const auto&) {
                return std::vector<zpg::NewTemplate>{{row.templ, "x"}};
            });
        });
        EXPECT_NE(viaEnrol.find(c.mentions), std::string::npos) << c.what << ": " << viaEnrol;
    }
    EXPECT_TRUE(store->snapshot().templates.empty());
    // populate-style adds never overwrite.
    zpg::StoredTemplate row;
    row.subject = "x";
    row.templ = plainTemplate(1);
    store->add({row});
    EXPECT_NE(errorOf([&] { store->add({row}); }).find("already exists"), std::string::npos);
    EXPECT_EQ(store->snapshot().templates.size(), 1U);
}

// A template moved to another finger fails the checksum, which covers
// subject, finger and template: every read names the row, searches leave it out.
TEST_P(Backend, RowMovedToAnotherFingerIsNamed) {
    auto store = zpg::openGallery(location(), zpg::Access::Write);
    enrol(*store, "alice", 2, {1, 2});
    enrol(*store, "bob", 2, {3});
    onRows("SET finger = 3 WHERE subject = 'alice' AND slot = 1");
    const zpg::Snapshot s = store->snapshot();
    EXPECT_EQ(s.templates.size(), 2U);
    ASSERT_EQ(s.damaged.size(), 1U);
    EXPECT_EQ(zpg::rowName(s.damaged[0].subject, s.damaged[0].finger, s.damaged[0].slot), "alice/right-middle/1");
    EXPECT_EQ(s.damaged[0].reason, "checksum mismatch");
    const zpg::CheckReport r = store->check();
    EXPECT_FALSE(r.sound());
    EXPECT_EQ(r.damaged.size(), 1U);
    EXPECT_EQ(r.templates, 3U);
    zpg::Snapshot read;
    const zpg::SearchResult found = zpg::identify(*store, {{plainTemplate(3), zpg::kUnknownFinger, "p"}}, {}, read);
    ASSERT_EQ(read.damaged.size(), 1U);
    EXPECT_EQ(read.damaged[0].subject, "alice");
    EXPECT_EQ(found.templates, 2U);
    EXPECT_EQ(found.subjects, 2U);
    ASSERT_FALSE(found.candidates.empty());
    EXPECT_EQ(found.candidates[0].subject, "bob");
}

// What only a server gallery does.
class ServerStore : public Backend {};
INSTANTIATE_TEST_SUITE_P(Postgres, ServerStore, ::testing::Values("Postgres"));

// The server short-lists next to its rows; the answer is the search of
// every row of an embedded gallery holding the same rows. Templates repeat
// (seeds share their grid), so quick scores tie often.
TEST_P(ServerStore, SearchEqualsTheEmbeddedSearchOfTheSameRows) {
    std::vector<zpg::StoredTemplate> rows;
    for (int i = 0; i < 12000; ++i) {  // counts above one base-10000 digit
        zpg::StoredTemplate r;
        r.subject = "s" + std::to_string(i / 3);
        r.finger = i % 3 + 1;
        r.slot = i % 2;
        r.templ = plainTemplate(i, 12 + i % 37);
        rows.push_back(r);
    }
    auto server = zpg::openGallery(location(), zpg::Access::Write);
    auto embedded = zpg::openGallery(dir_.file("same.db"), zpg::Access::Write);
    server->add(rows);
    embedded->add(rows);
    const std::vector<zpg::Probe> probes = {{plainTemplate(2000, 12 + 2000 % 37), zpg::kUnknownFinger, "a"},
                                            {plainTemplate(77, 12 + 77 % 37), 3, "b"}};
    for (const auto& [top, shortList] : std::vector<std::pair<std::size_t, std::size_t>>{{5, 0}, {20, 7}, {40, 200}}) {
        zpg::SearchOptions options;
        options.top = top;
        options.shortList = shortList;
        zpg::Snapshot listed;
        zpg::Snapshot whole;
        const zpg::SearchResult a = zpg::identify(*server, probes, options, listed);
        const zpg::SearchResult b = zpg::identify(*embedded, probes, options, whole);
        EXPECT_LT(listed.templates.size(), whole.templates.size()) << "only the short lists leave the server";
        EXPECT_EQ(a.templates, b.templates);
        EXPECT_EQ(a.fingers, b.fingers);
        EXPECT_EQ(a.subjects, b.subjects);
        EXPECT_EQ(a.shortList, b.shortList);
        ASSERT_EQ(a.candidates.size(), b.candidates.size());
        for (std::size_t i = 0; i < a.candidates.size(); ++i) {
            const zpg::SubjectCandidate& x = a.candidates[i];
            const zpg::SubjectCandidate& y = b.candidates[i];
            EXPECT_EQ(x.subject, y.subject) << top << " " << i;
            EXPECT_EQ(x.total, y.total);
            EXPECT_EQ(x.match, y.match);
            for (std::size_t p = 0; p < probes.size(); ++p) {
                EXPECT_EQ(x.probes[p].finger, y.probes[p].finger) << x.subject << " " << p;
                EXPECT_EQ(x.probes[p].slot, y.probes[p].slot);
                EXPECT_EQ(x.probes[p].quick, y.probes[p].quick);
                EXPECT_EQ(x.probes[p].score, y.probes[p].score);
                EXPECT_EQ(x.probes[p].match, y.probes[p].match);
            }
        }
    }
}

// Enrolments of one finger at once from several connections: refused ones
// lose to exactly one winner; started over, the rows left are one
// enrolment's whole, never a mix.
TEST_P(ServerStore, ConcurrentEnrolmentsOfOneFingerOneWins) {
    constexpr int kWriters = 5;
    for (zpg::Existing existing : {zpg::Existing::Refuse, zpg::Existing::Replace}) {
        std::atomic<int> ready{0};
        std::atomic<int> won{0};
        std::vector<std::string> errors(kWriters);
        std::vector<std::thread> writers;
        for (int w = 0; w < kWriters; ++w) {
            writers.emplace_back([&, w] {
                auto store = zpg::openGallery(location(), zpg::Access::Write);
                ++ready;
                while (ready < kWriters) std::this_thread::yield();
                errors[static_cast<std::size_t>(w)] = errorOf([&] {
                    store->enrol("same", 2, existing, [&](const auto&) {
                        std::vector<zpg::NewTemplate> mine;
                        for (int k = 0; k <= w; ++k) mine.push_back({plainTemplate(k), "writer-" + std::to_string(w)});
                        return mine;
                    });
                    ++won;
                });
            });
        }
        for (std::thread& t : writers) t.join();
        auto store = zpg::openGallery(location(), zpg::Access::Read);
        std::vector<zpg::DamagedRow> damaged;
        const std::vector<zpg::StoredTemplate> kept = store->templatesOf("same", 2, damaged);
        ASSERT_FALSE(kept.empty());
        const int winner = std::stoi(kept[0].impression.substr(7));
        EXPECT_EQ(kept.size(), static_cast<std::size_t>(winner + 1));
        for (const zpg::StoredTemplate& k : kept) EXPECT_EQ(k.impression, kept[0].impression);
        if (existing == zpg::Existing::Refuse) {
            EXPECT_EQ(won, 1);
            for (const std::string& e : errors) {
                if (!e.empty()) {
                    EXPECT_NE(e.find("already has the right-index finger enrolled"), std::string::npos) << e;
                }
            }
        } else {
            EXPECT_EQ(won, kWriters);
        }
        EXPECT_TRUE(store->check().sound());
        zpg::openGallery(location(), zpg::Access::Modify)->remove("same", zpg::Store::kAllFingers);
    }
}

TEST(Store, OpeningNeverTouchesWhatIsNotAGallery) {
    zptest::TempDir dir;
    const std::string missing = dir.file("missing.db");
    EXPECT_NE(errorOf([&] { zpg::openGallery(missing, zpg::Access::Read); }).find("no such gallery"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(missing));

    const std::string other = dir.file("other.db");
    sql(other, "CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('mine')");
    const std::string before = fileBytes(other);
    for (zpg::Access access : {zpg::Access::Read, zpg::Access::Write}) {
        EXPECT_NE(errorOf([&] { zpg::openGallery(other, access); }).find("not a zpapi gallery"), std::string::npos);
        EXPECT_EQ(fileBytes(other), before);
    }
    const std::string empty = dir.file("empty.db");
    std::ofstream(empty).close();
    EXPECT_NE(errorOf([&] { zpg::openGallery(empty, zpg::Access::Read); }).find("empty"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(empty), 0U);
}

// The first layout: one template per id with an FNV-1a checksum.
std::uint32_t fnv(const zpg::Template& t) {
    std::uint32_t h = 2166136261U;
    for (std::uint8_t b : t) h = (h ^ b) * 16777619U;
    return h;
}

TEST(Store, FirstLayoutIsReadAsItIsAndUpgradedOnTheFirstWrite) {
    zptest::TempDir dir;
    const std::string path = dir.file("old.db");
    const zpg::Template a = plainTemplate(1);
    const zpg::Template b = plainTemplate(2);
    sql(path,
        "CREATE TABLE templates (id TEXT PRIMARY KEY NOT NULL,"
        " template BLOB NOT NULL CHECK (length(template) = 256), checksum INTEGER NOT NULL,"
        " enrolled TEXT NOT NULL DEFAULT (datetime('now')));"
        "INSERT INTO templates (id, template, checksum) VALUES ('a', " + blob(a) + ", " + std::to_string(fnv(a)) + "), ('b', zeroblob(256), " + std::to_string(fnv(b)) + ")");
    const std::string before = fileBytes(path);
    {
        auto store = zpg::openGallery(path, zpg::Access::Read);
        EXPECT_EQ(store->schemaVersion(), 1);
        const zpg::Snapshot s = store->snapshot();
        ASSERT_EQ(s.templates.size(), 1U);
        EXPECT_EQ(s.templates[0], a);
        ASSERT_EQ(s.damaged.size(), 1U);
        EXPECT_EQ(s.damaged[0].subject, "b");
    }
    EXPECT_EQ(fileBytes(path), before) << "a read-only command changed an old gallery";
    {
        auto store = zpg::openGallery(path, zpg::Access::Write);
        EXPECT_EQ(store->schemaVersion(), 3);
        enrol(*store, "c", 1, {3});
    }
    auto store = zpg::openGallery(path, zpg::Access::Read);
    const zpg::Snapshot s = store->snapshot();
    ASSERT_EQ(s.fingers.size(), 2U);
    EXPECT_EQ(s.fingers[0].subject, "a");
    EXPECT_EQ(s.fingers[0].position, zpg::kUnknownFinger);
    EXPECT_EQ(s.templates[0], a);
    ASSERT_EQ(s.damaged.size(), 1U);
    EXPECT_EQ(s.damaged[0].subject, "b");
    EXPECT_NE(s.damaged[0].reason.find("before the gallery was upgraded"), std::string::npos);
    const zpg::CheckReport r = store->check();
    EXPECT_TRUE(r.problems.empty());
    EXPECT_EQ(r.damaged.size(), 1U);
    EXPECT_EQ(r.templates, 3U);
}

// The second layout: subjects and fingers, ten slots, no window column.
TEST(Store, SecondLayoutIsReadAsItIsAndUpgradedOnTheFirstWrite) {
    zptest::TempDir dir;
    const std::string path = dir.file("second.db");
    const zpg::Template a = plainTemplate(1);
    const zpg::Template b = plainTemplate(2);
    const auto row = [&](const std::string& subject, int slot, const zpg::Template& t, std::int64_t checksum) {
        return "('" + subject + "', 2, " + std::to_string(slot) + ", 'img', 60, " + blob(t) + ", " +
               std::to_string(checksum) + ")";
    };
    sql(path,
        "CREATE TABLE subjects (subject TEXT PRIMARY KEY NOT NULL CHECK (length(subject) > 0),"
        " created TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now'))) WITHOUT ROWID;"
        "CREATE TABLE templates (subject TEXT NOT NULL REFERENCES subjects (subject),"
        " finger INTEGER NOT NULL CHECK (finger BETWEEN 0 AND 10), slot INTEGER NOT NULL CHECK (slot BETWEEN 0 AND 9),"
        " impression TEXT NOT NULL DEFAULT '', quality INTEGER NOT NULL,"
        " template BLOB NOT NULL CHECK (length(template) = 256), checksum INTEGER,"
        " enrolled TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),"
        " PRIMARY KEY (subject, finger, slot)) WITHOUT ROWID;"
        "CREATE TABLE counts (name TEXT PRIMARY KEY NOT NULL, value INTEGER NOT NULL) WITHOUT ROWID;"
        "INSERT INTO counts VALUES ('templates', 3);"
        "INSERT INTO subjects (subject) VALUES ('a'), ('b');"
        "INSERT INTO templates (subject, finger, slot, impression, quality, template, checksum) VALUES " +
            row("a", 0, a, zpg::rowChecksum("a", 2, a)) + ", " + row("a", 1, b, zpg::rowChecksum("a", 2, b)) + ", " +
            row("b", 0, b, 12345) + ";"
            "PRAGMA application_id = 1515210572; PRAGMA user_version = 2;");
    const std::string before = fileBytes(path);
    const auto expectRows = [&](zpg::Store& store) {
        std::vector<zpg::DamagedRow> damaged;
        const std::vector<zpg::StoredTemplate> rows = store.rows(damaged);
        ASSERT_EQ(rows.size(), 2U);
        EXPECT_EQ(rows[1].templ, b);
        EXPECT_EQ(rows[1].window, 0);
        EXPECT_EQ(rows[1].impression, "img");
        ASSERT_EQ(damaged.size(), 1U);
        EXPECT_EQ(damaged[0].reason, "checksum mismatch");
    };
    {
        auto store = zpg::openGallery(path, zpg::Access::Read);
        EXPECT_EQ(store->schemaVersion(), 2);
        expectRows(*store);
    }
    EXPECT_EQ(fileBytes(path), before) << "a read-only command changed an old gallery";
    {
        auto store = zpg::openGallery(path, zpg::Access::Write);
        EXPECT_EQ(store->schemaVersion(), 3);
        expectRows(*store);
        // The new layout holds a finger's whole cap of templates, each naming its window.
        store->enrol("c", 1, zpg::Existing::Refuse, [](const std::vector<zpg::StoredTemplate>&) {
            std::vector<zpg::NewTemplate> all;
            for (int i = 0; i < zpg::kMaxTemplatesPerFinger; ++i) all.push_back({plainTemplate(10 + i), "c", i % 5});
            return all;
        });
    }
    auto store = zpg::openGallery(path, zpg::Access::Read);
    std::vector<zpg::DamagedRow> damaged;
    const std::vector<zpg::StoredTemplate> c = store->templatesOf("c", 1, damaged);
    ASSERT_EQ(c.size(), static_cast<std::size_t>(zpg::kMaxTemplatesPerFinger));
    EXPECT_EQ(c.back().slot, zpg::kMaxTemplatesPerFinger - 1);
    EXPECT_EQ(c.back().window, (zpg::kMaxTemplatesPerFinger - 1) % 5);
    const zpg::CheckReport r = store->check();
    EXPECT_TRUE(r.problems.empty());
    EXPECT_EQ(r.schemaVersion, 3);
    EXPECT_EQ(r.templates, 3U + zpg::kMaxTemplatesPerFinger);
    EXPECT_NE(errorOf([&] {
                  auto w = zpg::openGallery(path, zpg::Access::Write);
                  w->enrol("d", 1, zpg::Existing::Refuse, [](const std::vector<zpg::StoredTemplate>&) {
                      std::vector<zpg::NewTemplate> all(zpg::kMaxTemplatesPerFinger + 1, {plainTemplate(1), "d", 0});
                      return all;
                  });
              }).find("at most 15 templates"),
              std::string::npos);
}

TEST(Store, DamageIsNamedNeverHidden) {
    zptest::TempDir dir;
    const std::string path = dir.file("g.db");
    {
        auto store = zpg::openGallery(path, zpg::Access::Write);
        enrol(*store, "alice", 2, {1, 2});
        enrol(*store, "bob", 2, {3});
        enrol(*store, "carol", 2, {4});
    }
    // A flipped byte, and a template moved to another finger: both fail the
    // checksum, which covers subject, finger and template.
    zpg::Template flipped = plainTemplate(2);
    flipped[60] ^= 1;
    sql(path, "UPDATE templates SET template = " + blob(flipped) + " WHERE subject = 'alice' AND slot = 1");
    sql(path, "UPDATE templates SET finger = 3 WHERE subject = 'bob'");
    auto store = zpg::openGallery(path, zpg::Access::Read);
    const zpg::Snapshot s = store->snapshot();
    EXPECT_EQ(s.templates.size(), 2U);
    ASSERT_EQ(s.damaged.size(), 2U);
    EXPECT_EQ(zpg::rowName(s.damaged[0].subject, s.damaged[0].finger, s.damaged[0].slot), "alice/right-index/1");
    EXPECT_EQ(zpg::rowName(s.damaged[1].subject, s.damaged[1].finger, s.damaged[1].slot), "bob/right-middle/0");
    EXPECT_EQ(s.damaged[0].reason, "checksum mismatch");
    EXPECT_FALSE(store->check().sound());

    // A row gone without the store knowing makes every full read fail.
    sql(path, "DELETE FROM templates WHERE subject = 'carol'");
    auto again = zpg::openGallery(path, zpg::Access::Read);
    EXPECT_NE(errorOf([&] { again->snapshot(); }).find("records 4 templates but 3 could be read"), std::string::npos);
    std::vector<zpg::DamagedRow> damaged;
    EXPECT_NE(errorOf([&] { again->rows(damaged); }).find("could be read"), std::string::npos);
    EXPECT_FALSE(again->check().sound());
}

// Writers and readers at once: WAL readers never block writers, every
// enrolment lands, and a backup taken meanwhile is a sound gallery.
TEST(Store, ConcurrentWritersReadersAndBackup) {
    zptest::TempDir dir;
    const std::string path = dir.file("g.db");
    constexpr int kWriters = 5;
    constexpr int kEach = 20;
    std::atomic<int> failures{0};
    std::atomic<bool> writing{true};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            try {
                auto store = zpg::openGallery(path, zpg::Access::Write);
                for (int i = 0; i < kEach; ++i) enrol(*store, "s" + std::to_string(w) + "-" + std::to_string(i), 1, {w, i});
            } catch (const zpg::Error& e) {
                ADD_FAILURE() << e.message;
                ++failures;
            }
        });
    }
    std::thread reader([&] {
        std::size_t last = 0;
        while (writing) {
            try {
                auto store = zpg::openGallery(path, zpg::Access::Read);
                const std::size_t n = store->snapshot().templates.size();
                EXPECT_GE(n, last);
                last = n;
            } catch (const zpg::Error& e) {
                // Only before the first writer has made the file a gallery.
                if (e.message.find("no such gallery") == std::string::npos &&
                    e.message.find("empty") == std::string::npos) {
                    ADD_FAILURE() << e.message;
                    ++failures;
                }
            }
        }
    });
    for (std::thread& t : threads) t.join();
    writing = false;
    reader.join();
    EXPECT_EQ(failures, 0);
    auto store = zpg::openGallery(path, zpg::Access::Read);
    EXPECT_EQ(store->snapshot().templates.size(), static_cast<std::size_t>(2 * kWriters * kEach));

    // A backup while another connection writes.
    std::thread writer([&] {
        auto w = zpg::openGallery(path, zpg::Access::Write);
        for (int i = 0; i < 30; ++i) enrol(*w, "late-" + std::to_string(i), 2, {i});
    });
    store->backup(dir.file("copy.db"));
    writer.join();
    auto copy = zpg::openGallery(dir.file("copy.db"), zpg::Access::Read);
    const zpg::CheckReport r = copy->check();
    EXPECT_TRUE(r.sound()) << (r.problems.empty() ? "" : r.problems[0]);
    EXPECT_GE(r.templates, static_cast<std::size_t>(2 * kWriters * kEach));
    EXPECT_NE(errorOf([&] { store->backup(dir.file("copy.db")); }).find("already exists"), std::string::npos);
}

}  // namespace
