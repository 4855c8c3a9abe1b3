// The flat snapshot cache: a round trip gives back the snapshot exactly, and
// a cache that is stale, cut short or altered is never used.
#include <gtest/gtest.h>
#include <xxhash.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "gallery/snapshot_cache.h"
#include "gallery/store.h"
#include "gallery_fixtures.h"

namespace {

using zptest::plainTemplate;

zpg::Snapshot sampleSnapshot() {
    zpg::Snapshot s;
    s.fingers = {{"alice", 2, 0, 3}, {"bob", 0, 3, 4}, {"carol", 7, 4, 6}};
    for (int i = 0; i < 6; ++i) s.templates.push_back(plainTemplate(i, 20 + i));
    s.fingerOf = {0, 0, 0, 1, 2, 2};
    s.damaged = {{"dave", 1, 0, "checksum mismatch"}};
    return s;
}

void expectSameFingers(const zpg::Snapshot& a, const zpg::Snapshot& b) {
    ASSERT_EQ(a.fingers.size(), b.fingers.size());
    for (std::size_t i = 0; i < a.fingers.size(); ++i) {
        ASSERT_EQ(a.fingers[i].subject, b.fingers[i].subject);
        ASSERT_EQ(a.fingers[i].position, b.fingers[i].position);
        ASSERT_EQ(a.fingers[i].end, b.fingers[i].end);
    }
    EXPECT_EQ(a.templates, b.templates);
    EXPECT_EQ(a.fingerOf, b.fingerOf);
}

void expectSame(const zpg::Snapshot& a, const zpg::Snapshot& b) {
    expectSameFingers(a, b);
    for (std::size_t i = 0; i < a.fingers.size(); ++i) EXPECT_EQ(a.fingers[i].begin, b.fingers[i].begin);
    ASSERT_EQ(a.damaged.size(), b.damaged.size());
    EXPECT_EQ(a.damaged[0].subject, b.damaged[0].subject);
    EXPECT_EQ(a.damaged[0].reason, b.damaged[0].reason);
    EXPECT_EQ(a.damaged[0].finger, b.damaged[0].finger);
}

TEST(SnapshotCache, RoundTripGivesTheSnapshotBack) {
    zptest::TempDir dir;
    const std::string path = zpg::snapshotCachePath(dir.file("g.db"));
    const zpg::Snapshot s = sampleSnapshot();
    const zpg::CacheStamp stamp{1234, 7};
    zpg::saveSnapshotCache(path, stamp, s);
    zpg::Snapshot back;
    ASSERT_TRUE(zpg::loadSnapshotCache(path, stamp, back));
    expectSame(s, back);
    // Nothing but the cache is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("")), {}), 1);
}

TEST(SnapshotCache, StaleCutOrAlteredCachesAreNotUsed) {
    zptest::TempDir dir;
    const std::string path = zpg::snapshotCachePath(dir.file("g.db"));
    const zpg::CacheStamp stamp{99, 7};
    zpg::saveSnapshotCache(path, stamp, sampleSnapshot());
    const auto size = std::filesystem::file_size(path);
    zpg::Snapshot out;
    EXPECT_FALSE(zpg::loadSnapshotCache(path, zpg::CacheStamp{100, 7}, out)) << "another write token";
    EXPECT_FALSE(zpg::loadSnapshotCache(path, zpg::CacheStamp{99, 8}, out)) << "another row count";
    EXPECT_FALSE(zpg::loadSnapshotCache(dir.file("missing"), stamp, out));
    EXPECT_TRUE(out.templates.empty() && out.fingers.empty());

    struct Damage {
        const char* what;
        std::uintmax_t at;  // byte flipped, or the length cut to
        bool cut;
    };
    const Damage damages[] = {
        {"a template byte flipped", 64 + 300, false},
        {"a subject byte flipped", size - 30, false},
        {"the last byte cut", size - 1, true},
        {"cut inside the templates", 64 + 256 * 3, true},
        {"cut inside the header", 20, true},
    };
    for (const Damage& d : damages) {
        zpg::saveSnapshotCache(path, stamp, sampleSnapshot());
        if (d.cut) {
            std::filesystem::resize_file(path, d.at);
        } else {
            std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
            f.seekg(static_cast<std::streamoff>(d.at));
            char c = 0;
            f.read(&c, 1);
            c = static_cast<char>(c ^ 0x10);
            f.seekp(static_cast<std::streamoff>(d.at));
            f.write(&c, 1);
        }
        EXPECT_FALSE(zpg::loadSnapshotCache(path, stamp, out)) << d.what;
        EXPECT_TRUE(out.templates.empty()) << d.what;
    }
}

// A header whose counts wrap around to the row count, with a hash to match:
// refused like any other bad cache, not sized from.
TEST(SnapshotCache, CountsThatWrapAroundAreRefused) {
    zptest::TempDir dir;
    const std::string path = zpg::snapshotCachePath(dir.file("g.db"));
    const zpg::CacheStamp stamp{5, 0};
    const zpg::Template t = plainTemplate(1);
    const std::int32_t finger[4] = {1, 0, 1, 0};  // position, begin, end, subject bytes
    std::string body(reinterpret_cast<const char*>(t.data()), t.size());
    body.append(reinterpret_cast<const char*>(finger), sizeof finger);
    // magic, token, rows, fingers, templates, damaged rows (1 + these wrap
    // around to 0), tail bytes, hash
    std::uint64_t header[8] = {0, static_cast<std::uint64_t>(stamp.token), 0, 1, 1, ~std::uint64_t{0},
                               sizeof finger, XXH3_64bits(body.data(), body.size())};
    std::memcpy(header, "ZPGSNAP1", 8);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    out.write(body.data(), static_cast<std::streamsize>(body.size()));
    out.close();
    zpg::Snapshot into;
    EXPECT_FALSE(zpg::loadSnapshotCache(path, stamp, into));
    EXPECT_TRUE(into.templates.empty());
}

// A gallery large enough to be cached: the first full read writes the cache,
// the next ones read it and answer the same; any write makes it stale.
TEST(SnapshotCache, LargeGalleryKeepsItsCacheInStepWithItsRows) {
    zptest::TempDir dir;
    const std::string path = dir.file("large.db");
    const std::string cache = zpg::snapshotCachePath(path);
    {
        auto store = zpg::openGallery(path, zpg::Access::Write);
        std::vector<zpg::StoredTemplate> rows(static_cast<std::size_t>(zpg::kCachedGalleryRows));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            rows[i].subject = "s" + std::to_string(i / 2);
            rows[i].finger = static_cast<int>(i % 2) + 1;
            rows[i].templ = plainTemplate(static_cast<int>(i % 97));
        }
        store->add(rows);
    }
    const auto expected = zpg::openGallery(path, zpg::Access::Read)->snapshot();
    ASSERT_EQ(expected.templates.size(), static_cast<std::size_t>(zpg::kCachedGalleryRows));
    ASSERT_TRUE(std::filesystem::exists(cache));
    const auto built = std::filesystem::last_write_time(cache);
    expectSameFingers(expected, zpg::openGallery(path, zpg::Access::Read)->snapshot());
    EXPECT_EQ(std::filesystem::last_write_time(cache), built) << "a fresh cache is read, not rebuilt";

    auto store = zpg::openGallery(path, zpg::Access::Write);
    store->enrol("s0", 5, zpg::Existing::Refuse, [](const std::vector<zpg::StoredTemplate>&) {
        return std::vector<zpg::NewTemplate>{{plainTemplate(500), "late"}};
    });
    const auto after = zpg::openGallery(path, zpg::Access::Read)->snapshot();
    EXPECT_EQ(after.templates.size(), expected.templates.size() + 1) << "a write makes the cache stale";
    EXPECT_EQ(after.fingers[0].subject, "s0");
    EXPECT_EQ(after.fingers[2].position, 5);
    expectSameFingers(after, zpg::openGallery(path, zpg::Access::Read)->snapshot());

    // A read inside an enrolment sees the rows but leaves no cache: the
    // enrolment's commit would make it stale at once.
    std::filesystem::remove(cache);
    store->enrol("s1", 6, zpg::Existing::Refuse, [&](const std::vector<zpg::StoredTemplate>&) {
        EXPECT_EQ(store->snapshot().templates.size(), after.templates.size());
        return std::vector<zpg::NewTemplate>{{plainTemplate(501), "later"}};
    });
    EXPECT_FALSE(std::filesystem::exists(cache)) << "no cache is written under the write lock";
}

}  // namespace
