#include "match/quick_match.h"

#include <cstring>

#include <array>
#include <bit>

#include "match/agreement_window.h"
#include "match/cell_lanes_avx512.h"
#include "match/neighbour_table.h"
#include "match/ordered_farther.h"
#include "match/pairing_mask.h"
#include "match/similarity.h"
#include "match/template_loading.h"
#include "minutiae/template_format.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

namespace zp {
namespace {

constexpr std::int32_t kLargestDirection = 511;  // a 9-bit direction field

bool compatible(const std::uint8_t* loaded, const std::uint8_t* probe) {
    return (loaded[3] & kCellTypeBits) == (probe[3] & kCellTypeBits) &&
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
// Cells readable past a row's last one by the eight-cell test.
inline constexpr std::int32_t kRowPadding = 8;

// Probe distances: 1..65 (0 = empty cell).
inline constexpr std::int32_t kProbeDistances = kNeighbourReach + 1;

struct LoadedRow {
    std::array<std::uint32_t, kRowCells + kRowPadding> cells;
    WindowTable farther;  // index x + kFartherOffset
    // visit[d] = from | count << 8: the cells findRelation visits for a
    // probe cell of distance d on an ordered row (none for d = 0).
    std::array<std::uint16_t, kProbeDistances> visit;
    bool ordered;
};

// Packs cells [0, count) of a row as packCell of their two directions and
// type flags: the portable loop, and lanes of 4 or 8 cells where each cell
// word d | a1 << 8 | a2 << 16 | f << 24 moves its bytes and flag bits into
// place (a1's ninth bit is f's bit 6, a2's bit 7, the types f's bits 0-1).
using CellPacker = void (*)(const std::uint8_t*, std::int32_t, std::uint32_t*);

void packCellsFrom(const std::uint8_t* row, std::int32_t from, std::int32_t count, std::uint32_t* out) {
    for (std::int32_t k = from; k < count; ++k) out[k] = packedCellWithTypes(row + k * kCellBytes);
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


// The cells of an ordered prepared row that findRelation visits for a
// probe cell of distance d: from `from` on, `count` of them.
using VisitBuilder = void (*)(const WindowTable& farther, std::int32_t leftProbe,
                              std::array<std::uint16_t, kProbeDistances>& visit);

// Farther counts read for distance d: cells beyond d + 2 (the first cell
// within tolerance) and beyond d - 3 (one past the last).
constexpr std::size_t kFirstWithin = kQuickDistanceTolerance + kFartherOffset;
constexpr std::size_t kPastWithin = kFartherOffset - kQuickDistanceTolerance - 1;

inline std::uint16_t visitOf(const WindowTable& farther, std::int32_t leftProbe, std::size_t d) {
    const std::int32_t first = farther[d + kFirstWithin];
    const std::int32_t end = farther[d + kPastWithin];
    if (first >= end) return 0;
    const std::int32_t from = first == 0 && end - 1 < leftProbe ? 0 : (first > 0 ? first : 1);
    return static_cast<std::uint16_t>(from | ((end - from) << 8));
}

void visitsPortable(const WindowTable& farther, std::int32_t leftProbe,
                    std::array<std::uint16_t, kProbeDistances>& visit) {
    visit[0] = 0;
    for (std::size_t d = 1; d < kProbeDistances; ++d) visit[d] = visitOf(farther, leftProbe, d);
}

#if defined(ZP_VECTOR_PATHS)
// Sixteen distances at a time in 16-bit lanes.
__attribute__((target("avx2"))) void visitsAvx2(const WindowTable& farther, std::int32_t leftProbe,
                                               std::array<std::uint16_t, kProbeDistances>& visit) {
    constexpr std::size_t kLanes = 16;
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i left = _mm256_set1_epi16(static_cast<std::int16_t>(leftProbe));
    std::size_t d = 0;
    for (; d + kLanes <= kProbeDistances; d += kLanes) {
        const __m256i first = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(farther.data() + d + kFirstWithin)));
        const __m256i end = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(farther.data() + d + kPastWithin)));
        // from: 0 when first is 0 and end - 1 < leftProbe, else max(first, 1).
        const __m256i fromZero = _mm256_and_si256(_mm256_cmpeq_epi16(first, _mm256_setzero_si256()),
                                                  _mm256_cmpgt_epi16(left, _mm256_sub_epi16(end, one)));
        const __m256i from = _mm256_andnot_si256(fromZero, _mm256_max_epi16(first, one));
        const __m256i count = _mm256_and_si256(_mm256_cmpgt_epi16(end, first), _mm256_sub_epi16(end, from));
        const __m256i packed = _mm256_or_si256(_mm256_and_si256(from, _mm256_cmpgt_epi16(end, first)),
                                               _mm256_slli_epi16(count, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(visit.data() + d), packed);
    }
    for (; d < kProbeDistances; ++d) visit[d] = visitOf(farther, leftProbe, d);
    visit[0] = 0;
}
#endif

// The probe's cells: distance (0 = empty) and packed directions with flags,
// three per minutia.
struct ProbeCells {
    std::array<std::uint8_t, kMaxMinutiae * kSuccessorCells> distance;
    std::array<std::uint32_t, kMaxMinutiae * kSuccessorCells> cell;
};

// Probe cells of the minutiae in passing that find a compatible cell of an
// ordered prepared row: the portable test, the SSE2 one four cells at a
// time, and the AVX2 one eight at a time without a branch on the data.
using RelationCounter = std::int32_t (*)(const LoadedRow&, const ProbeCells&, std::uint64_t);

template <bool kVector>
std::int32_t countRelations(const LoadedRow& row, const ProbeCells& probe, std::uint64_t passing) {
    std::int32_t count = 0;
    for (; passing != 0; passing &= passing - 1) {
        const auto j = static_cast<std::size_t>(std::countr_zero(passing));
        for (std::size_t at = j * kSuccessorCells; at < (j + 1) * kSuccessorCells; ++at) {
            const std::uint32_t v = row.visit[probe.distance[at]];
            const auto from = static_cast<std::int32_t>(v & 0xFF);
            const std::int32_t end = from + static_cast<std::int32_t>(v >> 8);
            if (from >= end) continue;
            bool found = false;
            if constexpr (kVector) {
                found = anyAgreeingCell<true>(row.cells.data(), from, end, probe.cell[at]);
            } else {
                found = anyAgreeingCellScalar(row.cells.data(), from, end, probe.cell[at]);
            }
            if (found) ++count;
        }
    }
    return count;
}

#if defined(ZP_VECTOR_PATHS)
// Per 16-bit lane g = |c - p|; a lane agrees when g - 10 or both 350 - g
// and g - 511 saturate to 0 (see agreement_window.h). Bit k: cell k agrees.
__attribute__((target("avx2"))) inline std::uint32_t agreeingLanesAvx2(const std::uint32_t* cells, __m256i p) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells));
    const __m256i g = _mm256_or_si256(_mm256_subs_epu16(c, p), _mm256_subs_epu16(p, c));
    const __m256i wrap = _mm256_max_epi16(_mm256_subs_epu16(_mm256_set1_epi16(kAgreeWrapFrom), g),
                                          _mm256_subs_epu16(g, _mm256_set1_epi16(kLargestAngleGap)));
    const __m256i miss = _mm256_min_epi16(_mm256_subs_epu16(g, _mm256_set1_epi16(kAgreeNear)), wrap);
    return static_cast<std::uint32_t>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(miss, _mm256_setzero_si256()))));
}

__attribute__((target("avx2"))) std::int32_t countRelationsAvx2(const LoadedRow& row, const ProbeCells& probe,
                                                               std::uint64_t passing) {
    constexpr std::int32_t kLanes = 8;
    std::int32_t count = 0;
    for (; passing != 0; passing &= passing - 1) {
        const auto j = static_cast<std::size_t>(std::countr_zero(passing));
        for (std::size_t at = j * kSuccessorCells; at < (j + 1) * kSuccessorCells; ++at) {
            const std::uint32_t v = row.visit[probe.distance[at]];
            const std::uint32_t from = v & 0xFF;
            const auto width = static_cast<std::int32_t>(v >> 8);
            const __m256i p = _mm256_set1_epi32(static_cast<std::int32_t>(probe.cell[at]));
            std::uint32_t lanes = agreeingLanesAvx2(row.cells.data() + from, p);
            lanes &= (1U << (width > kLanes ? kLanes : width)) - 1;
            for (std::int32_t k = kLanes; k < width && lanes == 0; k += kLanes) {
                lanes = agreeingLanesAvx2(row.cells.data() + from + k, p);
                if (width - k < kLanes) lanes &= (1U << (width - k)) - 1;
            }
            count += lanes != 0 ? 1 : 0;
        }
    }
    return count;
}
#endif

// A path's steps of the quick match, chosen once per call.
struct QuickKernels;
using LoadedRowPreparer = void (*)(const std::uint8_t* row, std::int32_t last, std::int32_t leftProbe, LoadedRow& out,
                                   const QuickKernels& kernels);
struct QuickKernels {
    CellPacker pack;
    VisitBuilder visits;
    RelationCounter countOrdered;
    LoadedRowPreparer prepare;
};

void prepareLoadedRow(const std::uint8_t* row, std::int32_t last, std::int32_t leftProbe, LoadedRow& out,
                      const QuickKernels& kernels) {
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
    // An unordered row is searched cell by cell from the table itself.
    out.ordered = ordered;
    if (!ordered) return;
    kernels.pack(row, last + 1, out.cells.data());
    for (std::int32_t k = last + 1; k <= last + kRowPadding; ++k) out.cells[static_cast<std::size_t>(k)] = 0;
    fartherCounts(nearer, last + 1, out.farther);
    kernels.visits(out.farther, leftProbe, out.visit);
}

#if defined(ZP_VECTOR_PATHS)
// GCC 12's headers fill the unused result of unmasked AVX-512 intrinsics
// from an uninitialised variable and then warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// The same sixteen cells at a time: the packed cells (with the padding's
// zeros) stored, the distances gathered into one register for the order
// test and the farther counts, which a binary search finds on an ordered
// row without a histogram.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,bmi,bmi2"))) void prepareLoadedRowAvx512(
    const std::uint8_t* row, std::int32_t last, std::int32_t leftProbe, LoadedRow& out, const QuickKernels& kernels) {
    static_assert(kRowCells + 1 <= 64 && kRowCells + kRowPadding <= 64);
    constexpr std::int32_t kStored = kRowCells + kRowPadding;
    const std::int32_t cells = last + 1;
    const __m512i byte = _mm512_set1_epi32(0xFF);
    __m512i distances = _mm512_setzero_si512();
    const std::int32_t blocks = (cells + kRowPadding + 15) / 16;
    for (std::int32_t b = 0; b < blocks; ++b) {
        const std::int32_t first = 16 * b;
        const auto valid = static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(cells > first ? cells - first : 0)));
        const __m512i w = _mm512_maskz_loadu_epi32(valid, row + first * kCellBytes);
        // packCell with the type flags (bits 24, 25) at bits 10 and 11.
        const __m512i packed =
            _mm512_or_si512(packedAnglesAvx512(w), _mm512_and_si512(_mm512_srli_epi32(w, 14), _mm512_set1_epi32(0xC00)));
        const auto stored = static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(kStored - first)));
        _mm512_mask_storeu_epi32(out.cells.data() + first, stored, packed);
        if (first < cells) {
            const __m128i d = _mm512_cvtepi32_epi8(_mm512_and_si512(w, byte));
            switch (b) {
                case 0: distances = _mm512_inserti32x4(distances, d, 0); break;
                case 1: distances = _mm512_inserti32x4(distances, d, 1); break;
                case 2: distances = _mm512_inserti32x4(distances, d, 2); break;
                default: distances = _mm512_inserti32x4(distances, d, 3); break;
            }
        }
    }
    // Ordered: no cell before the last lies nearer than the next one.
    const __m512i nextCell = _mm512_loadu_si512(kFartherThresholds.data() + 1);
    const __mmask64 rises = _mm512_mask_cmpgt_epu8_mask(_bzhi_u64(~std::uint64_t{0}, static_cast<std::uint32_t>(last)),
                                                        _mm512_permutexvar_epi8(nextCell, distances), distances);
    out.ordered = rises == 0;
    if (!out.ordered) return;
    const __m512i e = _mm512_maskz_adds_epu8(_bzhi_u64(~std::uint64_t{0}, static_cast<std::uint32_t>(cells)), distances,
                                             _mm512_set1_epi8(kFartherOffset));
    orderedFarther<32>(e, out.farther);
    kernels.visits(out.farther, leftProbe, out.visit);
}
#pragma GCC diagnostic pop
#endif

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
    return quickMatch(templ, workspace, widestVectorPath());
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
    ProbeCells probeCells;
    if (rowLength >= kSuccessorCells) {
        buildSuccessorCells(probe, kSuccessorCells, successors, rowLength, probeCells.distance.data(),
                            probeCells.cell.data(), path);
    } else {
        // Rows shorter than three cells overlap their neighbours: the cells
        // are written in order and read back as they then stand.
        for (std::int32_t i = 0; i < probeCount; ++i) {
            for (std::int32_t k = 0; k < kSuccessorCells; ++k) {
                const std::int32_t j = (i + 1 + k) % probeCount;
                fillNeighbourCell(successors + (i * rowLength + k) * kCellBytes,
                                  probe.minutiae[static_cast<std::size_t>(i)],
                                  probe.minutiae[static_cast<std::size_t>(j)]);
            }
        }
        for (std::int32_t j = 0; j < probeCount; ++j) {
            for (std::int32_t k = 0; k < kSuccessorCells; ++k) {
                const std::uint8_t* p = successors + (j * rowLength + k) * kCellBytes;
                const auto at = static_cast<std::size_t>(j * kSuccessorCells + k);
                probeCells.distance[at] = p[0];
                probeCells.cell[at] = packedCellWithTypes(p);
            }
        }
    }

    const std::int32_t loadedCount = loaded.count;
    if (loadedCount < 2) return 0;
    const std::int32_t last = loadedCount - 2;
    const std::uint8_t* table = workspace.data + loaded.workspaceBase + 2 * area;

    const std::int32_t leftProbe = smallestLeftProbe(last);
    PackedMinutiae packedProbe;
    packMinutiae(probe, packedProbe);
    // Probe minutiae of each loaded minutia's type and direction (loaded
    // directions are 0..511, checked with the model).
    std::array<std::uint64_t, kMaxMinutiae> passingOf;
    pairingMasks(loaded, packedProbe, kQuickDirectionTolerance, passingOf, path);
#if defined(ZP_VECTOR_PATHS)
    const QuickKernels kernels{
        functionForPath<CellPacker>(path, packCellsPortable, packCellsSse2, packCellsAvx2),
        functionForPath<VisitBuilder>(path, visitsPortable, visitsPortable, visitsAvx2),
        functionForPath<RelationCounter>(path, countRelations<false>, countRelations<true>, countRelationsAvx2),
        path == VectorPath::Avx512 && vectorPathAvailable(VectorPath::Avx512) ? prepareLoadedRowAvx512 : prepareLoadedRow};
#else
    static_cast<void>(path);
    const QuickKernels kernels{packCellsPortable, visitsPortable, countRelations<false>, prepareLoadedRow};
#endif
    LoadedRow prepared;
    std::int32_t count = 0;
    for (std::int32_t i = 0; i < loadedCount; ++i) {
        const std::uint8_t* row = table + i * rowLength * kCellBytes;
        std::uint64_t passing = passingOf[static_cast<std::size_t>(i)];
        if (passing == 0) continue;
        kernels.prepare(row, last, leftProbe, prepared, kernels);
        if (prepared.ordered) {
            // The range tests before the search change nothing here.
            count += kernels.countOrdered(prepared, probeCells, passing);
            continue;
        }
        const std::int32_t farthest = row[0];
        const std::int32_t nearest = row[last * kCellBytes];
        for (; passing != 0; passing &= passing - 1) {
            const auto j = std::countr_zero(passing);
            for (std::int32_t k = 0; k < kSuccessorCells; ++k) {
                const auto at = static_cast<std::size_t>(j * kSuccessorCells + k);
                const std::int32_t d = probeCells.distance[at];
                if (d == 0) continue;
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
