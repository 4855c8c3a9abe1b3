// Ground-truth minutiae of a master: thinning of the binary master, crossing
// numbers on the skeleton, removal of thinning artefacts, directions by tracing.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "det_math.h"
#include "synth_internal.h"

namespace zp::synth::internal {
namespace {

constexpr int kBorderMargin = 14;    // minutiae closer than this to the finger's edge are cut ridges
constexpr int kSpurLength = 10;      // an ending this close along its ridge to a fork is a spur
constexpr int kIslandLength = 14;    // a ridge this short between two endings is a dot
constexpr int kBridgeLength = 7;     // two forks this close along a ridge are a bridge or a hole
constexpr int kBreakDistance = 8;    // two endings this close across a gap are a broken ridge
constexpr int kForkMerge = 2;        // fork pixels this close are one fork
constexpr int kDirectionSteps = 10;  // ridge pixels traced to set a direction

// Neighbours in cyclic order, starting east and turning towards +y.
constexpr std::array<std::array<int, 2>, 8> kRing = {{{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}}};

struct Point {
    int x, y;
};

bool isSet(const std::vector<std::uint8_t>& s, int w, int h, int x, int y) {
    return x >= 0 && y >= 0 && x < w && y < h && s[static_cast<std::size_t>(y) * w + x] != 0;
}

enum class Stop { Length, Ending, Fork };

struct Trace {
    Point end;
    int steps;
    Stop stop;
};

// Walks along a skeleton line from `from` through its neighbour `first`
// for at most maxSteps pixels, stopping at an ending or a fork.
Trace trace(const std::vector<std::uint8_t>& s, int w, int h, Point from, Point first, int maxSteps) {
    std::array<Point, 3> recent = {from, from, from};
    Point cur = first;
    int steps = 1;
    for (;;) {
        const int cn = crossingNumber(s, w, cur.x, cur.y);
        if (cn == 1) return {cur, steps, Stop::Ending};
        if (cn >= 3) return {cur, steps, Stop::Fork};
        if (steps >= maxSteps) return {cur, steps, Stop::Length};
        // Prefer a pixel that does not touch the previous one (at a fork the
        // other branches touch it), then a straight step over a diagonal one.
        Point next{-1, -1};
        const Point& previous = recent[2];
        for (int pass = 0; pass < 4 && next.x < 0; ++pass) {
            for (int k = pass % 2; k < 8; k += 2) {
                const Point q{cur.x + kRing[k][0], cur.y + kRing[k][1]};
                if (!isSet(s, w, h, q.x, q.y)) continue;
                bool old = false;
                for (const Point& r : recent) old = old || (r.x == q.x && r.y == q.y);
                const bool touches = std::abs(q.x - previous.x) <= 1 && std::abs(q.y - previous.y) <= 1;
                if (!old && touches == (pass >= 2)) { next = q; break; }
            }
        }
        if (next.x < 0) return {cur, steps, Stop::Ending};
        recent = {recent[1], recent[2], cur};
        cur = next;
        ++steps;
    }
}

// One starting neighbour per run of set neighbours (a straight one when the run has one).
std::vector<Point> branchStarts(const std::vector<std::uint8_t>& s, int w, int h, Point p) {
    std::array<bool, 8> on{};
    for (int k = 0; k < 8; ++k) on[k] = isSet(s, w, h, p.x + kRing[k][0], p.y + kRing[k][1]);
    int startK = -1;
    for (int k = 0; k < 8; ++k)
        if (!on[k]) { startK = k; break; }
    std::vector<Point> starts;
    if (startK < 0) return starts;
    int best = -1;
    for (int step = 1; step <= 8; ++step) {
        const int k = (startK + step) % 8;
        if (on[k]) {
            if (best < 0 || (k % 2 == 0 && best % 2 == 1)) best = k;
        } else if (best >= 0) {
            starts.push_back({p.x + kRing[best][0], p.y + kRing[best][1]});
            best = -1;
        }
    }
    return starts;
}

int squaredDistance(Point a, Point b) { return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y); }

// Chamfer distance (3-4 weights, in thirds of a pixel) to the nearest pixel outside the finger.
std::vector<int> edgeDistance(const std::vector<std::uint8_t>& inside, int w, int h) {
    constexpr int kFar = 1 << 20;
    std::vector<int> d(inside.size());
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = inside[i] ? kFar : 0;
    auto at = [&](int x, int y) { return (x < 0 || y < 0 || x >= w || y >= h) ? 0 : d[static_cast<std::size_t>(y) * w + x]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int& v = d[static_cast<std::size_t>(y) * w + x];
            v = std::min({v, at(x - 1, y) + 3, at(x, y - 1) + 3, at(x - 1, y - 1) + 4, at(x + 1, y - 1) + 4});
        }
    for (int y = h - 1; y >= 0; --y)
        for (int x = w - 1; x >= 0; --x) {
            int& v = d[static_cast<std::size_t>(y) * w + x];
            v = std::min({v, at(x + 1, y) + 3, at(x, y + 1) + 3, at(x + 1, y + 1) + 4, at(x - 1, y + 1) + 4});
        }
    return d;
}

struct Candidate {
    Point p;
    MinutiaType type;
    bool kept;
};

}  // namespace

std::vector<std::uint8_t> thin(const std::vector<std::uint8_t>& binary, int width, int height) {
    std::vector<std::uint8_t> s(binary.size());
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = binary[i] ? 1 : 0;
    // Image borders count as background.
    for (int x = 0; x < width; ++x) s[x] = s[static_cast<std::size_t>(height - 1) * width + x] = 0;
    for (int y = 0; y < height; ++y) s[static_cast<std::size_t>(y) * width] = s[static_cast<std::size_t>(y) * width + width - 1] = 0;
    std::vector<std::size_t> remove;
    bool changed = true;
    while (changed) {
        changed = false;
        for (int sub = 0; sub < 2; ++sub) {
            remove.clear();
            for (int y = 1; y < height - 1; ++y) {
                for (int x = 1; x < width - 1; ++x) {
                    const std::size_t i = static_cast<std::size_t>(y) * width + x;
                    if (!s[i]) continue;
                    // P2..P9 clockwise from north.
                    const int p2 = s[i - width], p3 = s[i - width + 1], p4 = s[i + 1], p5 = s[i + width + 1];
                    const int p6 = s[i + width], p7 = s[i + width - 1], p8 = s[i - 1], p9 = s[i - width - 1];
                    const int b = p2 + p3 + p4 + p5 + p6 + p7 + p8 + p9;
                    if (b < 3 || b > 6) continue;  // 3, not 2: two-pixel diagonal lines survive
                    const int a = (!p2 && p3) + (!p3 && p4) + (!p4 && p5) + (!p5 && p6) + (!p6 && p7) + (!p7 && p8) +
                                  (!p8 && p9) + (!p9 && p2);
                    if (a != 1) continue;
                    if (sub == 0 ? (p2 * p4 * p6 != 0 || p4 * p6 * p8 != 0) : (p2 * p4 * p8 != 0 || p2 * p6 * p8 != 0))
                        continue;
                    remove.push_back(i);
                }
            }
            for (std::size_t i : remove) s[i] = 0;
            changed = changed || !remove.empty();
        }
    }
    return s;
}

int crossingNumber(const std::vector<std::uint8_t>& skeleton, int width, int x, int y) {
    const int height = static_cast<int>(skeleton.size() / static_cast<std::size_t>(width));
    int transitions = 0;
    for (int k = 0; k < 8; ++k) {
        const bool a = isSet(skeleton, width, height, x + kRing[k][0], y + kRing[k][1]);
        const bool b = isSet(skeleton, width, height, x + kRing[(k + 1) % 8][0], y + kRing[(k + 1) % 8][1]);
        transitions += a != b;
    }
    return transitions / 2;
}

std::vector<Minutia> skeletonMinutiae(const std::vector<std::uint8_t>& skeleton, const std::vector<std::uint8_t>& silhouette,
                                      int width, int height) {
    const int w = width, h = height;
    const std::vector<int> edge = edgeDistance(silhouette, w, h);
    std::vector<Candidate> candidates;
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            if (!skeleton[static_cast<std::size_t>(y) * w + x]) continue;
            const int cn = crossingNumber(skeleton, w, x, y);
            if (cn != 1 && cn != 3) continue;
            const MinutiaType type = cn == 1 ? MinutiaType::Ending : MinutiaType::Bifurcation;
            if (type == MinutiaType::Bifurcation) {
                bool merged = false;
                for (const Candidate& c : candidates)
                    merged = merged || (c.type == type && squaredDistance(c.p, {x, y}) <= kForkMerge * kForkMerge * 2);
                if (merged) continue;
            }
            candidates.push_back({{x, y}, type, true});
        }
    }
    auto forkNear = [&](Point p) -> Candidate* {
        for (Candidate& c : candidates)
            if (c.type == MinutiaType::Bifurcation && squaredDistance(c.p, p) <= 2 * kForkMerge * kForkMerge) return &c;
        return nullptr;
    };
    auto endingAt = [&](Point p) -> Candidate* {
        for (Candidate& c : candidates)
            if (c.type == MinutiaType::Ending && c.p.x == p.x && c.p.y == p.y) return &c;
        return nullptr;
    };

    // Artefacts of thinning and of ridges that nearly touch, judged on the
    // whole candidate list before any is removed.
    std::vector<bool> drop(candidates.size(), false);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        Candidate& c = candidates[i];
        const std::vector<Point> starts = branchStarts(skeleton, w, h, c.p);
        if (c.type == MinutiaType::Ending) {
            if (starts.empty()) { drop[i] = true; continue; }
            const Trace t = trace(skeleton, w, h, c.p, starts[0], kIslandLength);
            if (t.stop == Stop::Fork && t.steps <= kSpurLength) {
                drop[i] = true;
                if (Candidate* f = forkNear(t.end)) drop[static_cast<std::size_t>(f - candidates.data())] = true;
            } else if (t.stop == Stop::Ending) {
                drop[i] = true;
                if (Candidate* e = endingAt(t.end)) drop[static_cast<std::size_t>(e - candidates.data())] = true;
            }
            for (std::size_t j = i + 1; j < candidates.size(); ++j)
                if (candidates[j].type == MinutiaType::Ending &&
                    squaredDistance(c.p, candidates[j].p) < kBreakDistance * kBreakDistance)
                    drop[i] = drop[j] = true;
        } else {
            for (const Point& s : starts) {
                const Trace t = trace(skeleton, w, h, c.p, s, kBridgeLength);
                if (t.stop != Stop::Fork) continue;
                Candidate* f = forkNear(t.end);
                if (f != nullptr && f != &c) drop[i] = drop[static_cast<std::size_t>(f - candidates.data())] = true;
            }
        }
    }

    std::vector<Minutia> out;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& c = candidates[i];
        if (drop[i] || edge[static_cast<std::size_t>(c.p.y) * w + c.p.x] < 3 * kBorderMargin) continue;
        const std::vector<Point> starts = branchStarts(skeleton, w, h, c.p);
        Minutia m;
        m.x = c.p.x;
        m.y = c.p.y;
        m.type = c.type;
        if (c.type == MinutiaType::Ending) {
            const Trace t = trace(skeleton, w, h, c.p, starts[0], kDirectionSteps);
            m.direction = det::directionDegrees(t.end.x - c.p.x, t.end.y - c.p.y);
        } else {
            if (starts.size() != 3) continue;
            std::array<Point, 3> e{};
            for (int b = 0; b < 3; ++b) e[b] = trace(skeleton, w, h, c.p, starts[b], kDirectionSteps).end;
            const int d01 = squaredDistance(e[0], e[1]), d12 = squaredDistance(e[1], e[2]), d20 = squaredDistance(e[2], e[0]);
            const int lone = (d01 <= d12 && d01 <= d20) ? 2 : (d12 <= d20 ? 0 : 1);
            const Point f = e[(lone + 1) % 3], g = e[(lone + 2) % 3], o = e[lone];
            m.direction = det::directionDegrees(0.5 * (f.x + g.x) - o.x, 0.5 * (f.y + g.y) - o.y);
        }
        out.push_back(m);
    }
    return out;
}

}  // namespace zp::synth::internal
