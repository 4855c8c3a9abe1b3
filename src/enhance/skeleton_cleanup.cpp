#include "enhance/skeleton_cleanup.h"

#include <bit>

#include "enhance/thinning.h"
#include "math/integer_math.h"
#include "minutiae/neighbour_counts.h"
#include "minutiae/skeleton_tracing.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

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
void resolveMarksPortable(std::uint8_t* image, std::int32_t width, std::int32_t height, std::uint8_t value) {
    for (std::int32_t y = kBorder; y < height - kBorder; ++y) {
        std::uint8_t* row = image + y * width;
        for (std::int32_t x = firstNonZero(row, kBorder, width - kBorder); x < width - kBorder;
             x = firstNonZero(row, x + 1, width - kBorder)) {
            if (row[x] == kMark) row[x] = value;
        }
    }
}

#if defined(ZP_VECTOR_PATHS)
// The same 32 pixels at a time, the row's last few one by one.
__attribute__((target("avx2"))) void resolveMarksAvx2(std::uint8_t* image, std::int32_t width, std::int32_t height,
                                                     std::uint8_t value) {
    constexpr std::int32_t kLanes = 32;
    const __m256i mark = _mm256_set1_epi8(static_cast<char>(kMark));
    const __m256i to = _mm256_set1_epi8(static_cast<char>(value));
    for (std::int32_t y = kBorder; y < height - kBorder; ++y) {
        std::uint8_t* row = image + y * width;
        std::int32_t x = kBorder;
        for (; x + kLanes <= width - kBorder; x += kLanes) {
            auto* at = reinterpret_cast<__m256i*>(row + x);
            const __m256i v = _mm256_loadu_si256(at);
            _mm256_storeu_si256(at, _mm256_blendv_epi8(v, to, _mm256_cmpeq_epi8(v, mark)));
        }
        for (; x < width - kBorder; ++x) {
            if (row[x] == kMark) row[x] = value;
        }
    }
}
#endif

void resolveMarks(std::uint8_t* image, std::int32_t width, std::int32_t height, std::uint8_t value,
                  VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    using MarkResolver = void (*)(std::uint8_t*, std::int32_t, std::int32_t, std::uint8_t);
    functionForPath<MarkResolver>(path, resolveMarksPortable, resolveMarksPortable, resolveMarksAvx2)(image, width, height,
                                                                                                     value);
#else
    static_cast<void>(path);
    resolveMarksPortable(image, width, height, value);
#endif
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

// Deletes the pixel at p when isolated, or traces the line it ends.
inline void removeIfSpur(std::uint8_t* image, std::int32_t width, std::int32_t x, std::int32_t y) {
    std::uint8_t* p = image + y * width + x;
    if (*p != 1) return;
    const std::int32_t s = p[-width - 1] + p[-width] + p[-width + 1] + p[-1] + p[1] +
                           p[width - 1] + p[width] + p[width + 1];
    if (s == 0) {
        *p = 0;
    } else if (s == 1) {
        markSpur(image, width, x, y);
    }
}

#if defined(ZP_VECTOR_PATHS)
// Pixels x0 .. x0 + 31 of row y that are 1 with a neighbour sum of at most
// 1 (saturated, so marks of 3 and any larger values count as many). As the
// scan goes on, pixels only leave the value 1 and sums only grow (a mark
// turns a 1 into a 3; a deleted pixel had no neighbour left to count it),
// so these bits, taken whenever the scan reaches them, hold every pixel the
// scan will act on. The loads stay inside the image: the frame is 8 wide.
__attribute__((target("avx2"))) inline __m256i at(const std::uint8_t* q) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
}

__attribute__((target("avx2"))) std::uint32_t spurCandidates(const std::uint8_t* image, std::int32_t width,
                                                           std::int32_t x0, std::int32_t y) {
    const std::uint8_t* p = image + y * width + x0;
    const __m256i one = _mm256_set1_epi8(1);
    __m256i s = _mm256_adds_epu8(at(p - width - 1), at(p - width));
    s = _mm256_adds_epu8(s, at(p - width + 1));
    s = _mm256_adds_epu8(s, at(p - 1));
    s = _mm256_adds_epu8(s, at(p + 1));
    s = _mm256_adds_epu8(s, at(p + width - 1));
    s = _mm256_adds_epu8(s, at(p + width));
    s = _mm256_adds_epu8(s, at(p + width + 1));
    const __m256i atMostOne = _mm256_cmpeq_epi8(_mm256_max_epu8(s, one), one);
    const __m256i isOne = _mm256_cmpeq_epi8(at(p), one);
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(atMostOne, isOne)));
}

__attribute__((target("avx2"))) void spurScanAvx2(std::uint8_t* image, std::int32_t width, std::int32_t height) {
    constexpr std::int32_t kLanes = 32;
    const std::int32_t end = width - kBorder;
    for (std::int32_t y = kBorder; y < height - kBorder; ++y) {
        for (std::int32_t x0 = kBorder; x0 < end; x0 += kLanes) {
            std::uint32_t bits = spurCandidates(image, width, x0, y) & pixelsBefore(x0, end);
            for (; bits != 0; bits &= bits - 1) removeIfSpur(image, width, x0 + std::countr_zero(bits), y);
        }
    }
}
#endif

void spurScanPortable(std::uint8_t* image, std::int32_t width, std::int32_t height) {
    for (std::int32_t y = kBorder; y < height - kBorder; ++y) {
        const std::uint8_t* row = image + y * width;
        for (std::int32_t x = firstNonZero(row, kBorder, width - kBorder); x < width - kBorder;
             x = firstNonZero(row, x + 1, width - kBorder)) {
            removeIfSpur(image, width, x, y);
        }
    }
}

}  // namespace

void spurRemoval(std::int32_t classCode, std::uint8_t* image, std::int32_t width, std::int32_t height) {
    spurRemoval(classCode, image, width, height, bestVectorPath());
}

void spurRemoval(std::int32_t /*classCode*/, std::uint8_t* image, std::int32_t width,
                 std::int32_t height, VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    if (avx2RowScan(path, width, kBorder)) {
        spurScanAvx2(image, width, height);
    } else {
        spurScanPortable(image, width, height);
    }
#else
    static_cast<void>(path);
    spurScanPortable(image, width, height);
#endif
    resolveMarks(image, width, height, 0, path);
    thinning(image, width, height, kBorder);
}

namespace {

// Deletes the pixel (x, y) when alone; fills the small loop through it when
// it forks. True when a loop was filled.
bool fillIfLoop(std::uint8_t* image, std::int32_t width, std::int32_t x, std::int32_t y, LoopPath& path) {
    std::uint8_t* p = image + y * width + x;
    if (*p != 1) return false;
    const std::int32_t cls = neighbourClass(image, width, y, x);
    if (cls == -1) {
        *p = 0;
    } else if (cls == 2 && findLoop(image, width, x, y, path)) {
        fillLoop(image, width, path);
        return true;
    }
    return false;
}

#if defined(ZP_VECTOR_PATHS)
// Pixels x0 .. x0 + 31 of row y that are 1 with no set neighbour or three
// (a fork has three): deleting a lone pixel changes no other candidate, so
// the bits hold until a loop is filled, and then they are taken again.
__attribute__((target("avx2"))) std::uint32_t loopCandidates(const std::uint8_t* image, std::int32_t width,
                                                           std::int32_t x0, std::int32_t y) {
    const __m256i count = neighbourCountsAvx2(image, width, x0, y);
    const __m256i alone = _mm256_cmpeq_epi8(count, _mm256_setzero_si256());
    const __m256i three = _mm256_cmpeq_epi8(count, _mm256_set1_epi8(3));
    const __m256i one = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(image + y * width + x0)),
                                          _mm256_set1_epi8(1));
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(one, _mm256_or_si256(alone, three))));
}

__attribute__((target("avx2"))) void loopScanAvx2(std::uint8_t* image, std::int32_t width, std::int32_t height) {
    LoopPath loop;
    const std::int32_t end = width - kBorder;
    for (std::int32_t y = kBorder; y < height - kBorder; ++y) {
        for (std::int32_t x0 = kBorder; x0 < end; x0 += 32) {
            const std::uint32_t inRow = pixelsBefore(x0, end);
            std::uint32_t bits = loopCandidates(image, width, x0, y) & inRow;
            while (bits != 0) {
                const std::int32_t k = std::countr_zero(bits);
                bits &= bits - 1;
                if (fillIfLoop(image, width, x0 + k, y, loop)) {
                    // The fill may have changed any pixel still ahead.
                    bits = loopCandidates(image, width, x0, y) & inRow & ~((2U << k) - 1);
                }
            }
        }
    }
}
#endif

void loopScanPortable(std::uint8_t* image, std::int32_t width, std::int32_t height) {
    LoopPath loop;
    for (std::int32_t y = kBorder; y < height - kBorder; ++y) {
        const std::uint8_t* row = image + y * width;
        for (std::int32_t x = firstNonZero(row, kBorder, width - kBorder); x < width - kBorder;
             x = firstNonZero(row, x + 1, width - kBorder)) {
            fillIfLoop(image, width, x, y, loop);
        }
    }
}

}  // namespace

void loopFilling(std::uint8_t* image, std::int32_t width, std::int32_t height) {
    loopFilling(image, width, height, bestVectorPath());
}

void loopFilling(std::uint8_t* image, std::int32_t width, std::int32_t height, VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    if (avx2RowScan(path, width, kBorder)) {
        loopScanAvx2(image, width, height);
    } else {
        loopScanPortable(image, width, height);
    }
#else
    static_cast<void>(path);
    loopScanPortable(image, width, height);
#endif
    thinning(image, width, height, kBorder);
}

}  // namespace zp
