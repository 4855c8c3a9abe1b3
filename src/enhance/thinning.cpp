#include "enhance/thinning.h"

#include <array>
#include <cstring>

namespace zp {
namespace {

constexpr std::int32_t kStandardBorder = 8;
constexpr std::int32_t kOtherBorder = 4;
constexpr std::uint8_t kRowPass = 1;
constexpr std::uint8_t kColumnPass = 2;
// Widest and tallest image whose rows and columns are tracked for marks.
constexpr std::int32_t kMaxSide = 1024;

// True when the eight bytes from p on are all 0.
inline bool blank8(const std::uint8_t* p) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    return word == 0;
}

}  // namespace

void thinning(std::uint8_t* image, std::int32_t width, std::int32_t height, std::int32_t border) {
    const std::int32_t m = border == kStandardBorder ? kStandardBorder : kOtherBorder;
    const std::int32_t x0 = m;
    const std::int32_t x1 = width - m;
    const std::int32_t y0 = m;
    const std::int32_t y1 = height - m;
    if (x0 >= x1 || y0 >= y1 || width > kMaxSide || height > kMaxSide) return;

    // Rows and columns holding marks of the current iteration: the
    // sub-passes and the reset visit only those.
    std::array<std::uint8_t, kMaxSide> markedRows{};
    std::array<std::uint8_t, kMaxSide> markedColumns{};

    for (;;) {
        // Mark pass. A mark (3) still counts as set, so the marks do not
        // influence each other.
        std::int32_t marks = 0;
        std::int32_t firstRow = y1;
        std::int32_t lastRow = y0 - 1;
        std::int32_t firstColumn = x1;
        std::int32_t lastColumn = x0 - 1;
        std::memset(markedColumns.data(), 0, static_cast<std::size_t>(width));
        for (std::int32_t y = y0; y < y1; ++y) {
            std::uint8_t* row = image + y * width;
            std::int32_t rowMarks = 0;
            std::int32_t x = x0;
            while (x < x1) {
                if (x + 8 <= x1 && blank8(row + x)) {
                    x += 8;
                    continue;
                }
                if (row[x] == 1 && kThinningTable[thinningIndex(row + x, width)] != 0) {
                    row[x] = kThinningMark;
                    markedColumns[x] = 1;
                    if (x < firstColumn) firstColumn = x;
                    if (x > lastColumn) lastColumn = x;
                    ++rowMarks;
                }
                ++x;
            }
            markedRows[y] = rowMarks != 0 ? 1 : 0;
            if (rowMarks != 0) {
                if (y < firstRow) firstRow = y;
                lastRow = y;
                marks += rowMarks;
            }
        }
        if (marks == 0) return;

        // Row sub-pass: deletions are seen by the later decisions.
        for (std::int32_t y = firstRow; y <= lastRow; ++y) {
            if (markedRows[y] == 0) continue;
            std::uint8_t* row = image + y * width;
            for (std::int32_t x = firstColumn; x <= lastColumn; ++x) {
                if (row[x] == kThinningMark && (kThinningTable[thinningIndex(row + x, width)] & kRowPass) != 0) {
                    row[x] = 0;
                }
            }
        }

        // Column sub-pass, columns left to right, each from the top.
        for (std::int32_t x = firstColumn; x <= lastColumn; ++x) {
            if (markedColumns[x] == 0) continue;
            for (std::int32_t y = firstRow; y <= lastRow; ++y) {
                std::uint8_t* p = image + y * width + x;
                if (*p == kThinningMark && (kThinningTable[thinningIndex(p, width)] & kColumnPass) != 0) {
                    *p = 0;
                }
            }
        }

        // Reset: surviving marks become ridge pixels again.
        for (std::int32_t y = firstRow; y <= lastRow; ++y) {
            if (markedRows[y] == 0) continue;
            std::uint8_t* row = image + y * width;
            for (std::int32_t x = firstColumn; x <= lastColumn; ++x) {
                if (row[x] == kThinningMark) row[x] = 1;
            }
        }
    }
}

}  // namespace zp
