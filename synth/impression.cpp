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

// Placement: captures are taken with the finger turned and moved on purpose,
// so that impressions of one finger overlap only in part.
constexpr double kMaxRotation = 25.0;           // degrees either way
constexpr double kContactShiftX = 60.0;         // contact centre on the master, either way across
constexpr double kContactMinY = 100.0;          // and below the top of the finger
constexpr double kContactMaxY = 290.0;
constexpr double kPlacementX = 40.0;            // where it lands, either way from the image centre
constexpr double kPlacementUp = 55.0;           // up (the tip under the frame's top edge)
constexpr double kPlacementDown = 35.0;         // down (the tip well inside the frame)
// Plastic distortion: none in the pressed core of the contact, growing
// through a ring to a rigid extra turn and shift outside it.
constexpr double kMaxDistortionRotation = 10.0; // degrees either way, far from the contact centre
constexpr double kMaxDistortionShift = 18.0;    // pixels either way, far from the contact centre
constexpr double kDistortionInner = 30.0;       // no distortion within this radius of the contact centre
constexpr double kDistortionOuter = 160.0;      // full distortion from this radius on
constexpr int kInverseIterations = 80;          // fixed-point steps to invert the distortion
constexpr double kPressureShift = 0.35;         // ridge field offset at full pressure
constexpr double kRidgeEdge = 0.45;             // half width of a ridge flank in ridge-field units
constexpr double kContactEdge = 0.07;           // soft edge of the contact ellipse (share of its radius)
constexpr double kContactRipple = 0.07;         // irregularity of the contact edge
constexpr double kMinutiaContact = 0.9;         // minutiae kept only this deep inside the contact ellipse
constexpr double kFrameMargin = 4.0;            // and this far inside the image frame

// Skin moisture. A dry finger prints thin ridges broken where the skin does
// not touch (breaks are blobs of a fine noise); a wet one prints thick ridges
// that merge, and dark blobs where water fills the valleys.
constexpr double kDryThinning = 0.25;           // ridge field offset of a fully dry finger
constexpr double kWetThickening = 0.25;         // and of a fully wet one
constexpr double kBreakCell = 5.0;              // pixels per cell of the break noise
constexpr double kBreakLevel = 0.8;             // break noise above this breaks a ridge when barely dry
constexpr double kBreakLevelDry = 0.55;         // lowered by this much when fully dry
constexpr double kBlobCell = 18.0;              // pixels per cell of the blob noise
constexpr double kBlobLevel = 0.95;             // blob noise above this fills the valleys when barely wet
constexpr double kBlobLevelWet = 0.45;          // lowered by this much when fully wet
constexpr double kBlobMinutia = 0.3;            // minutiae under more blob than this are wiped out
// Creases and scratches: bright line segments across the contact.
constexpr double kCreaseMinHalfWidth = 1.0;
constexpr double kCreaseMaxHalfWidth = 3.0;
constexpr double kCreaseMinHalfLength = 30.0;
constexpr double kCreaseMaxHalfLength = 150.0;
constexpr double kCreaseClearance = 4.0;        // minutiae this close to a crease's flank are wiped out
// Illumination: cells of the background's slow swing.
constexpr int kLightCellsX = 2, kLightCellsY = 3;
// Pixel noise off the finger, as a share of that on it: a bare sensor
// window is close to saturated.
constexpr double kBackgroundNoise = 0.35;
// Share of captures with a weak ridge contrast.
constexpr double kLowContrastShare = 0.15;

// A turn by a fixed angle, its cosine and sine worked out once.
struct Turn {
    double c, s;
    explicit Turn(double degrees) : c(det::cos(degrees * det::kDegree)), s(det::sin(degrees * det::kDegree)) {}
    std::array<double, 2> operator()(double x, double y) const { return {c * x - s * y, s * x + c * y}; }
};

// Share of the distortion applied at distance r from the contact centre.
double brake(double r) { return det::smoothstep(kDistortionInner, kDistortionOuter, r); }

// The transformation of one capture: rigid motion plus plastic distortion.
struct Transform {
    const ImpressionParameters& p;
    Turn finger, back, bend;
    explicit Transform(const ImpressionParameters& parameters)
        : p(parameters), finger(parameters.rotationDegrees), back(-parameters.rotationDegrees),
          bend(parameters.distortionDegrees) {}

    // Displacement added to an undistorted offset u from the contact centre.
    std::array<double, 2> distortion(double ux, double uy) const {
        const double b = brake(std::sqrt(ux * ux + uy * uy));
        const std::array<double, 2> turned = bend(ux, uy);
        return {b * (turned[0] - ux + p.distortionX), b * (turned[1] - uy + p.distortionY)};
    }
    std::array<double, 2> toMaster(double u, double v) const {
        const double ux = u - p.centreX, uy = v - p.centreY;
        const std::array<double, 2> d = distortion(ux, uy);
        const std::array<double, 2> m = back(ux + d[0], uy + d[1]);
        return {p.contactX + m[0], p.contactY + m[1]};
    }
    std::array<double, 2> toImpression(double x, double y) const {
        const std::array<double, 2> target = finger(x - p.contactX, y - p.contactY);
        double ux = target[0], uy = target[1];
        for (int i = 0; i < kInverseIterations; ++i) {
            const std::array<double, 2> d = distortion(ux, uy);
            ux = target[0] - d[0];
            uy = target[1] - d[1];
        }
        return {p.centreX + ux, p.centreY + uy};
    }
};

// A crease or scratch: a bright segment of the image.
struct Crease {
    double x, y, dx, dy, halfLength, halfWidth;
    // Distance of (u, v) from the segment.
    double distance(double u, double v) const {
        const double along = det::clamp((u - x) * dx + (v - y) * dy, -halfLength, halfLength);
        const double ex = u - (x + along * dx), ey = v - (y + along * dy);
        return std::sqrt(ex * ex + ey * ey);
    }
};

std::vector<Crease> drawCreases(const ImpressionParameters& p, det::Random& random) {
    std::vector<Crease> creases;
    for (int k = 0; k < p.creases; ++k) {
        Crease c{};
        c.x = p.centreX + random.uniform(-0.7, 0.7) * p.contactRadiusX;
        c.y = p.centreY + random.uniform(-0.7, 0.7) * p.contactRadiusY;
        const double angle = random.uniform(0.0, det::kPi);
        c.dx = det::cos(angle);
        c.dy = det::sin(angle);
        c.halfLength = random.uniform(kCreaseMinHalfLength, kCreaseMaxHalfLength);
        c.halfWidth = random.uniform(kCreaseMinHalfWidth, kCreaseMaxHalfWidth);
        creases.push_back(c);
    }
    return creases;
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
    return Transform(p).toMaster(u, v);
}

std::array<double, 2> masterToImpression(const ImpressionParameters& p, double x, double y) {
    return Transform(p).toImpression(x, y);
}

Minutia mapMinutia(const ImpressionParameters& p, const Minutia& m) {
    constexpr double kProbe = 4.0;  // pixels along the direction used to carry it
    const Transform t(p);
    const double a = m.direction * det::kDegree;
    const std::array<double, 2> q = t.toImpression(m.x, m.y);
    const std::array<double, 2> r = t.toImpression(m.x + kProbe * det::cos(a), m.y + kProbe * det::sin(a));
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
    p.contactX = 0.5 * (b.left + b.right) + random.uniform(-kContactShiftX, kContactShiftX);
    p.contactY = b.top + random.uniform(kContactMinY, kContactMaxY);
    p.centreX = kImpressionWidth / 2.0 + random.uniform(-kPlacementX, kPlacementX);
    p.centreY = kImpressionHeight / 2.0 + random.uniform(-kPlacementUp, kPlacementDown);
    p.distortionDegrees = random.uniform(-kMaxDistortionRotation, kMaxDistortionRotation);
    p.distortionX = random.uniform(-kMaxDistortionShift, kMaxDistortionShift);
    p.distortionY = random.uniform(-kMaxDistortionShift, kMaxDistortionShift);
    p.pressure = random.uniform(-1.0, 1.0);
    p.contactRadiusX = random.uniform(85.0, 140.0) + 12.0 * p.pressure;
    p.contactRadiusY = random.uniform(125.0, 215.0) + 18.0 * p.pressure;
    p.noise = random.uniform(3.0, 18.0);
    p.blurPasses = random.below(3);
    p.background = random.uniform(195.0, 250.0);
    p.ridgeLevel = random.uniform() < kLowContrastShare ? p.background - random.uniform(60.0, 100.0)
                                                         : random.uniform(15.0, 90.0);
    p.textureSeed = random.next();
    // About a third of fingers dry, a quarter wet, the rest in between.
    const double skin = random.uniform();
    p.moisture = skin < 0.3 ? random.uniform(-1.0, -0.2) : (skin < 0.55 ? random.uniform(0.2, 1.0) : random.uniform(-0.2, 0.2));
    p.illumination = random.uniform(0.0, 25.0);
    p.contrastPatches = random.uniform(0.15, 0.45);
    const int creaseDraw = random.below(20);
    p.creases = creaseDraw < 10 ? 0 : (creaseDraw < 15 ? 1 : (creaseDraw < 18 ? 2 : 3));
    return p;
}

ImpressionParameters onCanvas(ImpressionParameters p, int width, int height) {
    p.centreX += (width - kImpressionWidth) / 2.0;
    p.centreY += (height - kImpressionHeight) / 2.0;
    p.contactRadiusX *= static_cast<double>(width) / kImpressionWidth;
    p.contactRadiusY *= static_cast<double>(height) / kImpressionHeight;
    p.canvasWidth = width;
    p.canvasHeight = height;
    return p;
}

Impression makeImpression(const MasterFingerprint& master, std::uint64_t seed) {
    return makeImpression(master, impressionParameters(master, seed));
}

Impression makeImpression(const MasterFingerprint& master, const ImpressionParameters& p) {
    const int w = p.canvasWidth, h = p.canvasHeight;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    Impression out;
    out.width = w;
    out.height = h;
    out.parameters = p;
    out.contact.assign(n, 0);
    det::Random random(det::mixSeed(p.textureSeed, 0x7E87));
    const internal::ValueNoise ripple(random.next(), w, h, 5, 7);
    const internal::ValueNoise patches(random.next(), w, h, 8, 12);
    det::Random skin(det::mixSeed(p.textureSeed, 0x5C1A));
    const internal::ValueNoise breaks(skin.next(), w, h, static_cast<int>(w / kBreakCell), static_cast<int>(h / kBreakCell));
    const internal::ValueNoise blobs(skin.next(), w, h, static_cast<int>(w / kBlobCell), static_cast<int>(h / kBlobCell));
    const internal::ValueNoise light(skin.next(), w, h, kLightCellsX, kLightCellsY);
    const std::vector<Crease> creases = drawCreases(p, skin);
    const Transform transform(p);

    const double moisture = det::clamp(p.moisture, -1.0, 1.0);
    const double dryness = moisture < 0.0 ? -moisture : 0.0, wetness = moisture > 0.0 ? moisture : 0.0;
    const double breakLevel = kBreakLevel - kBreakLevelDry * dryness;
    const double blobLevel = kBlobLevel - kBlobLevelWet * wetness;
    const double patchiness = det::clamp(p.contrastPatches, 0.0, 1.0);
    const double shift = kPressureShift * det::clamp(p.pressure, -1.0, 1.0) - kDryThinning * dryness + kWetThickening * wetness;
    std::vector<double> grey(n);
    std::vector<float> wetBlob(n, 0.0f);
    for (int v = 0; v < h; ++v) {
        for (int u = 0; u < w; ++u) {
            const std::size_t i = static_cast<std::size_t>(v) * w + u;
            const std::array<double, 2> m = transform.toMaster(u, v);
            const double finger = sample(master.silhouette, master.width, master.height, m[0], m[1]);
            const double rho = contactRadius(p, ripple, u, v);
            const double touch = det::clamp(finger * 2.0 - 1.0, 0.0, 1.0) * (1.0 - det::smoothstep(1.0 - kContactEdge, 1.0, rho));
            out.contact[i] = touch >= 0.5 ? 1 : 0;
            double ink = 0.0;
            if (touch > 0.0) {
                const double field = sample(master.ridge, master.width, master.height, m[0], m[1]);
                const double contrast = (1.0 - patchiness) + patchiness * patches.at(u, v);
                ink = det::smoothstep(-kRidgeEdge, kRidgeEdge, field + shift);
                if (dryness > 0.0) ink *= 1.0 - 0.9 * det::smoothstep(breakLevel, breakLevel + 0.25, breaks.at(u, v));
                if (wetness > 0.0) {
                    const double blob = det::smoothstep(blobLevel, blobLevel + 0.12, blobs.at(u, v));
                    wetBlob[i] = static_cast<float>(blob);
                    ink += (1.0 - ink) * 0.9 * blob;
                }
                for (const Crease& c : creases)
                    ink *= det::smoothstep(c.halfWidth, c.halfWidth + 1.5, c.distance(u, v));
                ink *= contrast * touch;
            }
            const double background = p.background + p.illumination * light.at(u, v);
            grey[i] = background - (background - p.ridgeLevel) * ink;
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
        out.pixels[i] = static_cast<std::uint8_t>(det::clamp(
            det::roundHalfAway(grey[i] + (out.contact[i] ? 1.0 : kBackgroundNoise) * p.noise * random.normal()), 0.0, 255.0));

    // Ground truth: the master's minutiae that the capture shows. Those under
    // a crease or a wet blob are gone; those in a dry break are kept (a break
    // is a few pixels across and leaves the minutia readable around it).
    for (const Minutia& m : master.minutiae) {
        const Minutia q = mapMinutia(p, m);
        if (q.x < kFrameMargin || q.y < kFrameMargin || q.x > w - 1 - kFrameMargin || q.y > h - 1 - kFrameMargin) continue;
        const int qi = static_cast<int>(det::roundHalfAway(q.y)) * w + static_cast<int>(det::roundHalfAway(q.x));
        if (!out.contact[static_cast<std::size_t>(qi)] || contactRadius(p, ripple, q.x, q.y) > kMinutiaContact) continue;
        if (wetBlob[static_cast<std::size_t>(qi)] > kBlobMinutia) continue;
        bool creased = false;
        for (const Crease& c : creases) creased = creased || c.distance(q.x, q.y) < c.halfWidth + kCreaseClearance;
        if (creased) continue;
        out.minutiae.push_back(q);
    }
    for (const SingularPoint& s : master.singularPoints) {
        const std::array<double, 2> q = transform.toImpression(s.x, s.y);
        if (q[0] >= 0.0 && q[1] >= 0.0 && q[0] <= w - 1 && q[1] <= h - 1) out.singularPoints.push_back({q[0], q[1], s.kind});
    }
    return out;
}

}  // namespace zp::synth
