#include "enhance/skeleton_cleanup.h"

#include "enhance/thinning.h"
#include "math/integer_math.h"
#include "minutiae/skeleton_tracing.h"

namespace zp {
namespace {

// Frame of the image that neither operation examines or changes.
constexpr std::int32_t kBorder = 8;
// Value that marks pixels while an operation runs.
constexpr std::uint8_t kMark = 3;
// Spur trace: P0..P6; a line end whose first six steps all continue stays.
constexpr std::int32_t kSpurPoints = 7;
// Branch traces: points 0..19 (fork, branch start, 18 ridge steps).
constexpr std::int32_t kTracePoints = 20;
constexpr std::int32_t kLastTracePoint = kTracePoints - 1;
// Longest loop path: points 0..19 of one trace and 0..18 of another.
constexpr std::int32_t kLoopPoints = 2 * kTracePoints - 1;
// Starting values of the loop path's bounding box.
constexpr std::int32_t kBoxLeast = 1000;
constexpr std::int32_t kBoxGreatest = 0;

struct TracePoint {
    std::int32_t x;
    std::int32_t y;
    std::int32_t n;
};

// Traces the line from the end (x, y) and marks it when it is an isolated
// piece of up to 6 pixels or a spur of up to 5 pixels before a fork.
void markSpur(std::uint8_t* image, std::int32_t width, std::int32_t x, std::int32_t y) {
    TracePoint p[kSpurPoints];
    p[0] = {x, y, 1};
    const StepResult first = ridgeStep(image, width, y, x, kNoPoint, kNoPoint);
    p[1] = {first.x, first.y, first.n};
    std::int32_t k = 2;
    for (; k < kSpurPoints; ++k) {
        const StepResult s = ridgeStep(image, width, p[k - 1].y, p[k - 1].x, p[k - 2].y, p[k - 2].x);
        p[k] = {s.x, s.y, s.n};
        if (s.n != 1) break;
    }
    if (k == kSpurPoints) return;  // at least 7 pixels long
    std::int32_t last = -1;  // index of the last point to mark
    if (p[k].n == 0) {
        last = k - 1;  // isolated piece of k pixels
    } else if (p[k].n == 2) {
        last = k - 2;  // spur without its fork pixel
    } else if (k == 2) {
        last = 0;  // n = 3 right after the end
    }
    for (std::int32_t i = 0; i <= last; ++i) image[p[i].y * width + p[i].x] = kMark;
}

// Sets every 3 of the region to value.
void resolveMarks(std::uint8_t* image, std::int32_t width, std::int32_t height,
                  std::uint8_t value) {
    for (std::int32_t y = kBorder; y < height - kBorder; ++y) {
        std::uint8_t* row = image + y * width;
        for (std::int32_t x = firstNonZero(row, kBorder, width - kBorder); x < width - kBorder;
             x = firstNonZero(row, x + 1, width - kBorder)) {
            if (row[x] == kMark) row[x] = value;
        }
    }
}

struct LoopPath {
    std::int32_t x[kLoopPoints];
    std::int32_t y[kLoopPoints];
    std::int32_t count;
};

void appendPoints(LoopPath& path, const TracePoint* trace, std::int32_t from, std::int32_t to) {
    for (std::int32_t i = from; i <= to && path.count < kLoopPoints; ++i) {
        path.x[path.count] = trace[i].x;
        path.y[path.count] = trace[i].y;
        ++path.count;
    }
}

bool samePixel(const TracePoint& a, const TracePoint& b) { return a.x == b.x && a.y == b.y; }

// Looks for a small loop through the fork (x, y); fills path and answers true
// when one is found.
bool findLoop(const std::uint8_t* image, std::int32_t width, std::int32_t x, std::int32_t y,
              LoopPath& path) {
    TracePoint trace[3][kTracePoints];
    std::int32_t len[3] = {0, 0, 0};
    const StepResult s1 = branchStart(image, width, y, x, kNoPoint, kNoPoint, kNoPoint, kNoPoint);
    const StepResult s2 = branchStart(image, width, y, x, s1.y, s1.x, kNoPoint, kNoPoint);
    const StepResult s3 = branchStart(image, width, y, x, s1.y, s1.x, s2.y, s2.x);
    const StepResult starts[3] = {s1, s2, s3};
    const TracePoint fork{x, y, 1};
    path.count = 0;

    for (std::int32_t b = 0; b < 3; ++b) {
        TracePoint* t = trace[b];
        t[0] = fork;
        t[1] = {starts[b].x, starts[b].y, starts[b].n};
        for (std::int32_t k = 2; k < kTracePoints; ++k) {
            len[b] = k;
            const StepResult s = ridgeStep(image, width, t[k - 1].y, t[k - 1].x, t[k - 2].y, t[k - 2].x);
            t[k] = {s.x, s.y, s.n};
            if (s.n != 1) {
                if (samePixel(t[k], fork)) {
                    appendPoints(path, t, 0, k - 2);  // came back round to the fork
                    return true;
                }
                break;
            }
            for (std::int32_t a = 0; a < b; ++a) {
                if (trace[a][len[a]].n != 1) continue;  // only full-length traces
                for (std::int32_t i = len[a]; i >= len[a] / 2 + 1; --i) {
                    if (samePixel(t[k], trace[a][i])) {
                        appendPoints(path, trace[a], 0, i);
                        appendPoints(path, t, 0, k - 1);
                        return true;
                    }
                }
            }
        }
    }

    // Two branches that end on the same pixel.
    constexpr std::int32_t kPairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (const auto& pair : kPairs) {
        const std::int32_t a = pair[0];
        const std::int32_t b = pair[1];
        if (!samePixel(trace[a][len[a]], trace[b][len[b]])) continue;
        appendPoints(path, trace[a], 0, len[a] - 1);
        if (len[b] >= 3) appendPoints(path, trace[b], 1, len[b] - 2);
        return true;
    }
    return false;
}

// Marks the loop path and fills the hole it encloses, row by row within its
// bounding box; the loop and the hole become ridge.
void fillLoop(std::uint8_t* image, std::int32_t width, const LoopPath& path) {
    std::int32_t xmin = kBoxLeast;
    std::int32_t ymin = kBoxLeast;
    std::int32_t xmax = kBoxGreatest;
    std::int32_t ymax = kBoxGreatest;
    for (std::int32_t i = 0; i < path.count; ++i) {
        image[path.y[i] * width + path.x[i]] = kMark;
        if (path.x[i] < xmin) xmin = path.x[i];
        if (path.x[i] > xmax) xmax = path.x[i];
        if (path.y[i] < ymin) ymin = path.y[i];
        if (path.y[i] > ymax) ymax = path.y[i];
    }
    for (std::int32_t y = ymin; y <= ymax; ++y) {
        std::uint8_t* row = image + y * width;
        // Pixels set below all lie left of the row's rightmost mark, which
        // therefore stays where it is.
        std::int32_t lastMark = xmin - 1;
        for (std::int32_t x = xmax; x >= xmin; --x) {
            if (row[x] == kMark) {
                lastMark = x;
                break;
            }
        }
        bool inside = false;
        for (std::int32_t x = xmin; x <= xmax; ++x) {
            if (row[x] == kMark) {
                inside = !inside && row[x + 1] == 0;
            } else if (inside && x < lastMark) {
                row[x] = kMark;
            }
        }
        for (std::int32_t x = xmin; x <= xmax; ++x) {
            if (row[x] == kMark) row[x] = 1;
        }
    }
}

}  // namespace

void spurRemoval(std::int32_t /*classCode*/, std::uint8_t* image, std::int32_t width,
                 std::int32_t height) {
    for (std::int32_t y = kBorder; y < height - kBorder; ++y) {
        const std::uint8_t* row = image + y * width;
        for (std::int32_t x = firstNonZero(row, kBorder, width - kBorder); x < width - kBorder;
             x = firstNonZero(row, x + 1, width - kBorder)) {
            std::uint8_t* p = image + y * width + x;
            if (*p != 1) continue;
            const std::int32_t s = p[-width - 1] + p[-width] + p[-width + 1] + p[-1] + p[1] +
                                   p[width - 1] + p[width] + p[width + 1];
            if (s == 0) {
                *p = 0;
            } else if (s == 1) {
                markSpur(image, width, x, y);
            }
        }
    }
    resolveMarks(image, width, height, 0);
    thinning(image, width, height, kBorder);
}

void loopFilling(std::uint8_t* image, std::int32_t width, std::int32_t height) {
    LoopPath path;
    for (std::int32_t y = kBorder; y < height - kBorder; ++y) {
        const std::uint8_t* row = image + y * width;
        for (std::int32_t x = firstNonZero(row, kBorder, width - kBorder); x < width - kBorder;
             x = firstNonZero(row, x + 1, width - kBorder)) {
            std::uint8_t* p = image + y * width + x;
            if (*p != 1) continue;
            const std::int32_t cls = neighbourClass(image, width, y, x);
            if (cls == -1) {
                *p = 0;
            } else if (cls == 2 && findLoop(image, width, x, y, path)) {
                fillLoop(image, width, path);
            }
        }
    }
    thinning(image, width, height, kBorder);
}

}  // namespace zp
