// Median of a list of values and the 5 x 5 median filter of block arrays
// used to smooth the orientation field.
#pragma once

#include <cstdint>

namespace zp {

// Sorts values[0..n) ascending in place and returns the middle value for odd
// n, (sum of the two middle values) >> 1 for even n, and 0 for n < 1.
std::int32_t medianOfValues(std::int32_t* values, std::int32_t n);

// Copies columns x rows bytes from source to destination, then replaces
// every destination entry (bx, by) with 2 <= bx <= columns - 3,
// 2 <= by <= rows - 3 and mask entry non-zero by the median of the 25 source
// entries bx - 2..bx + 2, by - 2..by + 2. Source and destination must be
// distinct; mask has the same layout. At most 32 columns.
void medianFilter5x5(const std::uint8_t* source, std::uint8_t* destination, const std::uint8_t* mask,
                     std::int32_t columns, std::int32_t rows);

}  // namespace zp
