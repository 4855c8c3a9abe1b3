// Impressions of a master: placement, elastic distortion, contact area,
// pressure and sensor degradation, with the ground truth carried along.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "det_math.h"
#include "synth.h"
#include "synth_internal.h"

namespace zp::synth {
namespace {

constexpr double kMaxRotation = 20.0;           // degrees either way
constexpr double kMaxDistortionRotation = 4.0;  // degrees either way, far from the contact centre
constexpr double kMaxDistortionShift = 7.0;     // pixels either way, far from the contact centre
constexpr double kDistortionInner = 35.0;       // no distortion within this radius of the contact centre
constexpr double kDistortionOuter = 190.0;      // full distortion from this radius on
constexpr int kInverseIterations = 40;          // fixed-point steps to invert the distortion
constexpr double kPressureShift = 0.35;         // ridge field offset at full pressure
constexpr double kRidgeEdge = 0.45;             // half width of a ridge flank in ridge-field units
constexpr double kContactEdge = 0.07;           // soft edge of the contact ellipse (share of its radius)
constexpr double kContactRipple = 0.07;         // irregularity of the contact edge
constexpr double kMinutiaContact = 0.9;         // minutiae kept only this deep inside the contact ellipse
constexpr double kFrameMargin = 4.0;            // and this far inside the image frame

std::array<double, 2> rotate(double degrees, double x, double y) {
    const double c = det::cos(degrees * det::kDegree), s = det::sin(degrees * det::kDegree);
    return {c * x - s * y, s * x + c * y};
}

// Share of the distortion applied at distance r from the contact centre.
double brake(double r) { return det::smoothstep(kDistortionInner, kDistortionOuter, r); }

// Displacement added to an undistorted offset u from the contact centre.
std::array<double, 2> distortion(const ImpressionParameters& p, double ux, double uy) {
    const double b = brake(std::sqrt(ux * ux + uy * uy));
    const std::array<double, 2> turned = rotate(p.distortionDegrees, ux, uy);
    return {b * (turned[0] - ux + p.distortionX), b * (turned[1] - uy + p.distortionY)};
}

struct Bounds {
    int left, top, right, bottom;
};

Bounds fingerBounds(const MasterFingerprint& m) {
    Bounds b{m.width, m.height, -1, -1};
    for (int y = 0; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x)
            if (m.silhouette[static_cast<std::size_t>(y) * m.width + x]) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
            }
    return b;
}

// Bilinear sample of a map, 0 outside it.
template <typename T>
double sample(const std::vector<T>& map, int w, int h, double x, double y) {
    const double fx0 = std::floor(x), fy0 = std::floor(y);
    const int x0 = static_cast<int>(fx0), y0 = static_cast<int>(fy0);
    const double fx = x - fx0, fy = y - fy0;
    auto at = [&](int xx, int yy) -> double {
        return (xx < 0 || yy < 0 || xx >= w || yy >= h) ? 0.0 : static_cast<double>(map[static_cast<std::size_t>(yy) * w + xx]);
    };
    const double top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * fx;
    const double bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * fx;
    return top + (bottom - top) * fy;
}

// Elliptic radius of an image point in the contact area (1 = its edge), with
// a rippled edge.
double contactRadius(const ImpressionParameters& p, const internal::ValueNoise& ripple, double u, double v) {
    const double dx = (u - p.centreX) / p.contactRadiusX, dy = (v - p.centreY) / p.contactRadiusY;
    return std::sqrt(dx * dx + dy * dy) + kContactRipple * ripple.at(u, v);
}

}  // namespace

std::array<double, 2> impressionToMaster(const ImpressionParameters& p, double u, double v) {
    const double ux = u - p.centreX, uy = v - p.centreY;
    const std::array<double, 2> d = distortion(p, ux, uy);
    const std::array<double, 2> back = rotate(-p.rotationDegrees, ux + d[0], uy + d[1]);
    return {p.contactX + back[0], p.contactY + back[1]};
}

std::array<double, 2> masterToImpression(const ImpressionParameters& p, double x, double y) {
    const std::array<double, 2> target = rotate(p.rotationDegrees, x - p.contactX, y - p.contactY);
    double ux = target[0], uy = target[1];
    for (int i = 0; i < kInverseIterations; ++i) {
        const std::array<double, 2> d = distortion(p, ux, uy);
        ux = target[0] - d[0];
        uy = target[1] - d[1];
    }
    return {p.centreX + ux, p.centreY + uy};
}

Minutia mapMinutia(const ImpressionParameters& p, const Minutia& m) {
    constexpr double kProbe = 4.0;  // pixels along the direction used to carry it
    const double a = m.direction * det::kDegree;
    const std::array<double, 2> q = masterToImpression(p, m.x, m.y);
    const std::array<double, 2> r = masterToImpression(p, m.x + kProbe * det::cos(a), m.y + kProbe * det::sin(a));
    Minutia out = m;
    out.x = q[0];
    out.y = q[1];
    out.direction = det::directionDegrees(r[0] - q[0], r[1] - q[1]);
    return out;
}

ImpressionParameters impressionParameters(const MasterFingerprint& master, std::uint64_t seed) {
    det::Random random(det::mixSeed(seed, 0x1B9E));
    const Bounds b = fingerBounds(master);
    ImpressionParameters p;
    p.rotationDegrees = random.uniform(-kMaxRotation, kMaxRotation);
    p.contactX = 0.5 * (b.left + b.right) + random.uniform(-22.0, 22.0);
    p.contactY = b.top + random.uniform(150.0, 215.0);
    p.centreX = kImpressionWidth / 2.0 + random.uniform(-22.0, 22.0);
    p.centreY = kImpressionHeight / 2.0 + random.uniform(-25.0, 25.0);
    p.distortionDegrees = random.uniform(-kMaxDistortionRotation, kMaxDistortionRotation);
    p.distortionX = random.uniform(-kMaxDistortionShift, kMaxDistortionShift);
    p.distortionY = random.uniform(-kMaxDistortionShift, kMaxDistortionShift);
    p.pressure = random.uniform(-1.0, 1.0);
    p.contactRadiusX = random.uniform(112.0, 140.0) + 12.0 * p.pressure;
    p.contactRadiusY = random.uniform(170.0, 215.0) + 18.0 * p.pressure;
    p.noise = random.uniform(2.0, 10.0);
    p.blurPasses = random.below(3);
    p.background = random.uniform(200.0, 250.0);
    p.ridgeLevel = random.uniform(15.0, 90.0);
    p.textureSeed = random.next();
    return p;
}

Impression makeImpression(const MasterFingerprint& master, std::uint64_t seed) {
    return makeImpression(master, impressionParameters(master, seed));
}

Impression makeImpression(const MasterFingerprint& master, const ImpressionParameters& p) {
    constexpr int w = kImpressionWidth, h = kImpressionHeight;
    constexpr std::size_t n = static_cast<std::size_t>(w) * h;
    Impression out;
    out.parameters = p;
    out.contact.assign(n, 0);
    det::Random random(det::mixSeed(p.textureSeed, 0x7E87));
    const internal::ValueNoise ripple(random.next(), w, h, 5, 7);
    const internal::ValueNoise patches(random.next(), w, h, 8, 12);

    const double shift = kPressureShift * det::clamp(p.pressure, -1.0, 1.0);
    std::vector<double> grey(n);
    for (int v = 0; v < h; ++v) {
        for (int u = 0; u < w; ++u) {
            const std::size_t i = static_cast<std::size_t>(v) * w + u;
            const std::array<double, 2> m = impressionToMaster(p, u, v);
            const double finger = sample(master.silhouette, master.width, master.height, m[0], m[1]);
            const double rho = contactRadius(p, ripple, u, v);
            const double touch = det::clamp(finger * 2.0 - 1.0, 0.0, 1.0) * (1.0 - det::smoothstep(1.0 - kContactEdge, 1.0, rho));
            out.contact[i] = touch >= 0.5 ? 1 : 0;
            double ink = 0.0;
            if (touch > 0.0) {
                const double field = sample(master.ridge, master.width, master.height, m[0], m[1]);
                const double contrast = 0.78 + 0.22 * patches.at(u, v);
                ink = det::smoothstep(-kRidgeEdge, kRidgeEdge, field + shift) * contrast * touch;
            }
            grey[i] = p.background - (p.background - p.ridgeLevel) * ink;
        }
    }
    for (int pass = 0; pass < p.blurPasses; ++pass) {
        std::vector<double> blurred(n);
        for (int v = 0; v < h; ++v) {
            for (int u = 0; u < w; ++u) {
                double sum = 0.0;
                for (int dv = -1; dv <= 1; ++dv) {
                    const int vv = std::clamp(v + dv, 0, h - 1);
                    const double* row = &grey[static_cast<std::size_t>(vv) * w];
                    const double weight = dv == 0 ? 2.0 : 1.0;
                    sum += weight * (row[std::max(u - 1, 0)] + 2.0 * row[u] + row[std::min(u + 1, w - 1)]);
                }
                blurred[static_cast<std::size_t>(v) * w + u] = sum / 16.0;
            }
        }
        grey.swap(blurred);
    }
    out.pixels.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        out.pixels[i] = static_cast<std::uint8_t>(det::clamp(det::roundHalfAway(grey[i] + p.noise * random.normal()), 0.0, 255.0));

    for (const Minutia& m : master.minutiae) {
        const Minutia q = mapMinutia(p, m);
        if (q.x < kFrameMargin || q.y < kFrameMargin || q.x > w - 1 - kFrameMargin || q.y > h - 1 - kFrameMargin) continue;
        const int qi = static_cast<int>(det::roundHalfAway(q.y)) * w + static_cast<int>(det::roundHalfAway(q.x));
        if (!out.contact[static_cast<std::size_t>(qi)] || contactRadius(p, ripple, q.x, q.y) > kMinutiaContact) continue;
        out.minutiae.push_back(q);
    }
    for (const SingularPoint& s : master.singularPoints) {
        const std::array<double, 2> q = masterToImpression(p, s.x, s.y);
        if (q[0] >= 0.0 && q[1] >= 0.0 && q[0] <= w - 1 && q[1] <= h - 1) out.singularPoints.push_back({q[0], q[1], s.kind});
    }
    return out;
}

}  // namespace zp::synth
