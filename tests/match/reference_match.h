// Straightforward implementations of the comparison stages, written step by
// step as the behaviour is described: the similarity walk, bubble sorts for
// table compaction and pair ordering, the pair builder, the match driver and
// the quick match with its binary search. The library's faster code must give
// exactly their results; tests compare the two.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "core/records.h"
#include "match/alignment_search.h"
#include "match/box_map.h"
#include "match/candidate_pairs.h"
#include "match/matching_model.h"
#include "match/neighbour_table.h"
#include "match/pairing_score.h"
#include "match/quick_match.h"
#include "match/template_loading.h"
#include "minutiae/template_format.h"
#include "math/integer_math.h"

namespace zpref {

using zp::CandidatePair;
using zp::CandidatePairList;
using zp::MatchingModel;
using zp::MinutiaRecord;

inline std::int32_t angle1(const std::uint8_t* c) { return c[1] + ((c[3] & 0x40) != 0 ? 256 : 0); }
inline std::int32_t angle2(const std::uint8_t* c) { return c[2] + ((c[3] & 0x80) != 0 ? 256 : 0); }

inline std::int32_t similarity(const std::uint8_t* rowA, const std::uint8_t* rowB, std::int32_t countA,
                               std::int32_t countB) {
    constexpr std::int32_t tol = 2;
    constexpr std::int32_t angleTol = 10;
    const auto dist = [](const std::uint8_t* row, std::int32_t k) -> std::int32_t { return row[k * 4]; };
    if (rowA[0] == 0 || rowB[0] == 0) return 0;
    const std::int32_t lastA = countA - 1;
    const std::int32_t lastB = countB - 1;
    const std::int32_t dA = rowA[0];
    const std::int32_t dB = rowB[0];
    std::int32_t a0 = 0;
    std::int32_t b0 = 0;
    if (dB > dA) {
        b0 = lastB;
        for (std::int32_t b = 0; b < lastB; ++b) {
            if (dist(rowB, b) <= dA + tol) {
                b0 = b;
                break;
            }
        }
    } else {
        a0 = lastA;
        for (std::int32_t a = 0; a < lastA; ++a) {
            if (dist(rowA, a) <= dB + tol) {
                a0 = a;
                break;
            }
        }
    }
    if (b0 >= lastB) return 0;
    std::int32_t count = 0;
    std::int32_t start = a0;
    for (std::int32_t b = b0; b < lastB; ++b) {
        const std::uint8_t* cellB = rowB + b * 4;
        const std::int32_t e = cellB[0];
        if (e == 0) return count;
        bool startSet = false;
        for (std::int32_t a = start; a < lastA; ++a) {
            const std::uint8_t* cellA = rowA + a * 4;
            const std::int32_t f = cellA[0];
            if (f == 0) break;
            if (f > e + tol) continue;
            if (!startSet) {
                start = a;
                startSet = true;
            }
            if (f < e - tol) break;
            if (zp::circularDifference(angle1(cellA), angle1(cellB)) > angleTol ||
                zp::circularDifference(angle2(cellA), angle2(cellB)) > angleTol) {
                continue;
            }
            ++count;
            break;
        }
    }
    return count;
}

inline void buildTable(const MatchingModel& model, std::uint8_t* table) {
    const std::int32_t rowLength = model.maxCount;
    std::memset(table, 0, static_cast<std::size_t>(rowLength * rowLength * 4));
    for (std::int32_t i = 0; i < model.count; ++i) {
        for (std::int32_t j = i + 1; j < model.count; ++j) {
            std::uint8_t* cell = table + (i * rowLength + j) * 4;
            if (!zp::fillNeighbourCell(cell, model.minutiae[static_cast<std::size_t>(i)],
                                       model.minutiae[static_cast<std::size_t>(j)])) {
                continue;
            }
            if (cell[0] == 0) continue;
            std::uint8_t* mirror = table + (j * rowLength + i) * 4;
            const std::uint8_t f = cell[3];
            mirror[0] = cell[0];
            mirror[1] = cell[2];
            mirror[2] = cell[1];
            mirror[3] = static_cast<std::uint8_t>(((f & 1) << 1) | ((f & 2) >> 1) | ((f & 0x40) << 1) |
                                                  ((f & 0x80) >> 1));
        }
    }
}

// Gathers the non-empty cells among the first count of each row, in order,
// then a bubble sort that swaps neighbours only when the first is strictly
// nearer.
inline void compactTable(std::int32_t count, std::uint8_t* table, std::int32_t rowLength) {
    for (std::int32_t i = 0; i < count; ++i) {
        std::uint8_t* row = table + i * rowLength * 4;
        std::array<std::array<std::uint8_t, 4>, 50> kept{};
        std::int32_t m = 0;
        for (std::int32_t j = 0; j < count; ++j) {
            if (row[j * 4] == 0) continue;
            std::memcpy(kept[static_cast<std::size_t>(m++)].data(), row + j * 4, 4);
        }
        for (std::int32_t pass = 0; pass < m; ++pass) {
            for (std::int32_t k = 0; k + 1 < m; ++k) {
                if (kept[static_cast<std::size_t>(k)][0] < kept[static_cast<std::size_t>(k + 1)][0]) {
                    std::swap(kept[static_cast<std::size_t>(k)], kept[static_cast<std::size_t>(k + 1)]);
                }
            }
        }
        std::memset(row, 0, static_cast<std::size_t>(rowLength * 4));
        std::memcpy(row, kept.data(), static_cast<std::size_t>(m * 4));
    }
}

inline std::int32_t buildTablesAndPairs(const MatchingModel& first, const MatchingModel& second,
                                        CandidatePairList& pairs, std::int32_t classCode, bool loading,
                                        const zp::BufferDescriptor& workspace) {
    const std::int32_t secondArea = second.width * second.height;
    std::uint8_t* tableA = workspace.data + first.workspaceBase + 2 * secondArea;
    std::uint8_t* tableB = workspace.data + second.workspaceBase + 2 * secondArea;
    if (classCode != 1) {
        buildTable(first, tableA);
        compactTable(first.count, tableA, first.maxCount);
        if (loading) return 0;
        buildTable(second, tableB);
        compactTable(second.count, tableB, second.maxCount);
    } else if (loading) {
        return 0;
    }
    pairs.count = 0;
    for (CandidatePair& e : pairs.entries) e = CandidatePair{0, 0, 0};
    std::int32_t p = 0;
    for (std::int32_t i = 0; i < first.count; ++i) {
        const MinutiaRecord& mi = first.minutiae[static_cast<std::size_t>(i)];
        std::int32_t last = 0;
        bool appended = false;
        for (std::int32_t j = 0; j < second.count; ++j) {
            const MinutiaRecord& mj = second.minutiae[static_cast<std::size_t>(j)];
            if (mi.type != mj.type) continue;
            if (zp::circularDifference(mi.direction, mj.direction) > 90) continue;
            const std::int32_t s = similarity(tableA + i * first.maxCount * 4,
                                              tableB + j * second.maxCount * 4, first.count, second.count);
            if (s < 2) continue;
            const CandidatePair entry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(j),
                                      static_cast<std::uint8_t>(s)};
            if (last == 0) {
                pairs.entries[static_cast<std::size_t>(p++)] = entry;
                appended = true;
            } else if (s > last) {
                pairs.entries[static_cast<std::size_t>(p - 1)] = entry;
            }
            last = s;
        }
        if (appended && p >= 2) {
            const CandidatePair added = pairs.entries[static_cast<std::size_t>(p - 1)];
            for (std::int32_t k = 0; k < p - 1; ++k) {
                CandidatePair& earlier = pairs.entries[static_cast<std::size_t>(k)];
                if (earlier.second != added.second) continue;
                if (added.similarity > earlier.similarity) earlier = added;
                pairs.entries[static_cast<std::size_t>(p - 1)] = CandidatePair{0, 0, 0};
                --p;
                break;
            }
        }
    }
    for (std::int32_t pass = 0; pass < p; ++pass) {
        for (std::int32_t k = 0; k + 1 < p; ++k) {
            if (pairs.entries[static_cast<std::size_t>(k)].similarity <
                pairs.entries[static_cast<std::size_t>(k + 1)].similarity) {
                std::swap(pairs.entries[static_cast<std::size_t>(k)], pairs.entries[static_cast<std::size_t>(k + 1)]);
            }
        }
    }
    pairs.count = static_cast<std::uint8_t>(p);
    return p;
}

// The anchor score as described: first pass over the candidate pairs, then
// every unpaired minutia of A against every unpaired aligned minutia, in
// order, with the pair scores kept in a list.
inline std::int32_t anchorScore(const MatchingModel& a, const MatchingModel& aligned,
                                const CandidatePairList& pairs, std::int32_t n) {
    const std::int32_t c = pairs.count;
    if (c == 0) return 0;
    std::array<bool, 50> pairedA{};
    std::array<bool, 50> pairedL{};
    std::array<std::int32_t, 120> scores{};
    std::int32_t f = 0;
    std::int32_t t = 0;
    for (std::int32_t k = 0; k < c; ++k) {
        const CandidatePair& e = pairs.entries[static_cast<std::size_t>(k)];
        const MinutiaRecord& ma = a.minutiae[e.first];
        const MinutiaRecord& ml = aligned.minutiae[e.second];
        const std::int32_t delta = zp::circularDifference(ma.direction, ml.direction);
        if (delta >= 13) continue;
        const std::int32_t dx = ma.x - ml.x;
        const std::int32_t dy = ma.y - ml.y;
        const std::int32_t d = zp::isqrt(dx * dx + dy * dy);
        if (d >= 7) continue;
        pairedA[e.first] = true;
        pairedL[e.second] = true;
        scores[static_cast<std::size_t>(t++)] = zp::pairWeight(d, delta) * e.similarity;
        ++f;
    }
    bool ended = false;
    for (std::int32_t i = 0; i < a.count && !ended; ++i) {
        if (pairedA[static_cast<std::size_t>(i)]) continue;
        const MinutiaRecord& ma = a.minutiae[static_cast<std::size_t>(i)];
        for (std::int32_t j = 0; j < aligned.count; ++j) {
            if (pairedL[static_cast<std::size_t>(j)]) continue;
            const MinutiaRecord& ml = aligned.minutiae[static_cast<std::size_t>(j)];
            const std::int32_t dx = ma.x - ml.x;
            const std::int32_t dy = ma.y - ml.y;
            if (dx >= 7 || dx <= -7 || dy >= 7 || dy <= -7) continue;
            const std::int32_t delta = zp::circularDifference(ma.direction, ml.direction);
            if (delta >= 13) continue;
            const std::int32_t d = zp::isqrt(dx * dx + dy * dy);
            if (d >= 7) continue;
            pairedL[static_cast<std::size_t>(j)] = true;
            std::int32_t w = zp::pairWeight(d, delta);
            if (ma.type != ml.type) w /= 2;
            scores[static_cast<std::size_t>(t++)] = w;
            if (t > 20) {
                ended = true;
                break;
            }
        }
    }
    std::int32_t sum = 0;
    for (std::int32_t k = 0; k < t; ++k) sum += scores[static_cast<std::size_t>(k)];
    const std::int32_t score = ((sum / 20) * t / n) * f / c;
    return score > 100 ? 100 : score;
}

inline std::int32_t match(const std::uint8_t* first, const std::uint8_t* second,
                          const zp::BufferDescriptor& workspace) {
    if (!zp::storedAreaFits(zp::storedWidth(first), zp::storedHeight(first), workspace.length)) return 0;
    MatchingModel a{};
    if (zp::decodeTemplate(first, a) == 0) return 0;
    const std::int32_t widthB = zp::storedWidth(second);
    const std::int32_t heightB = zp::storedHeight(second);
    if (!zp::storedAreaFits(widthB, heightB, workspace.length)) return 0;
    MatchingModel b{};
    b.workspaceBase = widthB * heightB;
    if (zp::decodeTemplate(second, b) == 0) return 0;
    if (a.classCode != b.classCode) return 0;
    zp::BoxMap map;
    zp::buildBoxMap(a, b, map);
    CandidatePairList pairs{};
    buildTablesAndPairs(a, b, pairs, a.classCode, false, workspace);
    return zp::alignmentSearch(a, b, pairs, map);
}

inline std::int32_t load(const std::uint8_t* templ, const zp::BufferDescriptor& workspace) {
    if (!zp::storedAreaFits(zp::storedWidth(templ), zp::storedHeight(templ), workspace.length)) return 0;
    MatchingModel model{};
    if (zp::decodeTemplate(templ, model) == 0) return 0;
    CandidatePairList scratch{};
    buildTablesAndPairs(model, model, scratch, 0, true, workspace);
    std::memcpy(workspace.data, &model, sizeof(model));
    return 1;
}

inline bool compatible(const std::uint8_t* loaded, const std::uint8_t* probe) {
    return (loaded[3] & 3) == (probe[3] & 3) && zp::circularDifference(angle1(loaded), angle1(probe)) <= 10 &&
           zp::circularDifference(angle2(loaded), angle2(probe)) <= 10;
}

inline bool findRelation(const std::uint8_t* row, std::int32_t last, const std::uint8_t* probe) {
    const std::int32_t d = probe[0];
    const auto e = [row](std::int32_t k) -> std::int32_t { return row[k * 4]; };
    const auto within = [d](std::int32_t v) { return d - v <= 2 && v - d <= 2; };
    std::int32_t lo = 0;
    std::int32_t hi = last;
    std::int32_t mid = -1;
    while (lo <= hi) {
        const std::int32_t m = (lo + hi) / 2;
        if (d > e(m) + 2) {
            hi = m - 1;
        } else if (d < e(m) - 2) {
            lo = m + 1;
        } else {
            mid = m;
            break;
        }
    }
    if (mid < 0) return false;
    for (std::int32_t k = mid; k > 0; --k) {
        if (!within(e(k))) break;
        if (compatible(row + k * 4, probe)) return true;
    }
    for (std::int32_t k = mid; k <= last; ++k) {
        if (!within(e(k))) break;
        if (compatible(row + k * 4, probe)) return true;
    }
    return false;
}

inline std::int32_t quickMatch(const std::uint8_t* templ, const zp::BufferDescriptor& workspace) {
    const std::int32_t width = zp::storedWidth(templ);
    const std::int32_t height = zp::storedHeight(templ);
    if (!zp::storedAreaFits(width, height, workspace.length)) return 0;
    const std::int32_t area = width * height;
    MatchingModel probe{};
    probe.workspaceBase = area;
    if (zp::decodeTemplate(templ, probe) == 0) return 0;
    MatchingModel loaded;
    std::memcpy(&loaded, workspace.data, sizeof(loaded));
    if (!zp::plausibleLoadedModel(loaded, probe, workspace.length)) return 0;
    const std::int32_t rowLength = probe.maxCount;
    std::uint8_t* successors = workspace.data + probe.workspaceBase + 2 * area;
    std::memset(successors, 0, static_cast<std::size_t>(rowLength * rowLength * 4));
    for (std::int32_t i = 0; i < probe.count; ++i) {
        for (std::int32_t k = 0; k < 3; ++k) {
            const std::int32_t j = (i + 1 + k) % probe.count;
            zp::fillNeighbourCell(successors + (i * rowLength + k) * 4, probe.minutiae[static_cast<std::size_t>(i)],
                                  probe.minutiae[static_cast<std::size_t>(j)]);
        }
    }
    if (loaded.count < 2) return 0;
    const std::int32_t last = loaded.count - 2;
    const std::uint8_t* table = workspace.data + loaded.workspaceBase + 2 * area;
    std::int32_t count = 0;
    for (std::int32_t i = 0; i < loaded.count; ++i) {
        const MinutiaRecord& mi = loaded.minutiae[static_cast<std::size_t>(i)];
        const std::uint8_t* row = table + i * rowLength * 4;
        for (std::int32_t j = 0; j < probe.count; ++j) {
            const MinutiaRecord& mj = probe.minutiae[static_cast<std::size_t>(j)];
            if (mi.type != mj.type) continue;
            if (zp::circularDifference(mi.direction, mj.direction) > 90) continue;
            for (std::int32_t k = 0; k < 3; ++k) {
                const std::uint8_t* p = successors + (j * rowLength + k) * 4;
                const std::int32_t d = p[0];
                if (d == 0 || d > row[0] + 2 || d < row[last * 4] - 2) continue;
                if (findRelation(row, last, p)) ++count;
            }
        }
    }
    return count < 100 ? count : 100;
}

}  // namespace zpref
