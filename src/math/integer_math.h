// Integer helpers shared by every stage.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace zp {

// Largest r with r * r <= n; 0 for negative n.
std::int32_t isqrt(std::int32_t n);

// isqrt for constant tables: the same result by a plain count, for the
// small n that tables are built over.
constexpr std::int32_t constIsqrt(std::int32_t n) {
    std::int32_t r = 0;
    while ((r + 1) * (r + 1) <= n) ++r;
    return r;
}

// Writes count copies of value from dst on; count <= 0 writes nothing.
void byteFill(std::uint8_t* dst, std::uint8_t value, std::int32_t count);

// Index of the first non-zero byte of p[from..to), or to when there is
// none; whole words of zero bytes are passed over at once. Scans that only
// act on set pixels use it to reach the next one: the bytes passed over are
// zero at that moment, so the scan sees what a byte-by-byte walk would.
inline std::int32_t firstNonZero(const std::uint8_t* p, std::int32_t from, std::int32_t to) {
    if constexpr (std::endian::native == std::endian::little) {
        for (; from + 8 <= to; from += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p + from, sizeof word);
            if (word != 0) return from + std::countr_zero(word) / 8;
        }
    }
    while (from < to && p[from] == 0) ++from;
    return from;
}

}  // namespace zp
