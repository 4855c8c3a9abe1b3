#include "enhance/binary_smoothing.h"

#include <cstring>

namespace zp {
namespace {

constexpr std::int32_t kFrame = 8;
constexpr std::int32_t kBlockShift = 3;
// Results of row y wait in row y - kDelay until the pass ends.
constexpr std::int32_t kDelay = 4;

// Both tables in one, indexed by the pixel x 256 + its ridge-table index;
// the valley table only sees the low four bits (the edge neighbours).
constexpr std::array<std::uint8_t, 512> kSmoothingTable = [] {
    std::array<std::uint8_t, 512> table{};
    for (std::size_t i = 0; i < 256; ++i) {
        table[i] = kValleyTable[i & 15];
        table[256 + i] = kRidgeTable[i];
    }
    return table;
}();

constexpr std::uint32_t set(std::uint8_t v) { return v != 0 ? 1U : 0U; }

// Decides the pixels xs..xe-1 of row c (rows n above, s below) into out.
void smoothPixels(const std::uint8_t* n, const std::uint8_t* c, const std::uint8_t* s, std::uint8_t* out,
                  std::int32_t xs, std::int32_t xe) {
    for (std::int32_t x = xs; x < xe; ++x) {
        const std::uint32_t index = (set(c[x]) << 8) | (set(s[x + 1]) << 7) | (set(s[x - 1]) << 6) |
                                    (set(n[x - 1]) << 5) | (set(n[x + 1]) << 4) | (set(s[x]) << 3) |
                                    (set(c[x - 1]) << 2) | (set(n[x]) << 1) | set(c[x + 1]);
        out[x] = kSmoothingTable[index];
    }
}

// Row y's segments from xs on, each zero in a background block.
void smoothSegments(const std::uint8_t* n, const std::uint8_t* c, const std::uint8_t* s, std::uint8_t* out,
                    const std::uint8_t* blocks, std::int32_t xs, std::int32_t width) {
    for (; xs < width - kFrame; xs = (xs | 7) + 1) {
        const std::int32_t xe = (xs | 7) + 1 < width - kFrame ? (xs | 7) + 1 : width - kFrame;
        if (blocks[xs >> kBlockShift] == 0) {
            std::memset(out + xs, 0, static_cast<std::size_t>(xe - xs));
        } else {
            smoothPixels(n, c, s, out, xs, xe);
        }
    }
}

#if defined(ZP_VECTOR_PATHS)
// The vector paths decide by the tables' rules as logic on lanes of 0 or
// all ones (set = non-zero): a ridge pixel stays unless every set
// neighbour lies in the top row, the bottom row, the left or the right
// column; a valley pixel is filled when three of its four edge neighbours
// are set. Background blocks give 0 through a mask of eight lanes a block.
// Written with the compiler's vector types and inlined into each path's
// row function, whose target gives the instructions.
using Lanes16 = std::uint8_t __attribute__((vector_size(16)));
using Lanes32 = std::uint8_t __attribute__((vector_size(32)));

// The lanes of the sizeof(V) pixels from p: all ones where set. Results go
// through memory-like references, not return values, so that no 32-byte
// vector crosses a function boundary outside an AVX function.
template <typename V>
[[gnu::always_inline]] inline void setLanes(V& v, const std::uint8_t* p) {
    std::memcpy(&v, p, sizeof(V));
    v = reinterpret_cast<V>(v != 0);
}

// Decides sizeof(V) pixels from column x, starting a block.
template <typename V>
[[gnu::always_inline]] inline void smoothLanes(const std::uint8_t* n, const std::uint8_t* c, const std::uint8_t* s,
                                               std::uint8_t* out, const std::uint8_t* blocks, std::int32_t x) {
    V nw, north, ne, w, centre, e, sw, south, se;
    setLanes(nw, n + x - 1); setLanes(north, n + x); setLanes(ne, n + x + 1);
    setLanes(w, c + x - 1); setLanes(centre, c + x); setLanes(e, c + x + 1);
    setLanes(sw, s + x - 1); setLanes(south, s + x); setLanes(se, s + x + 1);
    const V kept = (w | e | sw | south | se) & (w | e | nw | north | ne) & (north | south | ne | e | se) &
                   (north | south | nw | w | sw);
    const V filled = (north & e & (south | w)) | (south & w & (north | e));
    std::uint64_t finger[sizeof(V) / 8];
    for (std::size_t k = 0; k < sizeof(V) / 8; ++k) finger[k] = blocks[(x >> kBlockShift) + k] != 0 ? ~0ULL : 0;
    V mask;
    std::memcpy(&mask, finger, sizeof(V));
    const V decided = ((centre & kept) | (~centre & filled)) & mask & 1;
    std::memcpy(out + x, &decided, sizeof(V));
}

// The pixels left after the whole steps from x: one more 16-pixel step
// that ends at the last decided column, where it starts a block (it decides
// a few pixels again, alike, since results go to another row), else one
// pixel at a time.
void finishRow(const std::uint8_t* n, const std::uint8_t* c, const std::uint8_t* s, std::uint8_t* out,
               const std::uint8_t* blocks, std::int32_t x, std::int32_t width) {
    const std::int32_t lastStep = width - kFrame - 16;
    if (x < width - kFrame && lastStep >= kFrame && lastStep % 8 == 0) {
        smoothLanes<Lanes16>(n, c, s, out, blocks, lastStep);
        return;
    }
    smoothSegments(n, c, s, out, blocks, x, width);
}

void smoothRowSse2(const std::uint8_t* n, const std::uint8_t* c, const std::uint8_t* s, std::uint8_t* out,
                   const std::uint8_t* blocks, std::int32_t width) {
    std::int32_t x = kFrame;
    for (; x + 16 <= width - kFrame; x += 16) smoothLanes<Lanes16>(n, c, s, out, blocks, x);
    finishRow(n, c, s, out, blocks, x, width);
}

__attribute__((target("avx2"))) void smoothRowAvx2(const std::uint8_t* n, const std::uint8_t* c,
                                                   const std::uint8_t* s, std::uint8_t* out,
                                                   const std::uint8_t* blocks, std::int32_t width) {
    std::int32_t x = kFrame;
    for (; x + 32 <= width - kFrame; x += 32) smoothLanes<Lanes32>(n, c, s, out, blocks, x);
    for (; x + 16 <= width - kFrame; x += 16) smoothLanes<Lanes16>(n, c, s, out, blocks, x);
    finishRow(n, c, s, out, blocks, x, width);
}
#endif

void smoothRowPortable(const std::uint8_t* n, const std::uint8_t* c, const std::uint8_t* s, std::uint8_t* out,
                       const std::uint8_t* blocks, std::int32_t width) {
    smoothSegments(n, c, s, out, blocks, kFrame, width);
}

using RowSmoother = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*,
                             const std::uint8_t*, std::int32_t);

}  // namespace

void binarySmoothing(std::uint8_t* image, std::int32_t width, std::int32_t height,
                     const std::uint8_t* blockMap) {
    binarySmoothing(image, width, height, blockMap, bestVectorPath());
}

void binarySmoothing(std::uint8_t* image, std::int32_t width, std::int32_t height,
                     const std::uint8_t* blockMap, VectorPath path) {
    if (width < 1 || height < 2 * kDelay) return;
    const auto rowBytes = static_cast<std::size_t>(width);
#if defined(ZP_VECTOR_PATHS)
    const RowSmoother smoothRow = functionForPath<RowSmoother>(path, smoothRowPortable, smoothRowSse2, smoothRowAvx2);
#else
    static_cast<void>(path);
    const RowSmoother smoothRow = smoothRowPortable;
#endif
    const std::int32_t columns = width >> kBlockShift;
    for (std::int32_t y = kFrame; y < height - kFrame; ++y) {
        const std::uint8_t* n = image + (y - 1) * width;
        const std::uint8_t* c = n + width;
        const std::uint8_t* s = c + width;
        std::uint8_t* out = image + (y - kDelay) * width;
        smoothRow(n, c, s, out, blockMap + (y >> kBlockShift) * columns, width);
    }
    if (height - 12 > kDelay) {
        std::memmove(image + kFrame * width, image + kDelay * width,
                     static_cast<std::size_t>(height - 12 - kDelay) * rowBytes);
    }
    std::memset(image + kDelay * width, 0, kDelay * rowBytes);
}

}  // namespace zp
