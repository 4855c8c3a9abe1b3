#include "minutiae/skeleton_tracing.h"

#include <array>
#include <bit>

#include "math/trig.h"

namespace zp {
namespace {

// Neighbour offsets in scan order: NW, N, NE, W, E, SW, S, SE.
constexpr std::int32_t kScanDx[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
constexpr std::int32_t kScanDy[8] = {-1, -1, -1, 0, 0, 1, 1, 1};

// Steps after the first one taken for the long and the short ending direction.
constexpr std::int32_t kLongEndingSteps = 9;
constexpr std::int32_t kShortEndingSteps = 4;
// Points of the long form that give the two directions from the first point.
constexpr std::int32_t kLongNearPoint = 7;
constexpr std::int32_t kLongFarPoint = 10;
// Index of the point reached along each branch of a bifurcation.
constexpr std::int32_t kBranchReach = 8;

inline bool isSet(const std::uint8_t* image, std::int32_t width, std::int32_t x, std::int32_t y) {
    return image[y * width + x] != 0;
}

// Set neighbours of (x, y) as bits in scan order (bit 0 NW .. bit 7 SE).
inline std::uint32_t neighbourMask(const std::uint8_t* image, std::int32_t width, std::int32_t x,
                                   std::int32_t y) {
    const std::uint8_t* p = image + y * width + x;
    const std::uint8_t* n = p - width;
    const std::uint8_t* s = p + width;
    return static_cast<std::uint32_t>(n[-1] != 0) | (static_cast<std::uint32_t>(n[0] != 0) << 1) |
           (static_cast<std::uint32_t>(n[1] != 0) << 2) |
           (static_cast<std::uint32_t>(p[-1] != 0) << 3) |
           (static_cast<std::uint32_t>(p[1] != 0) << 4) |
           (static_cast<std::uint32_t>(s[-1] != 0) << 5) |
           (static_cast<std::uint32_t>(s[0] != 0) << 6) |
           (static_cast<std::uint32_t>(s[1] != 0) << 7);
}

// Class at a count of three: 0 when an edge neighbour touches a corner
// neighbour beside it, else 2 (a bifurcation).
constexpr std::int32_t forkRule(std::uint32_t m) {
    const bool nw = (m & 1U) != 0;
    const bool n = (m & 2U) != 0;
    const bool ne = (m & 4U) != 0;
    const bool w = (m & 8U) != 0;
    const bool e = (m & 16U) != 0;
    const bool sw = (m & 32U) != 0;
    const bool s = (m & 64U) != 0;
    const bool se = (m & 128U) != 0;
    if (n && (nw || ne)) return 0;
    if (s && (sw || se)) return 0;
    if (w && (nw || sw)) return 0;
    if (e && (ne || se)) return 0;
    return 2;
}

// Number of set bits of each neighbour mask (a table: no popcount
// instruction is assumed).
constexpr std::array<std::int8_t, 256> kMaskCount = [] {
    std::array<std::int8_t, 256> table{};
    for (std::uint32_t m = 0; m < 256; ++m) table[m] = static_cast<std::int8_t>(std::popcount(m));
    return table;
}();

// Neighbour class of a set pixel by its neighbour mask: -1 isolated,
// 1 ending, 0 interior, 2 bifurcation, 3 other junction.
constexpr std::array<std::int8_t, 256> kClassOfSetPixel = [] {
    std::array<std::int8_t, 256> table{};
    for (std::uint32_t m = 0; m < 256; ++m) {
        const std::int32_t count = std::popcount(m);
        std::int32_t cls = 3;
        if (count == 0) cls = -1;
        if (count == 1) cls = 1;
        if (count == 2) cls = 0;
        if (count == 3) cls = forkRule(m);
        table[m] = static_cast<std::int8_t>(cls);
    }
    return table;
}();

struct Point {
    std::int32_t x;
    std::int32_t y;
};

// Follows the ridge from start, whose previous point is prev, count more steps
// without looking at n; returns the point reached.
Point followRidge(const std::uint8_t* image, std::int32_t width, Point prev, Point start,
                  std::int32_t count) {
    Point cur = start;
    for (std::int32_t k = 0; k < count; ++k) {
        const StepResult s = ridgeStep(image, width, cur.y, cur.x, prev.y, prev.x);
        prev = cur;
        cur = {s.x, s.y};
    }
    return cur;
}

}  // namespace

std::int32_t neighbourClass(const std::uint8_t* image, std::int32_t width, std::int32_t y,
                            std::int32_t x) {
    const std::uint32_t mask = neighbourMask(image, width, x, y);
    if (image[y * width + x] != 0) return kClassOfSetPixel[mask];
    // An unset centre is not counted: one neighbour fewer.
    const std::int32_t count = kMaskCount[mask] - 1;
    if (count <= 0) return -1;
    if (count == 1) return 1;
    if (count == 2) return 0;
    if (count >= 4) return 3;
    return forkRule(mask);
}

StepResult ridgeStep(const std::uint8_t* image, std::int32_t width, std::int32_t y,
                     std::int32_t x, std::int32_t prevY, std::int32_t prevX) {
    if (x == prevX && y == prevY) return {x, y, 0};

    std::uint32_t mask = neighbourMask(image, width, x, y);
    const std::int32_t pdx = prevX - x;
    const std::int32_t pdy = prevY - y;
    const bool hasPrev = !(prevX == kNoPoint && prevY == kNoPoint);
    if (pdx >= -1 && pdx <= 1 && pdy >= -1 && pdy <= 1) {
        const std::int32_t cell = (pdy + 1) * 3 + (pdx + 1);  // 0..8 without the centre 4
        mask &= ~(1U << (cell < 4 ? cell : cell - 1));
    }
    const std::int32_t found = kMaskCount[mask];
    if (found == 0) return {x, y, 0};
    const std::int32_t i0 = std::countr_zero(mask);
    const std::int32_t x0 = x + kScanDx[i0];
    const std::int32_t y0 = y + kScanDy[i0];
    if (found == 1) return {x0, y0, 1};
    if (found >= 3) return {x, y, 3};

    const std::int32_t i1 = std::countr_zero(mask & (mask - 1));
    const std::int32_t x1 = x + kScanDx[i1];
    const std::int32_t y1 = y + kScanDy[i1];
    if (hasPrev) {
        const auto touchesPrev = [&](std::int32_t px, std::int32_t py) {
            const std::int32_t dx = px - prevX;
            const std::int32_t dy = py - prevY;
            return (dy == 0 && (dx == 1 || dx == -1)) || (dx == 0 && (dy == 1 || dy == -1));
        };
        if (touchesPrev(x0, y0)) return {x1, y1, 1};
        if (touchesPrev(x1, y1)) return {x0, y0, 1};
    }
    const std::int32_t adx = x0 > x1 ? x0 - x1 : x1 - x0;
    const std::int32_t ady = y0 > y1 ? y0 - y1 : y1 - y0;
    if (y0 == y1 && adx == 1) return {x, y0, 1};
    if (x0 == x1 && ady == 1) return {x0, y, 1};
    return {x, y, 2};
}

StepResult branchStart(const std::uint8_t* image, std::int32_t width, std::int32_t y,
                       std::int32_t x, std::int32_t firstY, std::int32_t firstX,
                       std::int32_t secondY, std::int32_t secondX) {
    for (std::int32_t i = 0; i < 8; ++i) {
        const std::int32_t nx = x + kScanDx[i];
        const std::int32_t ny = y + kScanDy[i];
        if (nx == firstX && ny == firstY) continue;
        if (nx == secondX && ny == secondY) continue;
        if (isSet(image, width, nx, ny)) return {nx, ny, 1};
    }
    return {x, y, 1};
}

std::int32_t safeArea(std::int32_t width, std::int32_t height, std::int32_t y, std::int32_t x,
                      std::int32_t margin, const std::uint8_t* blockMap) {
    if (y < margin || y > height - margin - 1 || x < margin || x > width - margin - 1) return 0;
    const std::int32_t bx = x / 8;
    const std::int32_t by = y / 8;
    const std::int32_t rowLength = width / 8;
    const std::int32_t rows = height / 8;
    // Blocks beyond the map count as background (small margins near the edge).
    if (bx < 1 || by < 1 || bx + 1 >= rowLength || by + 1 >= rows) return 0;
    for (std::int32_t j = by - 1; j <= by + 1; ++j) {
        for (std::int32_t i = bx - 1; i <= bx + 1; ++i) {
            if (blockMap[j * rowLength + i] == 0) return 0;
        }
    }
    return 1;
}

std::int32_t endingDirection(const std::uint8_t* image, std::int32_t width, std::int32_t x,
                             std::int32_t y, bool longForm) {
    const StepResult first = ridgeStep(image, width, y, x, kNoPoint, kNoPoint);
    const Point p0{x, y};
    const Point p1{first.x, first.y};
    if (!longForm) {
        const Point p5 = followRidge(image, width, p0, p1, kShortEndingSteps);
        return angleBetween(p0.x, p0.y, p5.x, p5.y);
    }
    // P7 and P10: the walk continues from P7 with P6 as its previous point.
    Point prev = p0;
    Point cur = p1;
    Point near{0, 0};
    for (std::int32_t k = 1; k <= kLongEndingSteps; ++k) {
        const StepResult s = ridgeStep(image, width, cur.y, cur.x, prev.y, prev.x);
        prev = cur;
        cur = {s.x, s.y};
        if (k + 1 == kLongNearPoint) near = cur;
    }
    static_assert(kLongFarPoint == kLongEndingSteps + 1);
    return directionBisector(angleBetween(p1.x, p1.y, near.x, near.y),
                             angleBetween(p1.x, p1.y, cur.x, cur.y));
}

std::int32_t bifurcationDirection(const std::uint8_t* image, std::int32_t width, std::int32_t x,
                                  std::int32_t y) {
    const StepResult s1 = branchStart(image, width, y, x, kNoPoint, kNoPoint, kNoPoint, kNoPoint);
    const StepResult s2 = branchStart(image, width, y, x, s1.y, s1.x, kNoPoint, kNoPoint);
    const StepResult s3 = branchStart(image, width, y, x, s1.y, s1.x, s2.y, s2.x);
    const Point fork{x, y};
    // T1 is the branch start; T8 lies seven steps further on.
    const Point e1 = followRidge(image, width, fork, {s1.x, s1.y}, kBranchReach - 1);
    const Point e2 = followRidge(image, width, fork, {s2.x, s2.y}, kBranchReach - 1);
    const Point e3 = followRidge(image, width, fork, {s3.x, s3.y}, kBranchReach - 1);

    const auto dist2 = [](Point a, Point b) {
        return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
    };
    const std::int32_t d12 = dist2(e1, e2);
    const std::int32_t d23 = dist2(e2, e3);
    const std::int32_t d31 = dist2(e3, e1);
    Point lone{0, 0};
    Point f{0, 0};
    Point g{0, 0};
    if (d12 <= d23 && d12 <= d31) {
        lone = e3;
        f = e1;
        g = e2;
    } else if (d23 <= d31) {
        lone = e1;
        f = e2;
        g = e3;
    } else {
        lone = e2;
        f = e3;
        g = e1;
    }
    return directionBisector(angleBetween(lone.x, lone.y, f.x, f.y),
                             angleBetween(lone.x, lone.y, g.x, g.y));
}

}  // namespace zp
