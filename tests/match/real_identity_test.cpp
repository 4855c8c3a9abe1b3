// Whole comparisons of real templates on every vector path against the
// straightforward reference of reference_match.h: scores and workspace
// bytes of matches, loads and quick matches.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "api/zpapi.h"
#include "match/match_driver.h"
#include "match/quick_match.h"
#include "match/reference_match.h"
#include "match/template_loading.h"
#include "support/vector_paths.h"

namespace {

using Template = std::array<std::uint8_t, ZP_TEMPLATE_SIZE>;

// Four impressions of five fingers of one set: genuine pairs and impostors.
std::vector<Template> realTemplates() {
    std::vector<Template> out;
    for (int finger = 101; finger <= 105; ++finger) {
        for (int impression = 1; impression <= 4; ++impression) {
            std::vector<std::uint8_t> image = zptest::loadSensorImage("fvc2002_db1_b", finger, impression);
            if (image.empty()) continue;
            Template t{};
            if (ZPFingerExtract(image.data(), t.data(), 0, 0) == ZP_EXTRACT_OK) out.push_back(t);
        }
    }
    return out;
}

zp::BufferDescriptor templateOf(const Template& t) { return {const_cast<std::uint8_t*>(t.data()), ZP_TEMPLATE_SIZE}; }

TEST(RealIdentity, MatchesOnEveryPath) {
    ZP_REQUIRE_DATA();
    const std::vector<Template> templates = realTemplates();
    ASSERT_GE(templates.size(), 16U);
    const std::vector<zp::VectorPath> paths = zptest::availableVectorPaths();
    std::vector<std::uint8_t> wsRef(zp::kWorkspaceSize, 0x5A);
    std::vector<std::vector<std::uint8_t>> wsPath(paths.size(), wsRef);
    const zp::BufferDescriptor ref{wsRef.data(), zp::kWorkspaceSize};
    std::int32_t positive = 0;
    for (std::size_t i = 0; i < templates.size(); ++i) {
        for (std::size_t j = 0; j < templates.size(); ++j) {
            const std::int32_t expected = zpref::match(templates[i].data(), templates[j].data(), ref);
            for (std::size_t q = 0; q < paths.size(); ++q) {
                const zp::BufferDescriptor ws{wsPath[q].data(), zp::kWorkspaceSize};
                ASSERT_EQ(zp::matchTemplates(templateOf(templates[i]), templateOf(templates[j]), ws, paths[q]), expected)
                    << zptest::vectorPathName(paths[q]) << " " << i << " " << j;
                ASSERT_TRUE(wsPath[q] == wsRef) << zptest::vectorPathName(paths[q]) << " " << i << " " << j;
            }
            positive += expected >= 30 ? 1 : 0;
        }
    }
    EXPECT_GT(positive, static_cast<std::int32_t>(templates.size()));
}

TEST(RealIdentity, QuickMatchesOnEveryPath) {
    ZP_REQUIRE_DATA();
    const std::vector<Template> templates = realTemplates();
    ASSERT_GE(templates.size(), 16U);
    std::vector<std::uint8_t> wsRef(zp::kWorkspaceSize, 0xA5);
    std::vector<std::uint8_t> wsFast = wsRef;
    const zp::BufferDescriptor ref{wsRef.data(), zp::kWorkspaceSize};
    const zp::BufferDescriptor fast{wsFast.data(), zp::kWorkspaceSize};
    std::int32_t positive = 0;
    for (const Template& enrolled : templates) {
        ASSERT_EQ(zp::loadTemplate(templateOf(enrolled), fast), zpref::load(enrolled.data(), ref));
        for (const Template& probe : templates) {
            const std::int32_t expected = zpref::quickMatch(probe.data(), ref);
            for (const zp::VectorPath path : zptest::availableVectorPaths()) {
                ASSERT_EQ(zp::quickMatch(templateOf(probe), fast, path), expected) << zptest::vectorPathName(path);
                ASSERT_TRUE(wsFast == wsRef) << zptest::vectorPathName(path);
            }
            positive += expected > 0 ? 1 : 0;
        }
    }
    EXPECT_GT(positive, 100);
}

}  // namespace
