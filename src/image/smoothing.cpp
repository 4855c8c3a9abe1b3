#include "image/smoothing.h"

#include <cstring>

namespace zp {
namespace {

constexpr std::int32_t kFrame = 8;
constexpr std::int32_t kBlockShift = 3;
// The result of row y is parked in row y - kDelay until the pass ends.
constexpr std::int32_t kDelay = 4;

// Smooths the pixels xs..xe-1 of row b (rows a above, c below) into out.
void smoothPixels(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c, std::uint8_t* out,
                  std::int32_t xs, std::int32_t xe) {
    for (std::int32_t x = xs; x < xe; ++x) {
        const std::int32_t sum = a[x - 1] + 2 * a[x] + a[x + 1] + 2 * b[x - 1] + 4 * b[x] + 2 * b[x + 1] +
                                 c[x - 1] + 2 * c[x] + c[x + 1];
        out[x] = static_cast<std::uint8_t>(sum >> 4);
    }
}

// The finger segments of row b from xs on; out already holds row b.
void smoothSegments(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c, std::uint8_t* out,
                    const std::uint8_t* blocks, std::int32_t xs, std::int32_t width) {
    for (; xs < width - kFrame; xs = (xs | 7) + 1) {
        const std::int32_t xe = (xs | 7) + 1 < width - kFrame ? (xs | 7) + 1 : width - kFrame;
        if (blocks[xs >> kBlockShift] != 0) smoothPixels(a, b, c, out, xs, xe);
    }
}

void smoothRowPortable(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c, std::uint8_t* out,
                       const std::uint8_t* blocks, std::int32_t width) {
    smoothSegments(a, b, c, out, blocks, kFrame, width);
}

#if defined(ZP_VECTOR_PATHS)
// The vector paths: a weighted sum (at most 16 x 255) fits a 16-bit lane.
// Written with the compiler's vector types and inlined into each path's
// row function, whose target gives the instructions; values go through
// references so that no 32-byte vector crosses a call outside an AVX
// function. Background blocks keep row b through a mask of eight lanes a block.
using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
using Words16 = std::uint16_t __attribute__((vector_size(32)));
using Bytes32 = std::uint8_t __attribute__((vector_size(32)));
using Words32 = std::uint16_t __attribute__((vector_size(64)));

template <typename Bytes, typename Words>
[[gnu::always_inline]] inline void widened(Words& w, const std::uint8_t* p) {
    Bytes v;
    std::memcpy(&v, p, sizeof(Bytes));
    w = __builtin_convertvector(v, Words);
}

// Row p's 1 2 1 sums of the lanes from p on.
template <typename Bytes, typename Words>
[[gnu::always_inline]] inline void rowSums(Words& sum, const std::uint8_t* p) {
    Words left, centre, right;
    widened<Bytes>(left, p - 1);
    widened<Bytes>(centre, p);
    widened<Bytes>(right, p + 1);
    sum = left + 2 * centre + right;
}

// Smooths sizeof(Bytes) pixels from column x, starting a block.
template <typename Bytes, typename Words>
[[gnu::always_inline]] inline void smoothLanes(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c,
                                               std::uint8_t* out, const std::uint8_t* blocks, std::int32_t x) {
    Words above, middle, below;
    rowSums<Bytes>(above, a + x);
    rowSums<Bytes>(middle, b + x);
    rowSums<Bytes>(below, c + x);
    const Bytes smoothed = __builtin_convertvector((above + 2 * middle + below) >> 4, Bytes);
    std::uint64_t finger[sizeof(Bytes) / 8];
    for (std::size_t k = 0; k < sizeof(Bytes) / 8; ++k) finger[k] = blocks[(x >> kBlockShift) + k] != 0 ? ~0ULL : 0;
    Bytes mask, original;
    std::memcpy(&mask, finger, sizeof(Bytes));
    std::memcpy(&original, b + x, sizeof(Bytes));
    const Bytes result = (smoothed & mask) | (original & ~mask);
    std::memcpy(out + x, &result, sizeof(Bytes));
}

// The pixels left after the whole steps from x: one more 16-pixel step
// that ends at the last decided column, where it starts a block (it decides
// a few pixels again, alike, since results go to another row), else one
// pixel at a time.
void finishRow(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c, std::uint8_t* out,
               const std::uint8_t* blocks, std::int32_t x, std::int32_t width) {
    const std::int32_t lastStep = width - kFrame - 16;
    if (x < width - kFrame && lastStep >= kFrame && lastStep % 8 == 0) {
        smoothLanes<Bytes16, Words16>(a, b, c, out, blocks, lastStep);
        return;
    }
    smoothSegments(a, b, c, out, blocks, x, width);
}

void smoothRowSse2(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c, std::uint8_t* out,
                   const std::uint8_t* blocks, std::int32_t width) {
    std::int32_t x = kFrame;
    for (; x + 16 <= width - kFrame; x += 16) smoothLanes<Bytes16, Words16>(a, b, c, out, blocks, x);
    finishRow(a, b, c, out, blocks, x, width);
}

__attribute__((target("avx2"))) void smoothRowAvx2(const std::uint8_t* a, const std::uint8_t* b,
                                                   const std::uint8_t* c, std::uint8_t* out,
                                                   const std::uint8_t* blocks, std::int32_t width) {
    std::int32_t x = kFrame;
    for (; x + 32 <= width - kFrame; x += 32) smoothLanes<Bytes32, Words32>(a, b, c, out, blocks, x);
    for (; x + 16 <= width - kFrame; x += 16) smoothLanes<Bytes16, Words16>(a, b, c, out, blocks, x);
    finishRow(a, b, c, out, blocks, x, width);
}
#endif

using RowSmoother = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*,
                             const std::uint8_t*, std::int32_t);

}  // namespace

void smoothImage(std::uint8_t* image, std::int32_t width, std::int32_t height,
                 const std::uint8_t* workArea) {
    smoothImage(image, width, height, workArea, bestVectorPath());
}

void smoothImage(std::uint8_t* image, std::int32_t width, std::int32_t height,
                 const std::uint8_t* workArea, VectorPath path) {
    if (width < 1 || height < 2 * kDelay) return;
    const auto rowBytes = static_cast<std::size_t>(width);
    std::memcpy(image, image + kDelay * width, kDelay * rowBytes);

#if defined(ZP_VECTOR_PATHS)
    const RowSmoother smoothRow = functionForPath<RowSmoother>(path, smoothRowPortable, smoothRowSse2, smoothRowAvx2);
#else
    static_cast<void>(path);
    const RowSmoother smoothRow = smoothRowPortable;
#endif
    const std::int32_t columns = width >> kBlockShift;
    for (std::int32_t y = kFrame; y < height - kFrame; ++y) {
        const std::uint8_t* a = image + (y - 1) * width;
        const std::uint8_t* b = a + width;
        const std::uint8_t* c = b + width;
        std::uint8_t* out = image + (y - kDelay) * width;
        std::memcpy(out, b, rowBytes);
        smoothRow(a, b, c, out, workArea + (y >> kBlockShift) * columns, width);
    }
    // Rows 0..height - 13 move down by four: the parked results land in
    // rows 8..height - 9 and the saved rows 4..7 back in place.
    if (height - 12 > 0) {
        std::memmove(image + kDelay * width, image, static_cast<std::size_t>(height - 12) * rowBytes);
    }
}

}  // namespace zp
