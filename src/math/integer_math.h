// Integer helpers shared by every stage.
#pragma once

#include <cstdint>

namespace zp {

// Largest r with r * r <= n; 0 for negative n.
std::int32_t isqrt(std::int32_t n);

// Writes count copies of value from dst on; count <= 0 writes nothing.
void byteFill(std::uint8_t* dst, std::uint8_t value, std::int32_t count);

}  // namespace zp
