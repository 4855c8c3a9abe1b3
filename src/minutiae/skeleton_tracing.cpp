#include "minutiae/skeleton_tracing.h"

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
    const std::uint8_t* row = image + y * width + x;
    const bool nw = row[-width - 1] != 0;
    const bool n = row[-width] != 0;
    const bool ne = row[-width + 1] != 0;
    const bool w = row[-1] != 0;
    const bool e = row[1] != 0;
    const bool sw = row[width - 1] != 0;
    const bool s = row[width] != 0;
    const bool se = row[width + 1] != 0;
    const std::int32_t count = static_cast<std::int32_t>(nw) + n + ne + w + (row[0] != 0) + e +
                               sw + s + se - 1;
    if (count <= 0) return -1;
    if (count == 1) return 1;
    if (count == 2) return 0;
    if (count >= 4) return 3;
    if (n && (nw || ne)) return 0;
    if (s && (sw || se)) return 0;
    if (w && (nw || sw)) return 0;
    if (e && (ne || se)) return 0;
    return 2;
}

StepResult ridgeStep(const std::uint8_t* image, std::int32_t width, std::int32_t y,
                     std::int32_t x, std::int32_t prevY, std::int32_t prevX) {
    if (x == prevX && y == prevY) return {x, y, 0};

    std::int32_t cx[3] = {0, 0, 0};
    std::int32_t cy[3] = {0, 0, 0};
    std::int32_t found = 0;
    for (std::int32_t i = 0; i < 8 && found < 3; ++i) {
        const std::int32_t nx = x + kScanDx[i];
        const std::int32_t ny = y + kScanDy[i];
        if (nx == prevX && ny == prevY) continue;
        if (!isSet(image, width, nx, ny)) continue;
        cx[found] = nx;
        cy[found] = ny;
        ++found;
    }
    if (found == 0) return {x, y, 0};
    if (found == 1) return {cx[0], cy[0], 1};
    if (found >= 3) return {x, y, 3};

    const bool hasPrev = !(prevX == kNoPoint && prevY == kNoPoint);
    if (hasPrev) {
        const auto touchesPrev = [&](std::int32_t px, std::int32_t py) {
            const std::int32_t dx = px - prevX;
            const std::int32_t dy = py - prevY;
            return (dy == 0 && (dx == 1 || dx == -1)) || (dx == 0 && (dy == 1 || dy == -1));
        };
        if (touchesPrev(cx[0], cy[0])) return {cx[1], cy[1], 1};
        if (touchesPrev(cx[1], cy[1])) return {cx[0], cy[0], 1};
    }
    const std::int32_t adx = cx[0] > cx[1] ? cx[0] - cx[1] : cx[1] - cx[0];
    const std::int32_t ady = cy[0] > cy[1] ? cy[0] - cy[1] : cy[1] - cy[0];
    if (cy[0] == cy[1] && adx == 1) return {x, cy[0], 1};
    if (cx[0] == cx[1] && ady == 1) return {cx[0], y, 1};
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
