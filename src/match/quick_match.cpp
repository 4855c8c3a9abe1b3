#include "match/quick_match.h"

#include <cstring>

#include <array>
#include <bit>

#include "match/agreement_window.h"
#include "match/neighbour_table.h"
#include "match/pairing_mask.h"
#include "match/similarity.h"
#include "match/template_loading.h"
#include "minutiae/template_format.h"

namespace zp {
namespace {

constexpr std::int32_t kLargestDirection = 511;  // a 9-bit direction field

bool compatible(const std::uint8_t* loaded, const std::uint8_t* probe) {
    constexpr std::uint8_t kTypeBits = kCellFirstBifurcation | kCellSecondBifurcation;
    return (loaded[3] & kTypeBits) == (probe[3] & kTypeBits) &&
           circularDifference(cellFirstAngle(loaded), cellFirstAngle(probe)) <=
               kQuickAngleTolerance &&
           circularDifference(cellSecondAngle(loaded), cellSecondAngle(probe)) <=
               kQuickAngleTolerance;
}

bool withinTolerance(std::int32_t d, std::int32_t e) {
    return d - e <= kQuickDistanceTolerance && e - d <= kQuickDistanceTolerance;
}

// Looks for one loaded cell of row (cells 0..last) at about distance d that
// is compatible with the probe cell.
bool findRelation(const std::uint8_t* row, std::int32_t last, const std::uint8_t* probe) {
    const std::int32_t d = probe[0];
    const auto e = [row](std::int32_t k) -> std::int32_t { return row[k * kCellBytes]; };
    std::int32_t lo = 0;
    std::int32_t hi = last;
    std::int32_t mid = -1;
    while (lo <= hi) {
        const std::int32_t m = (lo + hi) / 2;
        if (d > e(m) + kQuickDistanceTolerance) {
            hi = m - 1;
        } else if (d < e(m) - kQuickDistanceTolerance) {
            lo = m + 1;
        } else {
            mid = m;
            break;
        }
    }
    if (mid < 0) return false;
    // Down towards the far neighbours, never reaching cell 0, then up.
    for (std::int32_t k = mid; k > 0; --k) {
        if (!withinTolerance(d, e(k))) break;
        if (compatible(row + k * kCellBytes, probe)) return true;
    }
    for (std::int32_t k = mid; k <= last; ++k) {
        if (!withinTolerance(d, e(k))) break;
        if (compatible(row + k * kCellBytes, probe)) return true;
    }
    return false;
}

// On a row whose distances never rise, the binary search finds a cell
// within tolerance exactly when the cells within tolerance form a non-empty
// run [L, R], and the two walks from its hit then visit all of [L, R] except
// cell 0, which they visit only when the hit is cell 0 itself. With L = 0
// every probe before the hit lies beyond R and the search goes left each
// time, so the hit is cell 0 exactly when R is below the smallest non-zero
// index that this always-left chain probes.
std::int32_t smallestLeftProbe(std::int32_t last) {
    std::int32_t smallest = kMaxMinutiae;  // beyond any R: the chain probes 0 first
    for (std::int32_t hi = last; hi > 0;) {
        const std::int32_t mid = hi / 2;
        if (mid == 0) break;
        smallest = mid;
        hi = mid - 1;
    }
    return smallest;
}

// One loaded row read once: its cells' directions and flags packed, and
// per distance the number of cells farther away (cells 0..last, empty ones
// included, which count as distance 0).
struct LoadedRow {
    std::array<std::uint32_t, kRowCells + kWindowPadding> cells;
    WindowTable farther;  // index x + kFartherOffset
    bool ordered;
};

// Packs cells [0, count) of a row as packCell of their two directions and
// type flags: the portable loop, and lanes of 4 or 8 cells where each cell
// word d | a1 << 8 | a2 << 16 | f << 24 moves its bytes and flag bits into
// place (a1's ninth bit is f's bit 6, a2's bit 7, the types f's bits 0-1).
using CellPacker = void (*)(const std::uint8_t*, std::int32_t, std::uint32_t*);

void packCellsFrom(const std::uint8_t* row, std::int32_t from, std::int32_t count, std::uint32_t* out) {
    constexpr std::uint8_t kTypeBits = kCellFirstBifurcation | kCellSecondBifurcation;
    for (std::int32_t k = from; k < count; ++k) {
        const std::uint8_t* cell = row + k * kCellBytes;
        out[k] = packCell(cellFirstAngle(cell), cellSecondAngle(cell), cell[3] & kTypeBits);
    }
}

void packCellsPortable(const std::uint8_t* row, std::int32_t count, std::uint32_t* out) {
    packCellsFrom(row, 0, count, out);
}

#if defined(ZP_VECTOR_PATHS)
using CellWords4 = std::uint32_t __attribute__((vector_size(16)));
using CellWords8 = std::uint32_t __attribute__((vector_size(32)));

// Inlined into each path's packer, whose target gives the instructions;
// values stay in memory-like references across the call.
template <typename V>
[[gnu::always_inline]] inline void packCellLanes(const std::uint8_t* cells, std::uint32_t* out) {
    V w;
    std::memcpy(&w, cells, sizeof(V));
    const V packed = ((w >> 8) & 0xFF) | ((w >> 22) & 0x100) | ((w >> 14) & 0xC00) | (w & 0xFF0000) |
                     ((w >> 7) & 0x1000000);
    std::memcpy(out, &packed, sizeof(V));
}

void packCellsSse2(const std::uint8_t* row, std::int32_t count, std::uint32_t* out) {
    std::int32_t k = 0;
    for (; k + 4 <= count; k += 4) packCellLanes<CellWords4>(row + k * kCellBytes, out + k);
    packCellsFrom(row, k, count, out);
}

__attribute__((target("avx2"))) void packCellsAvx2(const std::uint8_t* row, std::int32_t count, std::uint32_t* out) {
    std::int32_t k = 0;
    for (; k + 8 <= count; k += 8) packCellLanes<CellWords8>(row + k * kCellBytes, out + k);
    for (; k + 4 <= count; k += 4) packCellLanes<CellWords4>(row + k * kCellBytes, out + k);
    packCellsFrom(row, k, count, out);
}
#endif

void prepareLoadedRow(const std::uint8_t* row, std::int32_t last, LoadedRow& out, CellPacker pack) {
    WindowTable nearer{};
    constexpr std::int32_t kTop = kFartherEntries - kFartherOffset;
    bool ordered = true;
    std::int32_t previous = 255;
    for (std::int32_t k = 0; k <= last; ++k) {
        const std::int32_t d = row[k * kCellBytes];
        if (d > previous) ordered = false;
        previous = d;
        if (d < kTop) ++nearer[static_cast<std::size_t>(d + kFartherOffset)];
    }
    pack(row, last + 1, out.cells.data());
    for (std::int32_t k = last + 1; k <= last + kWindowPadding; ++k) out.cells[static_cast<std::size_t>(k)] = 0;
    out.ordered = ordered;
    fartherCounts(nearer, last + 1, out.farther);
}

// findRelation on an ordered prepared row.
bool findPreparedRelation(const LoadedRow& row, std::int32_t leftProbe, std::int32_t d,
                          std::uint32_t probe) {
    const std::int32_t first =
        row.farther[static_cast<std::size_t>(d + kQuickDistanceTolerance + kFartherOffset)];
    const std::int32_t end =
        row.farther[static_cast<std::size_t>(d - kQuickDistanceTolerance - 1 + kFartherOffset)];
    if (first >= end) return false;
    const std::int32_t from = first == 0 && end - 1 < leftProbe ? 0 : (first > 0 ? first : 1);
    return anyAgreeingCell<true>(row.cells.data(), from, end, probe);
}

}  // namespace

bool plausibleLoadedModel(const MatchingModel& loaded, const MatchingModel& probe,
                          std::int32_t workspaceLength) {
    if (loaded.maxCount < 0 || loaded.maxCount > kMaxMinutiae) return false;
    if (loaded.count < 0 || loaded.count > loaded.maxCount) return false;
    if (loaded.width != probe.width || loaded.height != probe.height) return false;
    if (loaded.count > probe.maxCount) return false;
    if (!storedAreaFits(probe.width, probe.height, workspaceLength)) return false;
    const std::int64_t area = static_cast<std::int64_t>(probe.width) * probe.height;
    const std::int64_t tableBytes =
        static_cast<std::int64_t>(probe.maxCount) * probe.maxCount * kCellBytes;
    const std::int64_t base = loaded.workspaceBase;
    if (base < 0 || base + 2 * area + tableBytes > workspaceLength) return false;
    // The successor table, whose three cells per row may run past a row
    // shorter than three cells.
    if (3 * area + tableBytes + kSuccessorCells * kCellBytes > workspaceLength) return false;
    for (std::int32_t i = 0; i < loaded.count; ++i) {
        const std::int32_t direction = loaded.minutiae[static_cast<std::size_t>(i)].direction;
        if (direction < 0 || direction > kLargestDirection) return false;
    }
    return true;
}

std::int32_t quickMatch(const BufferDescriptor& templ, const BufferDescriptor& workspace) {
    return quickMatch(templ, workspace, bestVectorPath());
}

std::int32_t quickMatch(const BufferDescriptor& templ, const BufferDescriptor& workspace, VectorPath path) {
    const std::int32_t width = storedWidth(templ.data);
    const std::int32_t height = storedHeight(templ.data);
    if (!storedAreaFits(width, height, workspace.length)) return 0;
    const std::int32_t area = width * height;

    MatchingModel probe{};
    probe.workspaceBase = area;
    if (decodeTemplate(templ.data, probe) == 0) return 0;
    MatchingModel loaded;
    std::memcpy(&loaded, workspace.data, sizeof(loaded));
    if (!plausibleLoadedModel(loaded, probe, workspace.length)) return 0;

    const std::int32_t rowLength = probe.maxCount;
    const std::int32_t probeCount = probe.count;
    std::uint8_t* successors = workspace.data + probe.workspaceBase + 2 * area;
    std::memset(successors, 0, static_cast<std::size_t>(rowLength * rowLength * kCellBytes));
    for (std::int32_t i = 0; i < probeCount; ++i) {
        for (std::int32_t k = 0; k < kSuccessorCells; ++k) {
            const std::int32_t j = (i + 1 + k) % probeCount;
            fillNeighbourCell(successors + (i * rowLength + k) * kCellBytes,
                              probe.minutiae[static_cast<std::size_t>(i)],
                              probe.minutiae[static_cast<std::size_t>(j)]);
        }
    }

    const std::int32_t loadedCount = loaded.count;
    if (loadedCount < 2) return 0;
    const std::int32_t last = loadedCount - 2;
    const std::uint8_t* table = workspace.data + loaded.workspaceBase + 2 * area;

    // The probe's cells as they now stand in the workspace (rows shorter
    // than three cells overlap their neighbours).
    constexpr std::uint8_t kTypeBits = kCellFirstBifurcation | kCellSecondBifurcation;
    std::array<std::uint8_t, kMaxMinutiae * kSuccessorCells> probeDistance{};
    std::array<std::uint32_t, kMaxMinutiae * kSuccessorCells> probeCell{};
    for (std::int32_t j = 0; j < probeCount; ++j) {
        for (std::int32_t k = 0; k < kSuccessorCells; ++k) {
            const std::uint8_t* p = successors + (j * rowLength + k) * kCellBytes;
            const auto at = static_cast<std::size_t>(j * kSuccessorCells + k);
            probeDistance[at] = p[0];
            probeCell[at] = packCell(cellFirstAngle(p), cellSecondAngle(p), p[3] & kTypeBits);
        }
    }

    const std::int32_t leftProbe = smallestLeftProbe(last);
    PackedMinutiae packedProbe;
    packMinutiae(probe, packedProbe);
#if defined(ZP_VECTOR_PATHS)
    const CellPacker pack = functionForPath<CellPacker>(path, packCellsPortable, packCellsSse2, packCellsAvx2);
#else
    static_cast<void>(path);
    const CellPacker pack = packCellsPortable;
#endif
    LoadedRow prepared;
    std::int32_t count = 0;
    for (std::int32_t i = 0; i < loadedCount; ++i) {
        const MinutiaRecord& mi = loaded.minutiae[static_cast<std::size_t>(i)];
        const std::uint8_t* row = table + i * rowLength * kCellBytes;
        // Probe minutiae of i's type and direction (loaded directions are
        // 0..511, checked with the model).
        std::uint64_t passing = pairingMask(mi, packedProbe, kQuickDirectionTolerance);
        if (passing == 0) continue;
        prepareLoadedRow(row, last, prepared, pack);
        const std::int32_t farthest = row[0];
        const std::int32_t nearest = row[last * kCellBytes];
        for (; passing != 0; passing &= passing - 1) {
            const auto j = std::countr_zero(passing);
            for (std::int32_t k = 0; k < kSuccessorCells; ++k) {
                const auto at = static_cast<std::size_t>(j * kSuccessorCells + k);
                const std::int32_t d = probeDistance[at];
                if (d == 0) continue;
                if (prepared.ordered) {
                    // The range tests before the search change nothing here.
                    if (findPreparedRelation(prepared, leftProbe, d, probeCell[at])) ++count;
                    continue;
                }
                if (d > farthest + kQuickDistanceTolerance || d < nearest - kQuickDistanceTolerance) {
                    continue;
                }
                if (findRelation(row, last, successors + (j * rowLength + k) * kCellBytes)) ++count;
            }
        }
    }
    return count < kQuickMaxScore ? count : kQuickMaxScore;
}

}  // namespace zp
