#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "synth/det_math.h"
#include "synth/synth.h"
#include "synth_fixture.h"

namespace {

using zp::synth::MasterFingerprint;
using zp::synth::MinutiaType;
using zp::synth::PatternClass;
using zp::synth::SingularKind;
using zp::synth::SingularPoint;
namespace det = zp::synth::det;

constexpr std::uint64_t kSeed = 0x5EEDF00D;

float orientationAt(const MasterFingerprint& m, double x, double y) {
    const int xi = static_cast<int>(std::lround(x)), yi = static_cast<int>(std::lround(y));
    return m.orientation[static_cast<std::size_t>(yi) * m.width + xi];
}

// Turns of the ridge direction along a circle round (x, y): +0.5 round a
// core, -0.5 round a delta, 0 elsewhere.
double poincareIndex(const MasterFingerprint& m, double x, double y, double radius) {
    constexpr int kSteps = 48;
    double total = 0.0;
    double previous = orientationAt(m, x + radius, y);
    for (int k = 1; k <= kSteps; ++k) {
        const double a = 2.0 * M_PI * k / kSteps;
        const double current = orientationAt(m, x + radius * std::cos(a), y + radius * std::sin(a));
        double d = current - previous;
        while (d >= M_PI / 2) d -= M_PI;
        while (d < -M_PI / 2) d += M_PI;
        total += d;
        previous = current;
    }
    return total / (2.0 * M_PI);
}

bool insideFinger(const MasterFingerprint& m, double x, double y) {
    const int xi = static_cast<int>(std::lround(x)), yi = static_cast<int>(std::lround(y));
    return xi >= 0 && yi >= 0 && xi < m.width && yi < m.height && m.silhouette[static_cast<std::size_t>(yi) * m.width + xi];
}

bool ridgeAt(const MasterFingerprint& m, double x, double y) {
    const int xi = static_cast<int>(std::lround(x)), yi = static_cast<int>(std::lround(y));
    return m.binary[static_cast<std::size_t>(yi) * m.width + xi] != 0;
}

bool circleInside(const MasterFingerprint& m, double x, double y, double r) {
    for (int k = 0; k < 16; ++k)
        if (!insideFinger(m, x + r * std::cos(k * M_PI / 8), y + r * std::sin(k * M_PI / 8))) return false;
    return true;
}

std::vector<SingularPoint> ofKind(const MasterFingerprint& m, SingularKind kind) {
    std::vector<SingularPoint> out;
    for (const SingularPoint& p : m.singularPoints)
        if (p.kind == kind) out.push_back(p);
    return out;
}

}  // namespace

TEST(SynthMaster, SameSeedGivesSameMaster) {
    const MasterFingerprint a = zp::synth::makeMaster(77);
    const MasterFingerprint b = zp::synth::makeMaster(77);
    EXPECT_EQ(a.patternClass, b.patternClass);
    EXPECT_EQ(a.ridge, b.ridge);
    EXPECT_EQ(a.binary, b.binary);
    ASSERT_EQ(a.minutiae.size(), b.minutiae.size());
    for (std::size_t i = 0; i < a.minutiae.size(); ++i) {
        EXPECT_EQ(a.minutiae[i].x, b.minutiae[i].x);
        EXPECT_EQ(a.minutiae[i].direction, b.minutiae[i].direction);
    }
    EXPECT_NE(zp::synth::renderMaster(a), zp::synth::renderMaster(zp::synth::makeMaster(78, a.patternClass)));
}

TEST(SynthMaster, ClassesFollowRealFrequencies) {
    int counts[5] = {};
    for (std::uint64_t s = 0; s < 2000; ++s) ++counts[static_cast<int>(zp::synth::patternClassForSeed(s))];
    EXPECT_LT(counts[0], 140);   // arch, about 4 %
    EXPECT_LT(counts[1], 120);   // tented arch, about 3 %
    for (int c : {2, 3, 4}) EXPECT_GT(counts[c], 450);  // loops and whorls, about 30 % each
}

TEST(SynthMaster, SingularPointsLieWhereTheClassPutsThem) {
    const struct {
        PatternClass pc;
        std::size_t cores, deltas;
    } cases[] = {{PatternClass::TentedArch, 1, 1}, {PatternClass::LeftLoop, 1, 1}, {PatternClass::RightLoop, 1, 1},
                 {PatternClass::Whorl, 2, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(zp::synth::patternClassName(c.pc)));
        const MasterFingerprint& m = synthtest::master(kSeed, c.pc);
        const std::vector<SingularPoint> cores = ofKind(m, SingularKind::Core), deltas = ofKind(m, SingularKind::Delta);
        ASSERT_EQ(cores.size(), c.cores);
        ASSERT_EQ(deltas.size(), c.deltas);
        // The orientation field turns as the point's kind says.
        if (c.pc != PatternClass::Whorl) {
            EXPECT_NEAR(poincareIndex(m, cores[0].x, cores[0].y, 8.0), 0.5, 1e-6);
        } else {
            const double x = 0.5 * (cores[0].x + cores[1].x), y = 0.5 * (cores[0].y + cores[1].y);
            EXPECT_NEAR(poincareIndex(m, x, y, 40.0), 1.0, 1e-6);  // the pair together makes a whorl
        }
        for (const SingularPoint& d : deltas)
            if (circleInside(m, d.x, d.y, 8.0)) {
                EXPECT_NEAR(poincareIndex(m, d.x, d.y, 8.0), -0.5, 1e-6);
            }
        for (const SingularPoint& d : deltas) EXPECT_GT(d.y, cores[0].y);  // deltas below the core
        switch (c.pc) {
            case PatternClass::TentedArch: EXPECT_LT(std::fabs(deltas[0].x - cores[0].x), 10.0); break;
            case PatternClass::LeftLoop: EXPECT_GT(deltas[0].x, cores[0].x + 40.0); break;
            case PatternClass::RightLoop: EXPECT_LT(deltas[0].x, cores[0].x - 40.0); break;
            default:
                EXPECT_LT(std::min(deltas[0].x, deltas[1].x), std::min(cores[0].x, cores[1].x) - 60.0);
                EXPECT_GT(std::max(deltas[0].x, deltas[1].x), std::max(cores[0].x, cores[1].x) + 60.0);
        }
    }
}

TEST(SynthMaster, ArchHasNoSingularPoint) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::Arch);
    EXPECT_TRUE(m.singularPoints.empty());
    int probes = 0;
    for (int y = 30; y < m.height - 30; y += 24)
        for (int x = 30; x < m.width - 30; x += 24) {
            if (!insideFinger(m, x - 12, y) || !insideFinger(m, x + 12, y) || !insideFinger(m, x, y - 12) ||
                !insideFinger(m, x, y + 12))
                continue;
            ++probes;
            EXPECT_NEAR(poincareIndex(m, x, y, 10.0), 0.0, 1e-6) << x << "," << y;
        }
    EXPECT_GT(probes, 80);
}

TEST(SynthMaster, RidgePeriodIsAboutNinePixels) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::LeftLoop);
    for (std::size_t i = 0; i < m.period.size(); ++i)
        if (m.silhouette[i]) {
            ASSERT_TRUE(m.period[i] >= 8.0f && m.period[i] <= 11.0f);
        }
    // Count ridge-valley changes along lines across the ridges.
    det::Random random(5);
    std::vector<double> periods;
    constexpr double kHalf = 22.0;
    while (periods.size() < 150) {
        const double x = random.uniform(0, m.width), y = random.uniform(0, m.height);
        if (!insideFinger(m, x, y)) continue;
        const double theta = orientationAt(m, x, y);
        const double nx = -std::sin(theta), ny = std::cos(theta);
        if (!insideFinger(m, x - kHalf * nx, y - kHalf * ny) || !insideFinger(m, x + kHalf * nx, y + kHalf * ny)) continue;
        int changes = 0;
        bool previous = ridgeAt(m, x - kHalf * nx, y - kHalf * ny);
        for (double t = -kHalf + 0.5; t <= kHalf; t += 0.5) {
            const bool now = ridgeAt(m, x + t * nx, y + t * ny);
            changes += now != previous;
            previous = now;
        }
        if (changes > 0) periods.push_back(4.0 * kHalf / changes);
    }
    std::sort(periods.begin(), periods.end());
    const double median = periods[periods.size() / 2];
    EXPECT_GT(median, 8.0);
    EXPECT_LT(median, 11.0);
}

TEST(SynthMaster, GroundTruthLiesOnRidgeEndsAndForks) {
    for (PatternClass pc : {PatternClass::Arch, PatternClass::LeftLoop, PatternClass::Whorl}) {
        SCOPED_TRACE(std::string(zp::synth::patternClassName(pc)));
        const MasterFingerprint& m = synthtest::master(kSeed, pc);
        EXPECT_GE(m.minutiae.size(), 25u);
        EXPECT_LE(m.minutiae.size(), 120u);
        int intoRidge = 0, endings = 0, stemBehind = 0, forks = 0;
        for (const auto& mi : m.minutiae) {
            const int x = static_cast<int>(mi.x), y = static_cast<int>(mi.y);
            ASSERT_EQ(mi.x, x);
            ASSERT_TRUE(m.skeleton[static_cast<std::size_t>(y) * m.width + x]);
            ASSERT_TRUE(m.binary[static_cast<std::size_t>(y) * m.width + x]);
            const int cn = synthtest::crossingNumberAt(m.skeleton, m.width, m.height, x, y);
            EXPECT_EQ(cn, mi.type == MinutiaType::Ending ? 1 : 3);
            // Clear of the finger's edge.
            for (int d = -10; d <= 10; d += 5)
                for (int e = -10; e <= 10; e += 5) EXPECT_TRUE(insideFinger(m, x + d, y + e));
            EXPECT_GE(mi.direction, 0.0);
            EXPECT_LT(mi.direction, 360.0);
            const double dx = std::cos(mi.direction * M_PI / 180.0), dy = std::sin(mi.direction * M_PI / 180.0);
            if (mi.type == MinutiaType::Ending) {
                ++endings;
                intoRidge += ridgeAt(m, x + 4 * dx, y + 4 * dy) && !ridgeAt(m, x - 3 * dx, y - 3 * dy);
            } else {
                ++forks;
                stemBehind += ridgeAt(m, x - 4 * dx, y - 4 * dy) && !ridgeAt(m, x + 8 * dx, y + 8 * dy);
            }
        }
        EXPECT_GT(endings, 5);
        EXPECT_GT(forks, 5);
        // An ending points into its ridge, with open valley behind it; a fork
        // points away from its stem into the valley between its branches.
        EXPECT_GE(intoRidge, endings * 85 / 100);
        EXPECT_GE(stemBehind, forks * 80 / 100);
    }
}

TEST(SynthMaster, RenderedMasterHasDarkRidgesOnWhite) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::RightLoop);
    const std::vector<std::uint8_t> grey = zp::synth::renderMaster(m);
    ASSERT_EQ(grey.size(), static_cast<std::size_t>(m.width) * m.height);
    EXPECT_EQ(grey[0], 255);
    for (std::size_t i = 0; i < grey.size(); ++i) {
        if (!m.silhouette[i]) continue;
        if (m.binary[i]) ASSERT_LE(grey[i], 132);
        else ASSERT_GE(grey[i], 132);
    }
}

TEST(SynthMaster, FingersOfOneClassDiffer) {
    // Real fingers of one class differ in where their singular points lie and
    // how dense their ridges are.
    double coreLeft = 1e9, coreRight = -1e9, coreTop = 1e9, coreBottom = -1e9, periodLow = 1e9, periodHigh = 0;
    for (std::uint64_t s = 0; s < 6; ++s) {
        const MasterFingerprint& m = synthtest::master(kSeed + 100 + s, PatternClass::LeftLoop);
        const SingularPoint core = ofKind(m, SingularKind::Core).at(0);
        coreLeft = std::min(coreLeft, core.x);
        coreRight = std::max(coreRight, core.x);
        coreTop = std::min(coreTop, core.y);
        coreBottom = std::max(coreBottom, core.y);
        double sum = 0.0;
        int count = 0;
        for (std::size_t i = 0; i < m.period.size(); ++i)
            if (m.silhouette[i]) sum += m.period[i], ++count;
        periodLow = std::min(periodLow, sum / count);
        periodHigh = std::max(periodHigh, sum / count);
    }
    EXPECT_GT(coreRight - coreLeft, 15.0);
    EXPECT_GT(coreBottom - coreTop, 15.0);
    EXPECT_GT(periodHigh - periodLow, 0.4);
}
