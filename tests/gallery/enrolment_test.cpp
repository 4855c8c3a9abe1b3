// Enrolment keeps the best impression with those that confirm it, asking
// each impression in turn when the runner-up does not.
#include "gallery/enrolment.h"

#include <gtest/gtest.h>

#include "gallery/enrol.h"
#include "gallery_fixtures.h"
#include "support/real_images.h"

namespace {

using zpg::Fate;

// An impression with its quality byte set, so that the merge orders the
// impressions as the test needs (the score does not read it).
zpg::Impression withQuality(const std::string& label, zpg::Template t, int quality) {
    t[9] = static_cast<std::uint8_t>(quality);
    return {label, t, {}, {}};
}

const char* kSet = "fvc2002_db1_b";

TEST(Enrolment, FewerThanTwoTemplatesEnrolNothing) {
    const zpg::EnrolmentDecision none = zpg::decideEnrolment({}, 3);
    EXPECT_FALSE(none.enrolled);
    const zpg::EnrolmentDecision one =
        zpg::decideEnrolment({{"a", zptest::plainTemplate(1), {}, {}}, {"b", std::nullopt, "no finger", {}}}, 3);
    EXPECT_FALSE(one.enrolled);
    EXPECT_EQ(one.reason, "fewer than two usable impressions");
    ASSERT_EQ(one.outcomes.size(), 2U);
    EXPECT_EQ(one.outcomes[1].fate, Fate::NoTemplate);
    EXPECT_EQ(one.outcomes[1].why, "no finger");
}

TEST(Enrolment, BestMissingALimitIsNamed) {
    const zpg::EnrolmentDecision d = zpg::decideEnrolment(
        {withQuality("few", zptest::plainTemplate(1, 9), 90), withQuality("b", zptest::plainTemplate(2), 60)}, 3);
    EXPECT_FALSE(d.enrolled);
    EXPECT_NE(d.reason.find("fewer than 10 minutiae"), std::string::npos) << d.reason;
}

// The runner-up is another finger; the third impression confirms the best.
// The merge alone refuses this finger; asking the next impression enrols it.
TEST(Enrolment, NextImpressionConfirmsWhenTheRunnerUpDoesNot) {
    ZP_REQUIRE_DATA();
    const zpg::Template a1 = zptest::realTemplate(kSet, 101, 1);
    const zpg::Template a2 = zptest::realTemplate(kSet, 101, 2);
    const zpg::Template other = zptest::realTemplate(kSet, 104, 1);
    const std::vector<zpg::Impression> offered = {withQuality("third", a2, 60), withQuality("best", a1, 80),
                                                  withQuality("stranger", other, 70)};
    {
        std::vector<std::uint8_t> array;
        for (const auto& im : offered) array.insert(array.end(), im.templ->begin(), im.templ->end());
        zpg::Template best{};
        zpg::Workspace ws;
        ASSERT_EQ(ZPFingerMerge(array.data(), 3, best.data(), ws.data()), 0) << "fixture: the runner-up must not confirm";
    }
    const zpg::EnrolmentDecision d = zpg::decideEnrolment(offered, 3);
    ASSERT_TRUE(d.enrolled) << d.reason;
    ASSERT_EQ(d.outcomes.size(), 3U);  // in the order offered
    EXPECT_EQ(d.outcomes[0].fate, Fate::Kept);
    EXPECT_EQ(d.outcomes[0].slot, 1);
    EXPECT_GE(d.outcomes[0].score, 50);
    EXPECT_EQ(d.outcomes[1].fate, Fate::Best);
    EXPECT_EQ(d.outcomes[1].slot, 0);
    EXPECT_EQ(d.outcomes[2].fate, Fate::NotConfirming);
    EXPECT_LT(d.outcomes[2].score, 50);
    ASSERT_EQ(d.kept.size(), 2U);
    EXPECT_EQ(d.kept[0].label, "best");
    EXPECT_EQ(d.kept[1].label, "third");
}

TEST(Enrolment, KeepsTheBestKThatConfirm) {
    ZP_REQUIRE_DATA();
    std::vector<zpg::Impression> offered;
    for (int i = 1; i <= 4; ++i)
        offered.push_back(withQuality("i" + std::to_string(i), zptest::realTemplate(kSet, 102, i), 50 + 10 * i));
    const zpg::EnrolmentDecision d = zpg::decideEnrolment(offered, 2);
    ASSERT_TRUE(d.enrolled) << d.reason;
    ASSERT_EQ(d.kept.size(), 2U);
    EXPECT_EQ(d.kept[0].label, "i4");
    EXPECT_EQ(d.kept[1].label, "i3");
    int beyond = 0;
    for (const auto& o : d.outcomes) beyond += o.fate == Fate::BeyondKeep ? 1 : 0;
    EXPECT_EQ(beyond + d.kept.size(), 4U) << "every impression of this finger confirms the best";
}

TEST(Enrolment, KeptImpressionsBringTheirOtherWindowsUpToTheCap) {
    ZP_REQUIRE_DATA();
    std::vector<zpg::Impression> plain;
    std::vector<zpg::Impression> windowed;
    for (int i = 1; i <= 4; ++i) {
        plain.push_back(withQuality("i" + std::to_string(i), zptest::realTemplate(kSet, 102, i), 50 + 10 * i));
        windowed.push_back(plain.back());
        for (int w = 1; w <= 6; ++w) windowed.back().windows.push_back({w, zptest::plainTemplate(10 * i + w)});
    }
    const zpg::EnrolmentDecision without = zpg::decideEnrolment(plain, 3);
    const zpg::EnrolmentDecision d = zpg::decideEnrolment(windowed, 3);
    ASSERT_TRUE(d.enrolled) << d.reason;
    ASSERT_EQ(d.kept.size(), static_cast<std::size_t>(zpg::kMaxTemplatesPerFinger));
    // The centred windows decide as they do alone, and come first.
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(d.kept[k].templ, without.kept[k].templ);
        EXPECT_EQ(d.kept[k].window, 0);
    }
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(d.outcomes[i].fate, without.outcomes[i].fate);
    // Then a round of each kept impression's next window, in slot order.
    for (std::size_t k = 3; k < d.kept.size(); ++k) {
        EXPECT_EQ(d.kept[k].window, static_cast<int>((k - 3) / 3 + 1)) << k;
        EXPECT_EQ(d.kept[k].label, d.kept[k % 3].label) << k;
    }
    for (const zpg::ImpressionOutcome& o : d.outcomes)
        EXPECT_EQ(o.windows.size(), o.slot >= 0 ? 4U : 0U) << o.label;
}

TEST(Enrolment, NoConfirmingImpressionEnrolsNothing) {
    ZP_REQUIRE_DATA();
    const zpg::EnrolmentDecision d =
        zpg::decideEnrolment({withQuality("a", zptest::realTemplate(kSet, 101, 1), 80),
                              withQuality("b", zptest::realTemplate(kSet, 105, 1), 70),
                              withQuality("c", zptest::realTemplate(kSet, 106, 1), 60)},
                             3);
    EXPECT_FALSE(d.enrolled);
    EXPECT_NE(d.reason.find("no other impression confirms"), std::string::npos) << d.reason;
    EXPECT_TRUE(d.kept.empty());
}

// Two kept impressions that share a label: enrolling more with
// Existing::Add offers each stored window once, so no template is stored
// twice.
TEST(Enrolment, AddingToImpressionsThatShareALabelStoresNoTemplateTwice) {
    ZP_REQUIRE_DATA();
    zptest::TempDir dir;
    auto store = zpg::openGallery(dir.file("g.db"), zpg::Access::Write);
    std::vector<zpg::Impression> same;
    for (int i = 1; i <= 2; ++i) {
        same.push_back(withQuality("same", zptest::realTemplate(kSet, 102, i), 50 + 10 * i));
        for (int w = 1; w <= 2; ++w) same.back().windows.push_back({w, zptest::plainTemplate(10 * i + w)});
    }
    zpg::EnrolOptions options;
    ASSERT_TRUE(zpg::enrolFinger(*store, "a", 1, same, options).enrolled());
    options.existing = zpg::Existing::Add;
    const zpg::EnrolOutcome added =
        zpg::enrolFinger(*store, "a", 1, {withQuality("third", zptest::realTemplate(kSet, 102, 3), 40)}, options);
    ASSERT_TRUE(added.enrolled()) << added.reason();
    std::vector<zpg::DamagedRow> damaged;
    const std::vector<zpg::StoredTemplate> rows = store->templatesOf("a", 1, damaged);
    EXPECT_EQ(rows.size(), 7U) << "three impressions and the four windows of the first two";
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (std::size_t j = i + 1; j < rows.size(); ++j)
            EXPECT_FALSE(rows[i].templ == rows[j].templ) << "rows " << i << " and " << j << " hold one template";
}

}  // namespace
