// Master fingerprint: silhouette, orientation model, ridge period map and the
// ridge pattern grown from random seeds by iterated oriented filtering.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "det_math.h"
#include "synth.h"
#include "synth_internal.h"

namespace zp::synth {
namespace {

// Oriented filter bank: kernels of radius kRadius, quantised in direction and
// period. Each is an even Gabor filter (cosine across the ridge under a
// Gaussian envelope), made free of any constant response.
constexpr int kRadius = 6;
constexpr int kSide = 2 * kRadius + 1;
constexpr int kAngleSteps = 36;             // 5 degrees apart over 180
constexpr double kMinPeriod = 8.0;
constexpr double kMaxPeriod = 11.0;
constexpr double kPeriodStep = 0.25;
constexpr int kPeriodSteps = 13;            // 8.0, 8.25, ... 11.0
constexpr double kSigmaAcross = 2.9;        // envelope across the ridges (pixels)
constexpr double kSigmaAlong = 3.6;         // envelope along the ridges

// Growth: seeds one per kSeedSpacing^2 pixels of finger; each pass filters and
// amplifies by kGain, clipping to [-1, 1]; it stops when the whole finger is
// covered and fewer than kSettledShare of its pixels still change sign.
constexpr double kSeedSpacing = 44.0;
constexpr double kGain = 2.5;
constexpr int kMaxPasses = 40;
constexpr double kSettledShare = 0.002;

// Cleanup of the binary master: ridge islands and valley holes smaller than
// this many pixels are flipped, as a real finger has neither.
constexpr int kSmallComponent = 40;

// Relative frequencies of the pattern classes on real fingers (per mille):
// arch, tented arch, left loop, right loop, whorl.
constexpr int kClassFrequency[5] = {37, 29, 338, 317, 279};

// Period map: a base period drawn per finger (fingers differ in ridge
// density) plus a smooth variation of up to a swing drawn per finger.
constexpr double kMinBasePeriod = 8.6;
constexpr double kMaxBasePeriod = 10.2;
constexpr double kMinPeriodSwing = 0.7;
constexpr double kMaxPeriodSwing = 1.5;

// Orientation model: a smooth single-valued turn of up to kOrientationWobble
// radians added everywhere, so that fingers of one class differ beyond the
// placement of their singular points (it leaves every singular point's index as is).
constexpr double kOrientationWobble = 0.22;

struct Silhouette {
    double cx, topCentreY, bottomCentreY, halfWidth, topRadius, bottomRadius;
    bool inside(double x, double y) const {
        const double dx = (x - cx) / halfWidth;
        if (y < topCentreY) {
            const double dy = (y - topCentreY) / topRadius;
            return dx * dx + dy * dy <= 1.0;
        }
        if (y > bottomCentreY) {
            const double dy = (y - bottomCentreY) / bottomRadius;
            return dx * dx + dy * dy <= 1.0;
        }
        return dx * dx <= 1.0;
    }
};

Silhouette drawSilhouette(det::Random& random) {
    Silhouette s{};
    s.cx = kMasterWidth / 2.0 + random.uniform(-14.0, 14.0);
    s.halfWidth = random.uniform(104.0, 144.0);
    s.topRadius = random.uniform(0.85, 1.1) * s.halfWidth;
    s.topCentreY = 18.0 + s.topRadius + random.uniform(0.0, 12.0);
    s.bottomRadius = random.uniform(1.4, 2.0) * s.halfWidth;
    s.bottomCentreY = kMasterHeight - 12.0 - 0.35 * s.bottomRadius;
    return s;
}

// Cores and deltas of a class, placed about the finger's centre.
std::vector<SingularPoint> drawSingularPoints(PatternClass pc, const Silhouette& s, det::Random& random) {
    const double cy = s.topCentreY + random.uniform(10.0, 85.0);
    const double cx = s.cx + random.uniform(-28.0, 28.0);
    std::vector<SingularPoint> points;
    switch (pc) {
        case PatternClass::Arch:
            break;
        case PatternClass::TentedArch: {
            const double gap = random.uniform(45.0, 100.0);
            points.push_back({cx, cy, SingularKind::Core});
            points.push_back({cx + random.uniform(-8.0, 8.0), cy + gap, SingularKind::Delta});
            break;
        }
        case PatternClass::LeftLoop:
        case PatternClass::RightLoop: {
            // A left loop's ridges enter and leave on the left, its delta lies
            // to the right of the core; a right loop is the mirror image.
            const double side = pc == PatternClass::LeftLoop ? 1.0 : -1.0;
            points.push_back({cx - side * random.uniform(0.0, 20.0), cy, SingularKind::Core});
            points.push_back({cx + side * random.uniform(50.0, 110.0), cy + random.uniform(65.0, 140.0),
                              SingularKind::Delta});
            break;
        }
        case PatternClass::Whorl: {
            const double tilt = random.uniform(-12.0, 12.0);
            const double half = random.uniform(4.0, 16.0);
            points.push_back({cx - tilt, cy - half, SingularKind::Core});
            points.push_back({cx + tilt, cy + half, SingularKind::Core});
            const double dy = cy + random.uniform(75.0, 130.0);
            points.push_back({cx - random.uniform(80.0, 125.0), dy + random.uniform(-25.0, 25.0), SingularKind::Delta});
            points.push_back({cx + random.uniform(80.0, 125.0), dy + random.uniform(-25.0, 25.0), SingularKind::Delta});
            break;
        }
    }
    return points;
}

// Ridge direction at (x, y) in [0, pi). Singular points follow the zero-pole
// model: each core adds half the angle of the point seen from it (the
// direction turns once by +180 degrees around it), each delta subtracts it. An arch has no singular point: ridges run across the finger
// and bulge towards its tip, most in the upper middle.
double orientationAt(PatternClass pc, const std::vector<SingularPoint>& points, const Silhouette& s,
                     double archBulge, double x, double y) {
    double theta = 0.0;
    if (pc == PatternClass::Arch) {
        const double across = (x - s.cx) / s.halfWidth;
        const double height = det::clamp(1.0 - (y - s.topCentreY) / (1.6 * s.topRadius), 0.0, 1.0);
        theta = det::atan2(archBulge * height * det::sin(det::kHalfPi * det::clamp(across, -1.0, 1.0)), 1.0);
    } else {
        for (const SingularPoint& p : points) {
            const double a = det::atan2(y - p.y, x - p.x);
            theta += p.kind == SingularKind::Core ? 0.5 * a : -0.5 * a;
        }
    }
    while (theta < 0.0) theta += det::kPi;
    while (theta >= det::kPi) theta -= det::kPi;
    return theta;
}

struct FilterBank {
    std::vector<float> taps;  // kAngleSteps x kPeriodSteps kernels of kSide x kSide
    FilterBank() : taps(static_cast<std::size_t>(kAngleSteps) * kPeriodSteps * kSide * kSide) {
        std::vector<double> envelope(kSide * kSide), wave(kSide * kSide);
        for (int a = 0; a < kAngleSteps; ++a) {
            const double theta = det::kPi * a / kAngleSteps;
            const double c = det::cos(theta), s = det::sin(theta);
            for (int p = 0; p < kPeriodSteps; ++p) {
                const double period = kMinPeriod + kPeriodStep * p;
                double sumEnv = 0.0, sumWave = 0.0;
                for (int dy = -kRadius; dy <= kRadius; ++dy) {
                    for (int dx = -kRadius; dx <= kRadius; ++dx) {
                        const double across = -dx * s + dy * c;
                        const double along = dx * c + dy * s;
                        const int i = (dy + kRadius) * kSide + dx + kRadius;
                        envelope[i] = det::exp(-(across * across / (2.0 * kSigmaAcross * kSigmaAcross) +
                                                 along * along / (2.0 * kSigmaAlong * kSigmaAlong)));
                        wave[i] = det::cos(det::kTwoPi * across / period);
                        sumEnv += envelope[i];
                        sumWave += envelope[i] * wave[i];
                    }
                }
                // Remove the constant response, then scale so that a matched
                // cosine of amplitude 1 answers 1 at its crest.
                const double dc = sumWave / sumEnv;
                double gain = 0.0;
                for (int i = 0; i < kSide * kSide; ++i) gain += envelope[i] * (wave[i] - dc) * wave[i];
                float* k = &taps[(static_cast<std::size_t>(a) * kPeriodSteps + p) * kSide * kSide];
                for (int i = 0; i < kSide * kSide; ++i) k[i] = static_cast<float>(envelope[i] * (wave[i] - dc) / gain);
            }
        }
    }
};

const FilterBank& filterBank() {
    static const FilterBank bank;
    return bank;
}

// Flips connected components of `value` smaller than kSmallComponent in the
// finger (8-connected for ridges, 4-connected for valleys); returns the flipped pixels.
std::vector<std::uint8_t> smallComponents(const std::vector<std::uint8_t>& binary, const std::vector<std::uint8_t>& inside,
                                          int w, int h, std::uint8_t value) {
    std::vector<std::uint8_t> flip(binary.size(), 0), seen(binary.size(), 0);
    std::vector<int> stack, members;
    const int n8[8][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
    const int neighbours = value == 1 ? 8 : 4;
    for (int start = 0; start < w * h; ++start) {
        if (!inside[start] || binary[start] != value || seen[start]) continue;
        members.clear();
        stack.assign(1, start);
        seen[start] = 1;
        bool touchesEdge = false;
        while (!stack.empty()) {
            const int p = stack.back();
            stack.pop_back();
            members.push_back(p);
            const int x = p % w, y = p / w;
            for (int k = 0; k < neighbours; ++k) {
                const int nx = x + n8[k][0], ny = y + n8[k][1];
                if (nx < 0 || ny < 0 || nx >= w || ny >= h) { touchesEdge = true; continue; }
                const int q = ny * w + nx;
                if (!inside[q]) { touchesEdge = true; continue; }
                if (binary[q] != value || seen[q]) continue;
                seen[q] = 1;
                stack.push_back(q);
            }
        }
        if (!touchesEdge && static_cast<int>(members.size()) < kSmallComponent)
            for (int p : members) flip[p] = 1;
    }
    return flip;
}

}  // namespace

namespace internal {

ValueNoise::ValueNoise(std::uint64_t seed, int width, int height, int cellsX, int cellsY)
    : cellsX_(cellsX), cellsY_(cellsY), scaleX_(static_cast<double>(cellsX) / width),
      scaleY_(static_cast<double>(cellsY) / height), grid_(static_cast<std::size_t>(cellsX + 1) * (cellsY + 1)) {
    det::Random random(seed);
    for (double& v : grid_) v = random.uniform(-1.0, 1.0);
}

double ValueNoise::at(double x, double y) const {
    const double gx = det::clamp(x * scaleX_, 0.0, cellsX_ - 1e-9);
    const double gy = det::clamp(y * scaleY_, 0.0, cellsY_ - 1e-9);
    const int ix = static_cast<int>(gx), iy = static_cast<int>(gy);
    const double fx = det::smoothstep(0.0, 1.0, gx - ix), fy = det::smoothstep(0.0, 1.0, gy - iy);
    const int row = cellsX_ + 1;
    const double* g = &grid_[static_cast<std::size_t>(iy) * row + ix];
    const double top = g[0] + (g[1] - g[0]) * fx;
    const double bottom = g[row] + (g[row + 1] - g[row]) * fx;
    return top + (bottom - top) * fy;
}

}  // namespace internal

std::string_view patternClassName(PatternClass patternClass) {
    switch (patternClass) {
        case PatternClass::Arch: return "arch";
        case PatternClass::TentedArch: return "tented arch";
        case PatternClass::LeftLoop: return "left loop";
        case PatternClass::RightLoop: return "right loop";
        case PatternClass::Whorl: return "whorl";
    }
    return "unknown";
}

PatternClass patternClassForSeed(std::uint64_t seed) {
    det::Random random(det::mixSeed(seed, 0xC1A55));
    int pick = random.below(1000);
    for (int c = 0; c < 5; ++c) {
        if (pick < kClassFrequency[c]) return static_cast<PatternClass>(c);
        pick -= kClassFrequency[c];
    }
    return PatternClass::Whorl;
}

MasterFingerprint makeMaster(std::uint64_t seed) { return makeMaster(seed, patternClassForSeed(seed)); }

MasterFingerprint makeMaster(std::uint64_t seed, PatternClass patternClass) {
    constexpr int w = kMasterWidth, h = kMasterHeight;
    constexpr std::size_t n = static_cast<std::size_t>(w) * h;
    MasterFingerprint m;
    m.seed = seed;
    m.patternClass = patternClass;
    det::Random random(det::mixSeed(seed, 0x5EED));

    const Silhouette shape = drawSilhouette(random);
    m.singularPoints = drawSingularPoints(patternClass, shape, random);
    const double archBulge = random.uniform(0.6, 1.3);
    const internal::ValueNoise periodNoise(random.next(), w, h, 4, 5);
    const double basePeriod = random.uniform(kMinBasePeriod, kMaxBasePeriod);
    const double periodSwing = random.uniform(kMinPeriodSwing, kMaxPeriodSwing);
    const internal::ValueNoise wobble(random.next(), w, h, 3, 4);
    const double wobbleAmount = random.uniform(0.3, 1.0) * kOrientationWobble;

    m.silhouette.assign(n, 0);
    m.orientation.assign(n, 0.0f);
    m.period.assign(n, 0.0f);
    std::vector<std::uint16_t> kernelOf(n, 0);
    int fingerPixels = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            if (!shape.inside(x, y)) continue;
            m.silhouette[i] = 1;
            ++fingerPixels;
            double theta = orientationAt(patternClass, m.singularPoints, shape, archBulge, x, y) + wobbleAmount * wobble.at(x, y);
            if (theta < 0.0) theta += det::kPi;
            if (theta >= det::kPi) theta -= det::kPi;
            const double period = det::clamp(basePeriod + periodSwing * periodNoise.at(x, y), kMinPeriod, kMaxPeriod);
            m.orientation[i] = static_cast<float>(theta);
            m.period[i] = static_cast<float>(period);
            const int a = static_cast<int>(det::roundHalfAway(theta / det::kPi * kAngleSteps)) % kAngleSteps;
            const int p = static_cast<int>(det::roundHalfAway((period - kMinPeriod) / kPeriodStep));
            kernelOf[i] = static_cast<std::uint16_t>(a * kPeriodSteps + p);
        }
    }

    // Growth on a canvas padded by the kernel radius, so that no tap leaves it.
    constexpr int pw = w + 2 * kRadius, ph = h + 2 * kRadius;
    std::vector<float> current(static_cast<std::size_t>(pw) * ph, 0.0f), next(current.size(), 0.0f);
    const int seeds = std::max(1, static_cast<int>(fingerPixels / (kSeedSpacing * kSeedSpacing)));
    for (int placed = 0; placed < seeds;) {
        const int x = random.below(w), y = random.below(h);
        if (!m.silhouette[static_cast<std::size_t>(y) * w + x]) continue;
        current[static_cast<std::size_t>(y + kRadius) * pw + x + kRadius] = random.uniform() < 0.5 ? -1.0f : 1.0f;
        ++placed;
    }
    // Pixels are filtered only in 8 x 8 blocks next to a block that holds
    // pattern already (the kernel radius is below one block).
    constexpr int bw = (w + 7) / 8, bh = (h + 7) / 8;
    std::vector<std::uint8_t> live(static_cast<std::size_t>(bw) * bh, 0), near(live.size(), 0);
    const float* taps = filterBank().taps.data();
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        std::fill(live.begin(), live.end(), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (current[static_cast<std::size_t>(y + kRadius) * pw + x + kRadius] != 0.0f) live[(y / 8) * bw + x / 8] = 1;
        for (int by = 0; by < bh; ++by)
            for (int bx = 0; bx < bw; ++bx) {
                std::uint8_t any = 0;
                for (int j = std::max(0, by - 1); j <= std::min(bh - 1, by + 1); ++j)
                    for (int i = std::max(0, bx - 1); i <= std::min(bw - 1, bx + 1); ++i) any |= live[j * bw + i];
                near[by * bw + bx] = any;
            }
        int empty = 0, flipped = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                const std::size_t pi = static_cast<std::size_t>(y + kRadius) * pw + x + kRadius;
                if (!m.silhouette[i] || !near[(y / 8) * bw + x / 8]) {
                    next[pi] = current[pi];
                    if (m.silhouette[i]) ++empty;
                    continue;
                }
                const float* k = taps + static_cast<std::size_t>(kernelOf[i]) * kSide * kSide;
                const float* src = &current[static_cast<std::size_t>(y) * pw + x];
                float acc = 0.0f;
                for (int dy = 0; dy < kSide; ++dy, src += pw, k += kSide)
                    for (int dx = 0; dx < kSide; ++dx) acc += k[dx] * src[dx];
                float v = static_cast<float>(kGain) * acc;
                v = v > 1.0f ? 1.0f : (v < -1.0f ? -1.0f : v);
                if (v == 0.0f) ++empty;
                if ((v > 0.0f) != (current[pi] > 0.0f)) ++flipped;
                next[pi] = v;
            }
        }
        current.swap(next);
        if (empty == 0 && flipped <= kSettledShare * fingerPixels) break;
    }

    // Soft ridge field: the grown pattern smoothed by two 3 x 3 binomial passes.
    std::vector<float> field(n, 0.0f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (m.silhouette[static_cast<std::size_t>(y) * w + x])
                field[static_cast<std::size_t>(y) * w + x] = current[static_cast<std::size_t>(y + kRadius) * pw + x + kRadius];
    for (int passes = 0; passes < 2; ++passes) {
        std::vector<float> smooth(n, 0.0f);
        for (int y = 1; y < h - 1; ++y) {
            for (int x = 1; x < w - 1; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * w + x;
                if (!m.silhouette[i]) continue;
                const float* r0 = &field[i - w];
                const float* r1 = &field[i];
                const float* r2 = &field[i + w];
                const float sum = (r0[-1] + 2.0f * r0[0] + r0[1]) + 2.0f * (r1[-1] + 2.0f * r1[0] + r1[1]) +
                                  (r2[-1] + 2.0f * r2[0] + r2[1]);
                smooth[i] = sum * (1.0f / 16.0f);
            }
        }
        field.swap(smooth);
    }

    // Binary master without islands or holes; the field follows the cleanup so
    // that its sign is the binary master everywhere.
    m.binary.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) m.binary[i] = m.silhouette[i] && field[i] > 0.0f ? 1 : 0;
    const std::vector<std::uint8_t> islands = smallComponents(m.binary, m.silhouette, w, h, 1);
    const std::vector<std::uint8_t> holes = smallComponents(m.binary, m.silhouette, w, h, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (islands[i]) field[i] = -0.3f;
        if (holes[i]) field[i] = 0.3f;
        if (!m.silhouette[i]) field[i] = 0.0f;
        m.binary[i] = m.silhouette[i] && field[i] > 0.0f ? 1 : 0;
    }
    m.ridge = std::move(field);

    m.skeleton = internal::thin(m.binary, w, h);
    m.minutiae = internal::skeletonMinutiae(m.skeleton, m.silhouette, w, h);
    return m;
}

std::vector<std::uint8_t> renderMaster(const MasterFingerprint& master) {
    std::vector<std::uint8_t> out(master.ridge.size(), 255);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (!master.silhouette[i]) continue;
        // Ridge field +1 -> 20, -1 -> 245.
        const double v = det::clamp(master.ridge[i], -1.0, 1.0);
        out[i] = static_cast<std::uint8_t>(det::roundHalfAway(132.5 - 112.5 * v));
    }
    return out;
}

std::uint64_t hashBytes(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (std::uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001B3ULL;
    }
    return h;
}

std::uint64_t fingerSeed(std::uint64_t setSeed, int finger) {
    return det::mixSeed(setSeed, 0xF1000000ULL + static_cast<std::uint64_t>(finger));
}

std::uint64_t impressionSeed(std::uint64_t fingerSeed, int impression) {
    return det::mixSeed(fingerSeed, 0x1A000000ULL + static_cast<std::uint64_t>(impression));
}

}  // namespace zp::synth
