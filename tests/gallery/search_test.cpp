// Fused search: fingers short-listed by their best quick score, re-scored
// against all their templates, subjects ranked by the sum over probes.
#include "gallery/search.h"

#include <gtest/gtest.h>

#include "gallery_fixtures.h"
#include "support/real_images.h"

namespace {

const char* kSet = "fvc2002_db1_b";

// A snapshot built by hand: fingers of (subject, position, templates).
struct HandFinger {
    std::string subject;
    int position;
    std::vector<zpg::Template> templates;
};
zpg::Snapshot snapshotOf(const std::vector<HandFinger>& fingers) {
    zpg::Snapshot s;
    for (const HandFinger& f : fingers) {
        const auto begin = static_cast<std::uint32_t>(s.templates.size());
        for (const zpg::Template& t : f.templates) {
            s.templates.push_back(t);
            s.fingerOf.push_back(static_cast<std::uint32_t>(s.fingers.size()));
        }
        s.fingers.push_back({f.subject, f.position, begin, static_cast<std::uint32_t>(s.templates.size())});
    }
    return s;
}

TEST(Search, QuickScoresOnManyThreadsEqualOne) {
    std::vector<zpg::Template> gallery;
    for (int i = 0; i < 5000; ++i) gallery.push_back(zptest::plainTemplate(i, 15 + i % 30));
    const zpg::Template probe = zptest::plainTemplate(7);
    const auto one = zpg::quickScores(probe, gallery, 1);
    EXPECT_EQ(zpg::quickScores(probe, gallery, 3), one);
    zpg::Workspace ws;
    ASSERT_EQ(ZPLoadFeature(probe.data(), ws.data()), 1);
    for (std::size_t i = 0; i < gallery.size(); i += 499)
        EXPECT_EQ(one[i], ZPQuickMatch(gallery[i].data(), ws.data())) << i;
    zpg::Template zero{};
    EXPECT_THROW(zpg::quickScores(zero, gallery, 1), zpg::Error);
}

TEST(Search, BestTemplateOfTheFingerDecidesAndProbesAddUp) {
    ZP_REQUIRE_DATA();
    auto t = [](int finger, int impression) { return zptest::realTemplate(kSet, finger, impression); };
    const zpg::Snapshot gallery = snapshotOf({
        {"alice", 2, {t(103, 1), t(101, 1), t(101, 2)}},  // a stranger's template first
        {"alice", 3, {t(102, 1), t(102, 2)}},
        {"bob", 2, {t(104, 1), t(104, 2)}},
        {"bob", 3, {t(105, 1)}},
        {"carol", 0, {t(106, 1)}},
    });
    zpg::SearchOptions options;
    options.top = 3;
    const zpg::SearchResult one = zpg::identify(gallery, {{t(101, 3), zpg::kUnknownFinger, "p"}}, options);
    ASSERT_FALSE(one.candidates.empty());
    EXPECT_EQ(one.candidates[0].subject, "alice");
    EXPECT_TRUE(one.candidates[0].match);
    EXPECT_EQ(one.candidates[0].probes[0].finger, 2);
    EXPECT_GE(one.candidates[0].probes[0].slot, 1);
    EXPECT_EQ(one.shortList, zpg::kDefaultShortList);

    // A probe of a known finger meets that finger (and unknown ones) only.
    const zpg::SearchResult index = zpg::identify(gallery, {{t(102, 3), 2, "p"}}, options);
    for (const auto& c : index.candidates) EXPECT_NE(c.probes[0].finger, 3) << c.subject;

    // Two fingers of one person: the subject's total is the sum.
    const zpg::SearchResult two = zpg::identify(gallery, {{t(101, 4), 2, "a"}, {t(102, 4), 3, "b"}}, options);
    ASSERT_FALSE(two.candidates.empty());
    const zpg::SubjectCandidate& top = two.candidates[0];
    EXPECT_EQ(top.subject, "alice");
    EXPECT_EQ(top.total, top.probes[0].score + top.probes[1].score);
    EXPECT_EQ(top.probes[1].finger, 3);

    // The short list counts fingers: with one, one subject is re-scored.
    options.shortList = 1;
    const zpg::SearchResult narrow = zpg::identify(gallery, {{t(101, 3), zpg::kUnknownFinger, "p"}}, options);
    ASSERT_EQ(narrow.candidates.size(), 1U);
}

// Quick-matching while the gallery is read gives the search of the read
// gallery, whatever the count (here not a multiple of any chunk).
TEST(Search, WhileReadingEqualsAfterReading) {
    zptest::TempDir dir;
    auto store = zpg::openGallery(dir.file("g.db"), zpg::Access::Write);
    std::vector<zpg::StoredTemplate> rows;
    for (int i = 0; i < 9173; ++i) {
        zpg::StoredTemplate r;
        r.subject = "s" + std::to_string(i / 3);
        r.finger = i % 3 + 1;
        r.templ = zptest::plainTemplate(i, 12 + i % 37);
        rows.push_back(r);
    }
    store->add(rows);
    const std::vector<zpg::Probe> probes = {{zptest::plainTemplate(4000, 12 + 4000 % 37), zpg::kUnknownFinger, "a"},
                                            {zptest::plainTemplate(77, 12 + 77 % 37), 3, "b"}};
    for (unsigned threads : {1U, 2U, 3U}) {
        zpg::SearchOptions options;
        options.top = 20;
        options.threads = threads;
        zpg::Snapshot read;
        const zpg::SearchResult streamed = zpg::identify(*store, probes, options, read);
        const zpg::SearchResult after = zpg::identify(store->snapshot(), probes, options);
        ASSERT_EQ(read.templates.size(), rows.size());
        ASSERT_EQ(streamed.candidates.size(), after.candidates.size());
        for (std::size_t i = 0; i < after.candidates.size(); ++i) {
            EXPECT_EQ(streamed.candidates[i].subject, after.candidates[i].subject) << threads << " " << i;
            EXPECT_EQ(streamed.candidates[i].total, after.candidates[i].total) << threads << " " << i;
            for (std::size_t p = 0; p < probes.size(); ++p)
                EXPECT_EQ(streamed.candidates[i].probes[p].quick, after.candidates[i].probes[p].quick);
        }
    }
}

TEST(Search, VerifyTakesTheBestOfTheFingersTemplates) {
    ZP_REQUIRE_DATA();
    std::vector<zpg::StoredTemplate> enrolled(3);
    enrolled[0].templ = zptest::realTemplate(kSet, 107, 1);
    enrolled[1].templ = zptest::realTemplate(kSet, 101, 1);
    enrolled[1].slot = 1;
    enrolled[2].templ = zptest::realTemplate(kSet, 108, 1);
    enrolled[2].slot = 2;
    const zpg::Template probe = zptest::realTemplate(kSet, 101, 2);
    const zpg::VerifyResult r = zpg::verify(probe, enrolled, 3);
    zpg::Workspace ws;
    EXPECT_EQ(r.slot, 1);
    EXPECT_EQ(r.score, zpg::matchScore(probe, enrolled[1].templ, ws));
    EXPECT_EQ(r.match, ZPMatch(probe.data(), enrolled[1].templ.data(), ws.data(), 3) == 1);
    EXPECT_EQ(r.compared, 3U);
}

// Over a capture's windows: the window verified alone with the best score
// (the first on ties), decision included.
TEST(Search, VerifyOverWindowsAnswersAsItsBestWindowAlone) {
    ZP_REQUIRE_DATA();
    std::vector<zpg::StoredTemplate> enrolled(2);
    enrolled[0].templ = zptest::realTemplate(kSet, 101, 1);
    enrolled[1].templ = zptest::realTemplate(kSet, 108, 1);
    enrolled[1].slot = 1;
    const zpg::Template stranger = zptest::realTemplate(kSet, 105, 2);
    const std::vector<zpg::Template> windows = {stranger, zptest::realTemplate(kSet, 108, 2),
                                                zptest::realTemplate(kSet, 101, 2), stranger};
    zpg::VerifyResult expected;
    for (std::size_t w = 0; w < windows.size(); ++w) {
        zpg::VerifyResult alone = zpg::verify(windows[w], enrolled, 3);
        alone.probe = w;
        if (w == 0 || alone.score > expected.score) expected = alone;
    }
    const zpg::VerifyResult r = zpg::verify(windows, enrolled, 3);
    EXPECT_EQ(r.probe, expected.probe);
    EXPECT_EQ(r.score, expected.score);
    EXPECT_EQ(r.slot, expected.slot);
    EXPECT_EQ(r.match, expected.match);
    EXPECT_EQ(r.compared, 2U);
    EXPECT_TRUE(r.match) << "fixture: a window of the enrolled finger decides";
}

}  // namespace
