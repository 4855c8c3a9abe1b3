#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "synth/det_math.h"
#include "synth/synth.h"
#include "synth_fixture.h"

namespace {

using zp::synth::Impression;
using zp::synth::ImpressionParameters;
using zp::synth::MasterFingerprint;
using zp::synth::Minutia;
using zp::synth::PatternClass;

constexpr std::uint64_t kSeed = 0x5EEDF00D;

// A plain capture: the master moved to the image centre, nothing else.
ImpressionParameters plainParameters(const MasterFingerprint& m) {
    ImpressionParameters p;
    p.contactX = m.width / 2.0;
    p.contactY = 200.0;
    p.noise = 0.0;
    p.blurPasses = 0;
    p.pressure = 0.0;
    return p;
}

bool masterRidge(const MasterFingerprint& m, double x, double y) {
    const int xi = static_cast<int>(std::lround(x)), yi = static_cast<int>(std::lround(y));
    if (xi < 0 || yi < 0 || xi >= m.width || yi >= m.height) return false;
    return m.binary[static_cast<std::size_t>(yi) * m.width + xi] != 0;
}

}  // namespace

TEST(SynthImpression, GoldenBytes) {
    // One impression of finger 101 of set 1, as `zpapi synth --seed 1` writes it.
    // These values are part of the generator's contract: a change means every
    // generated set changes.
    const std::uint64_t finger = zp::synth::fingerSeed(1, 101);
    const MasterFingerprint m = zp::synth::makeMaster(finger);
    const Impression imp = zp::synth::makeImpression(m, zp::synth::impressionSeed(finger, 1));
    EXPECT_EQ(zp::synth::hashBytes(imp.pixels), 0x5D154691B5179997ULL);
    EXPECT_EQ(zp::synth::hashBytes(zp::synth::renderMaster(m)), 0x715A98F4BE5481D2ULL);
    EXPECT_EQ(m.minutiae.size(), 39u);
    EXPECT_EQ(imp.minutiae.size(), 25u);
}

TEST(SynthImpression, SameSeedGivesSameBytes) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::LeftLoop);
    const Impression a = zp::synth::makeImpression(m, 9), b = zp::synth::makeImpression(m, 9), c = zp::synth::makeImpression(m, 10);
    EXPECT_EQ(a.pixels, b.pixels);
    EXPECT_EQ(a.minutiae.size(), b.minutiae.size());
    EXPECT_NE(a.pixels, c.pixels);
    EXPECT_NE(zp::synth::impressionSeed(1, 1), zp::synth::impressionSeed(1, 2));
    EXPECT_NE(zp::synth::fingerSeed(1, 101), zp::synth::fingerSeed(2, 101));
}

TEST(SynthImpression, ParametersStayInRealisticRanges) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::Whorl);
    double largestTurn = 0.0;
    int dry = 0, wet = 0, faint = 0, creased = 0, offCentre = 0;
    constexpr int kDraws = 400;
    for (std::uint64_t s = 0; s < kDraws; ++s) {
        const ImpressionParameters p = zp::synth::impressionParameters(m, s);
        ASSERT_LE(std::fabs(p.rotationDegrees), 25.0);
        ASSERT_LE(std::fabs(p.pressure), 1.0);
        ASSERT_LE(std::fabs(p.moisture), 1.0);
        ASSERT_GE(p.blurPasses, 0);
        ASSERT_LE(p.blurPasses, 2);
        ASSERT_GE(p.creases, 0);
        ASSERT_LE(p.creases, 3);
        ASSERT_GT(p.background, p.ridgeLevel + 55.0);
        ASSERT_GE(p.illumination, 0.0);
        ASSERT_LT(p.illumination, p.background - p.ridgeLevel);
        largestTurn = std::max(largestTurn, std::fabs(p.rotationDegrees));
        dry += p.moisture < -0.5;
        wet += p.moisture > 0.5;
        faint += p.background - p.ridgeLevel < 110.0;
        creased += p.creases > 0;
        offCentre += std::hypot(p.centreX - 128.0, p.centreY - 192.0) > 40.0;
    }
    EXPECT_GT(largestTurn, 22.0);
    // Each kind of poor capture turns up, none dominates.
    for (int count : {dry, wet, faint, creased, offCentre}) {
        EXPECT_GT(count, kDraws / 20);
        EXPECT_LT(count, kDraws * 3 / 5);
    }
}

TEST(SynthImpression, DarkRidgesOnBrightBackground) {
    for (PatternClass pc : {PatternClass::Arch, PatternClass::RightLoop, PatternClass::Whorl}) {
        const MasterFingerprint& m = synthtest::master(kSeed, pc);
        const Impression imp = zp::synth::makeImpression(m, 3);
        ASSERT_EQ(imp.width, 256);
        ASSERT_EQ(imp.height, 384);
        ASSERT_EQ(imp.pixels.size(), 256u * 384u);
        double background = 0, ridge = 0, valley = 0;
        int nb = 0, nr = 0, nv = 0, touching = 0;
        for (int v = 0; v < imp.height; ++v)
            for (int u = 0; u < imp.width; ++u) {
                const std::size_t i = static_cast<std::size_t>(v) * imp.width + u;
                if (!imp.contact[i]) {
                    background += imp.pixels[i];
                    ++nb;
                    continue;
                }
                ++touching;
                const auto q = zp::synth::impressionToMaster(imp.parameters, u, v);
                if (masterRidge(m, q[0], q[1])) ridge += imp.pixels[i], ++nr;
                else valley += imp.pixels[i], ++nv;
            }
        ASSERT_GT(nb, 1000);
        EXPECT_GT(touching, imp.width * imp.height / 3);  // the finger covers a good part of the image
        EXPECT_GT(background / nb, 180.0);
        EXPECT_GT(valley / nv - ridge / nr, 50.0);
    }
}

TEST(SynthImpression, RidgePeriodInTheImageIsAboutNinePixels) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::LeftLoop);
    const Impression imp = zp::synth::makeImpression(m, 4);
    std::vector<double> periods;
    zp::synth::det::Random random(3);
    for (int tries = 0; tries < 4000 && periods.size() < 100; ++tries) {
        const double u = random.uniform(30, 226), v = random.uniform(30, 354);
        if (!imp.contact[static_cast<std::size_t>(v) * imp.width + static_cast<std::size_t>(u)]) continue;
        const auto q = zp::synth::impressionToMaster(imp.parameters, u, v);
        const double theta = m.orientation[static_cast<std::size_t>(q[1]) * m.width + static_cast<std::size_t>(q[0])] +
                             imp.parameters.rotationDegrees * M_PI / 180.0;
        const double nx = -std::sin(theta), ny = std::cos(theta);
        std::vector<double> line;
        bool inside = true;
        for (double t = -20; t <= 20 && inside; t += 0.5) {
            const int x = static_cast<int>(std::lround(u + t * nx)), y = static_cast<int>(std::lround(v + t * ny));
            inside = x >= 0 && y >= 0 && x < imp.width && y < imp.height && imp.contact[static_cast<std::size_t>(y) * imp.width + x];
            if (inside) line.push_back(imp.pixels[static_cast<std::size_t>(y) * imp.width + x]);
        }
        if (!inside) continue;
        double mean = 0;
        for (double g : line) mean += g;
        mean /= static_cast<double>(line.size());
        int changes = 0;
        for (std::size_t k = 1; k < line.size(); ++k) changes += (line[k] < mean) != (line[k - 1] < mean);
        if (changes > 0) periods.push_back(80.0 / changes);
    }
    ASSERT_GE(periods.size(), 50u);
    std::sort(periods.begin(), periods.end());
    EXPECT_GT(periods[periods.size() / 2], 7.5);
    EXPECT_LT(periods[periods.size() / 2], 11.5);
}

TEST(SynthImpression, GroundTruthCountIsPlausibleAndInsideTheContact) {
    std::size_t total = 0;
    for (std::uint64_t finger = 0; finger < 5; ++finger) {
        const MasterFingerprint& m = synthtest::master(kSeed + finger, static_cast<PatternClass>(finger));
        for (std::uint64_t k = 1; k <= 2; ++k) {
            const Impression imp = zp::synth::makeImpression(m, zp::synth::impressionSeed(m.seed, static_cast<int>(k)));
            SCOPED_TRACE(std::string(zp::synth::patternClassName(m.patternClass)) + " impression " + std::to_string(k));
            // Partial and off-centre contacts show as few as a handful.
            EXPECT_GE(imp.minutiae.size(), 5u);
            EXPECT_LE(imp.minutiae.size(), 80u);
            EXPECT_LE(imp.minutiae.size(), m.minutiae.size());
            total += imp.minutiae.size();
            for (const Minutia& q : imp.minutiae) {
                ASSERT_GE(q.x, 0.0);
                ASSERT_GE(q.y, 0.0);
                ASSERT_LE(q.x, imp.width - 1.0);
                ASSERT_LE(q.y, imp.height - 1.0);
                EXPECT_TRUE(imp.contact[static_cast<std::size_t>(std::lround(q.y)) * imp.width + static_cast<std::size_t>(std::lround(q.x))]);
            }
        }
    }
    EXPECT_GE(total, 10u * 20u);  // most captures show a good part of the finger
}

TEST(SynthImpression, TransformationAndItsInverseAgree) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::Whorl);
    for (std::uint64_t s = 0; s < 20; ++s) {
        const ImpressionParameters p = zp::synth::impressionParameters(m, s);
        for (int v = 0; v < 384; v += 32)
            for (int u = 0; u < 256; u += 32) {
                const auto q = zp::synth::impressionToMaster(p, u, v);
                const auto back = zp::synth::masterToImpression(p, q[0], q[1]);
                ASSERT_NEAR(back[0], u, 1e-6);
                ASSERT_NEAR(back[1], v, 1e-6);
            }
    }
}

TEST(SynthImpression, RigidMotionMovesMinutiaeAsExpected) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::Whorl);
    const struct {
        double rotation, centreX, centreY;
    } cases[] = {{0.0, 128.0, 192.0}, {15.0, 110.0, 200.0}, {-20.0, 140.0, 170.0}};
    for (const auto& c : cases) {
        ImpressionParameters p = plainParameters(m);
        p.rotationDegrees = c.rotation;
        p.centreX = c.centreX;
        p.centreY = c.centreY;
        const double a = c.rotation * M_PI / 180.0;
        for (const Minutia& mi : m.minutiae) {
            const Minutia q = zp::synth::mapMinutia(p, mi);
            const double dx = mi.x - p.contactX, dy = mi.y - p.contactY;
            EXPECT_NEAR(q.x, c.centreX + std::cos(a) * dx - std::sin(a) * dy, 1e-9);
            EXPECT_NEAR(q.y, c.centreY + std::sin(a) * dx + std::cos(a) * dy, 1e-9);
            double turn = q.direction - mi.direction - c.rotation;
            while (turn > 180) turn -= 360;
            while (turn < -180) turn += 360;
            EXPECT_NEAR(turn, 0.0, 1e-6);
            EXPECT_EQ(q.type, mi.type);
        }
    }
}

TEST(SynthImpression, DistortionGrowsAwayFromTheContactCentre) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::Whorl);
    ImpressionParameters rigid = plainParameters(m);
    ImpressionParameters bent = rigid;
    bent.distortionDegrees = 4.0;
    bent.distortionX = 6.0;
    double previous = -1.0;
    for (double r : {0.0, 20.0, 60.0, 100.0, 140.0, 180.0}) {
        const auto a = zp::synth::impressionToMaster(rigid, rigid.centreX + r, rigid.centreY);
        const auto b = zp::synth::impressionToMaster(bent, bent.centreX + r, bent.centreY);
        const double shift = std::hypot(a[0] - b[0], a[1] - b[1]);
        if (r <= 20.0) EXPECT_EQ(shift, 0.0);
        else EXPECT_GT(shift, previous);
        previous = shift;
    }
    EXPECT_GT(previous, 8.0);
}

TEST(SynthImpression, GroundTruthIsTheMastersMappedIntoTheContact) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::RightLoop);
    const Impression imp = zp::synth::makeImpression(m, 21);
    std::size_t next = 0;
    for (const Minutia& mi : m.minutiae) {
        const Minutia q = zp::synth::mapMinutia(imp.parameters, mi);
        if (next < imp.minutiae.size() && imp.minutiae[next].x == q.x && imp.minutiae[next].y == q.y) {
            EXPECT_EQ(imp.minutiae[next].direction, q.direction);
            ++next;
        }
    }
    EXPECT_EQ(next, imp.minutiae.size());
}

TEST(SynthImpression, ImageFollowsTheMastersRidges) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::LeftLoop);
    ImpressionParameters p = plainParameters(m);
    p.rotationDegrees = 12.0;
    p.distortionDegrees = -3.0;
    p.distortionY = 5.0;
    const Impression imp = zp::synth::makeImpression(m, p);
    const double middle = 0.5 * (p.background + p.ridgeLevel);
    int agree = 0, total = 0;
    for (int v = 0; v < imp.height; ++v)
        for (int u = 0; u < imp.width; ++u) {
            const std::size_t i = static_cast<std::size_t>(v) * imp.width + u;
            if (!imp.contact[i]) continue;
            const auto q = zp::synth::impressionToMaster(p, u, v);
            ++total;
            agree += masterRidge(m, q[0], q[1]) == (imp.pixels[i] < middle);
        }
    ASSERT_GT(total, 20000);
    EXPECT_GT(agree, total * 93 / 100);
}

TEST(SynthImpression, PressureThickensRidges) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::Arch);
    ImpressionParameters p = plainParameters(m);
    auto darkShare = [&](double pressure) {
        p.pressure = pressure;
        const Impression imp = zp::synth::makeImpression(m, p);
        int dark = 0, touching = 0;
        for (std::size_t i = 0; i < imp.pixels.size(); ++i)
            if (imp.contact[i]) ++touching, dark += imp.pixels[i] < 0.5 * (p.background + p.ridgeLevel);
        return static_cast<double>(dark) / touching;
    };
    const double light = darkShare(-1.0), neutral = darkShare(0.0), heavy = darkShare(1.0);
    EXPECT_LT(light + 0.08, neutral);
    EXPECT_LT(neutral + 0.08, heavy);
}

TEST(SynthImpression, MoistureThinsOrThickensRidges) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::Whorl);
    ImpressionParameters p = plainParameters(m);
    p.textureSeed = 5;
    auto darkShare = [&](double moisture) {
        p.moisture = moisture;
        const Impression imp = zp::synth::makeImpression(m, p);
        int dark = 0, touching = 0;
        for (std::size_t i = 0; i < imp.pixels.size(); ++i)
            if (imp.contact[i]) ++touching, dark += imp.pixels[i] < 0.5 * (p.background + p.ridgeLevel);
        return static_cast<double>(dark) / touching;
    };
    const double dry = darkShare(-1.0), normal = darkShare(0.0), wet = darkShare(1.0);
    EXPECT_LT(dry + 0.08, normal);  // thin, broken ridges
    EXPECT_LT(normal + 0.08, wet);  // thick ridges and filled valleys
}

// Creases and wet blobs wipe out what lies under them: the image changes
// there and the ground truth keeps only minutiae the capture still shows.
TEST(SynthImpression, CreasesAndWetBlobsHideTheirMinutiae) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::LeftLoop);
    const struct {
        const char* name;
        int creases;
        double moisture;
    } cases[] = {{"creases", 3, 0.0}, {"wet", 0, 1.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t hidden = 0;
        for (std::uint64_t texture = 1; texture <= 4; ++texture) {
            ImpressionParameters p = plainParameters(m);
            p.textureSeed = texture;
            const Impression clean = zp::synth::makeImpression(m, p);
            p.creases = c.creases;
            p.moisture = c.moisture;
            const Impression marked = zp::synth::makeImpression(m, p);
            ASSERT_LE(marked.minutiae.size(), clean.minutiae.size());
            hidden += clean.minutiae.size() - marked.minutiae.size();
            std::size_t k = 0;
            for (const Minutia& q : clean.minutiae) {
                if (k < marked.minutiae.size() && marked.minutiae[k].x == q.x && marked.minutiae[k].y == q.y) {
                    ++k;
                    continue;
                }
                // A hidden minutia has changed image right by it.
                double change = 0.0;
                for (int dv = -6; dv <= 6; ++dv)
                    for (int du = -6; du <= 6; ++du) {
                        const long u = std::lround(q.x) + du, v = std::lround(q.y) + dv;
                        if (u < 0 || v < 0 || u >= clean.width || v >= clean.height) continue;
                        const std::size_t i = static_cast<std::size_t>(v) * clean.width + static_cast<std::size_t>(u);
                        change = std::max(change, std::fabs(double(marked.pixels[i]) - double(clean.pixels[i])));
                    }
                EXPECT_GT(change, 60.0) << q.x << "," << q.y;
            }
            EXPECT_EQ(k, marked.minutiae.size());  // the kept ones are the clean capture's, in order
        }
        EXPECT_GT(hidden, 0u);
    }
}

TEST(SynthImpression, IlluminationMakesTheBackgroundUneven) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::Arch);
    ImpressionParameters p = plainParameters(m);
    p.textureSeed = 8;
    p.background = 220.0;
    auto backgroundRange = [&](double illumination) {
        p.illumination = illumination;
        const Impression imp = zp::synth::makeImpression(m, p);
        int lo = 255, hi = 0;
        for (std::size_t i = 0; i < imp.pixels.size(); ++i)
            if (!imp.contact[i] && (i % imp.width == 0 || i % imp.width == static_cast<std::size_t>(imp.width - 1))) {
                lo = std::min<int>(lo, imp.pixels[i]);
                hi = std::max<int>(hi, imp.pixels[i]);
            }
        return hi - lo;
    };
    EXPECT_LE(backgroundRange(0.0), 1);
    EXPECT_GT(backgroundRange(25.0), 15);
}

TEST(SynthImpression, LargerCanvasShowsMoreOfTheSameFinger) {
    const MasterFingerprint& m = synthtest::master(kSeed, PatternClass::LeftLoop);
    const ImpressionParameters p = zp::synth::impressionParameters(m, 9);
    const Impression sensor = zp::synth::makeImpression(m, p);
    const ImpressionParameters same = zp::synth::onCanvas(p, zp::synth::kImpressionWidth, zp::synth::kImpressionHeight);
    EXPECT_EQ(zp::synth::makeImpression(m, same).pixels, sensor.pixels) << "the sensor's own canvas changes nothing";
    const Impression large = zp::synth::makeImpression(m, zp::synth::onCanvas(p, 448, 560));
    ASSERT_EQ(large.width, 448);
    ASSERT_EQ(large.height, 560);
    ASSERT_EQ(large.pixels.size(), 448U * 560U);
    const auto touching = [](const Impression& i) { return std::count(i.contact.begin(), i.contact.end(), 1); };
    EXPECT_GT(touching(large), touching(sensor));
    EXPECT_GE(large.minutiae.size(), sensor.minutiae.size());
}
