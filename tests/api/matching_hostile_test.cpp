// Corrupt and hostile templates and workspaces through the four comparison
// exports. Every buffer is a separate heap block of its exact size, so the
// address sanitizer reports any read or write outside it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

#include "api/zpapi.h"
#include "match/synthetic_templates.h"

namespace {

using zptest::Template;

struct Buffers {
    std::unique_ptr<std::uint8_t[]> a{new std::uint8_t[ZP_TEMPLATE_SIZE]};
    std::unique_ptr<std::uint8_t[]> b{new std::uint8_t[ZP_TEMPLATE_SIZE]};
    std::unique_ptr<std::uint8_t[]> ws{new std::uint8_t[ZP_WORKSPACE_SIZE]};
    std::unique_ptr<std::uint8_t[]> array{new std::uint8_t[3 * ZP_TEMPLATE_SIZE]};
    std::unique_ptr<std::uint8_t[]> best{new std::uint8_t[ZP_TEMPLATE_SIZE]};
};

void runAll(Buffers& buf) {
    const std::int32_t m = ZPMatch(buf.a.get(), buf.b.get(), buf.ws.get(), 3);
    EXPECT_TRUE(m == 0 || m == 1);
    const std::int32_t loaded = ZPLoadFeature(buf.a.get(), buf.ws.get());
    EXPECT_TRUE(loaded == 0 || loaded == 1);
    const std::int32_t q = ZPQuickMatch(buf.b.get(), buf.ws.get());
    EXPECT_GE(q, 0);
    EXPECT_LE(q, 100);
    std::memcpy(buf.array.get(), buf.a.get(), ZP_TEMPLATE_SIZE);
    std::memcpy(buf.array.get() + ZP_TEMPLATE_SIZE, buf.b.get(), ZP_TEMPLATE_SIZE);
    std::memcpy(buf.array.get() + 2 * ZP_TEMPLATE_SIZE, buf.a.get(), ZP_TEMPLATE_SIZE);
    const std::int32_t merged = ZPFingerMerge(buf.array.get(), 3, buf.best.get(), buf.ws.get());
    EXPECT_TRUE(merged == 0 || merged == 1);
}

// Mutations that keep a template acceptable to the decoder as often as not:
// odd stored sizes, coordinates and directions up to 511, types up to 31.
void mutate(std::uint8_t* t, std::mt19937& rng) {
    std::uniform_int_distribution<std::int32_t> byte(0, 255);
    std::uniform_int_distribution<std::int32_t> pick(0, 9);
    switch (pick(rng)) {
    case 0: t[11] = static_cast<std::uint8_t>(byte(rng)); t[12] = static_cast<std::uint8_t>(byte(rng) & 1); break;
    case 1: t[13] = static_cast<std::uint8_t>(byte(rng)); t[14] = static_cast<std::uint8_t>(byte(rng) & 1); break;
    case 2: t[7] = static_cast<std::uint8_t>(byte(rng) % 52); break;
    case 3: t[15] = static_cast<std::uint8_t>(byte(rng) % 3); break;
    case 4: t[9] = 0; t[10] = 0; t[11] = static_cast<std::uint8_t>(1 + byte(rng) % 20); t[13] = static_cast<std::uint8_t>(1 + byte(rng) % 20); t[12] = t[14] = 0; break;
    default: {
        std::uniform_int_distribution<std::int32_t> at(56, 255);
        for (std::int32_t k = 0; k < 8; ++k) t[at(rng)] = static_cast<std::uint8_t>(byte(rng));
    }
    }
}

TEST(HostileComparisons, RandomAndMutatedTemplatesAndWorkspaces) {
    Buffers buf;
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<std::int32_t> byte(0, 255);
    std::uniform_int_distribution<std::int32_t> mode(0, 3);
    for (std::int32_t round = 0; round < 1500; ++round) {
        const std::int32_t m = mode(rng);
        if (m == 0) {
            for (std::int32_t k = 0; k < ZP_TEMPLATE_SIZE; ++k) {
                buf.a[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(byte(rng));
                buf.b[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(byte(rng));
            }
        } else {
            const auto base = zptest::plausibleMinutiae(static_cast<std::uint32_t>(round), 20 + round % 31);
            const Template t = zptest::makeTemplate(base);
            std::memcpy(buf.a.get(), t.data(), ZP_TEMPLATE_SIZE);
            std::memcpy(buf.b.get(), t.data(), ZP_TEMPLATE_SIZE);
            for (std::int32_t k = 0; k < m; ++k) {
                mutate(buf.a.get(), rng);
                mutate(buf.b.get(), rng);
            }
        }
        // Workspace: random bytes, or random words over the model area.
        if (round % 3 == 0) {
            for (std::int32_t k = 0; k < ZP_WORKSPACE_SIZE; ++k) buf.ws[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(byte(rng));
        } else if (round % 3 == 1) {
            for (std::int32_t k = 0; k < 832; ++k) buf.ws[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(byte(rng));
        }
        runAll(buf);
        // A quick match on a workspace whose model words were replaced.
        std::uniform_int_distribution<std::int32_t> word(0, 207);
        const std::int32_t value = static_cast<std::int32_t>(rng());
        std::memcpy(buf.ws.get() + 4 * word(rng), &value, 4);
        const std::int32_t q = ZPQuickMatch(buf.b.get(), buf.ws.get());
        EXPECT_GE(q, 0);
        EXPECT_LE(q, 100);
    }
}

TEST(HostileComparisons, ExtremeStoredSizes) {
    Buffers buf;
    const std::int32_t sizes[][2] = {{0, 0}, {1, 1}, {2, 3}, {65535, 65535}, {65535, 1}, {1, 65535},
                                     {128, 192}, {128, 193}, {24576, 1}, {511, 48}, {400, 61}};
    const auto base = zptest::plausibleMinutiae(77, 50);
    for (const auto& a : sizes) {
        for (const auto& b : sizes) {
            auto ha = zptest::extractedHeader();
            ha.width = a[0];
            ha.height = a[1];
            ha.quality = 0;
            auto hb = ha;
            hb.width = b[0];
            hb.height = b[1];
            const std::size_t na = static_cast<std::size_t>(zp::maxMinutiaeCount(a[0], a[1]));
            const std::size_t nb = static_cast<std::size_t>(zp::maxMinutiaeCount(b[0], b[1]));
            std::vector<zp::TemplateMinutia> ma(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(std::min(na, base.size())));
            std::vector<zp::TemplateMinutia> mb(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(std::min(nb, base.size())));
            // Far-out coordinates reach beyond the box map.
            for (auto& m : mb) {
                m.x = 511 - m.x;
                m.y = 511 - m.y;
            }
            const Template ta = zptest::makeTemplate(ma, ha);
            const Template tb = zptest::makeTemplate(mb, hb);
            std::memcpy(buf.a.get(), ta.data(), ZP_TEMPLATE_SIZE);
            std::memcpy(buf.b.get(), tb.data(), ZP_TEMPLATE_SIZE);
            std::memset(buf.ws.get(), 0, ZP_WORKSPACE_SIZE);
            runAll(buf);
            std::swap(buf.a, buf.b);
            runAll(buf);
        }
    }
}

}  // namespace
