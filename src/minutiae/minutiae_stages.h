// Working data and stages of the minutiae extraction: the scan for
// candidates, their validation along the ridges, the filters that drop
// artefacts, and the selection of the most isolated survivors.
//
// Everything lives in fixed-size lists owned by one extraction call; later
// candidates beyond a list's capacity are dropped without notice.
#pragma once

#include <cstdint>

#include "math/vector_path.h"

namespace zp {

inline constexpr std::int32_t kMaxCandidates = 200;
inline constexpr std::int32_t kMaxBorderEndings = 200;

// Candidate types, as stored in the template.
inline constexpr std::int32_t kCandidateEnding = 1;
inline constexpr std::int32_t kCandidateBifurcation = 2;

// Values written into the skeleton by the scan.
inline constexpr std::uint8_t kEndingMark = 2;
inline constexpr std::uint8_t kJunctionMark = 3;

struct Candidate {
    std::int32_t x;
    std::int32_t y;
    std::int32_t type;  // kCandidateEnding or kCandidateBifurcation
};

// Candidates in scan order with their two flags: valid (cleared by the
// validation) and kept (cleared by the filters).
struct CandidateList {
    Candidate entries[kMaxCandidates];
    bool valid[kMaxCandidates];
    bool kept[kMaxCandidates];
    std::int32_t count;
};

// Ridge endings outside the safe area: never minutiae, but they veto endings
// close to them.
struct BorderList {
    std::int32_t x[kMaxBorderEndings];
    std::int32_t y[kMaxBorderEndings];
    std::int32_t count;
};

// Ridge length an ending must continue for, and the least length below
// which a bifurcation's short branch invalidates it, by class code.
struct TraceLengths {
    std::int32_t ending;
    std::int32_t branch;
};
TraceLengths traceLengths(std::int32_t classCode);

// Appends a candidate, valid and kept, unless the list is full.
void appendCandidate(CandidateList& list, std::int32_t x, std::int32_t y, std::int32_t type);

// Scan of the region 8 <= x < width - 8, 8 <= y < height - 8: clears isolated
// pixels, marks endings 2 and junctions with the ridge pixels of their 5 x 5
// square 3, and collects endings inside the safe area (margin 6) and
// bifurcations as candidates, other endings in the border list. Both lists
// start empty.
void scanCandidates(std::uint8_t* image, std::int32_t width, std::int32_t height,
                    const std::uint8_t* blockMap, CandidateList& candidates, BorderList& border);
// The same on a chosen vector path (AVX2 passes over the plain ridge pixels
// 32 at a time).
void scanCandidates(std::uint8_t* image, std::int32_t width, std::int32_t height,
                    const std::uint8_t* blockMap, CandidateList& candidates, BorderList& border, VectorPath path);

// Clears the valid flag of endings whose ridge does not continue for the
// class code's length, and of bifurcations with short, forked, flat or
// looping branches.
void validateCandidates(std::int32_t classCode, const std::uint8_t* image, std::int32_t width,
                        std::int32_t height, const std::uint8_t* blockMap, CandidateList& list);

// Drops both members of close pairs of valid candidates (and the ending of a
// close ending-bifurcation pair), by the types and distance of the pair.
void pairFilter(const std::uint8_t* image, std::int32_t width, CandidateList& list);

// Drops valid candidates within 6 pixels of an invalid one.
void invalidNeighbourFilter(CandidateList& list);

// Drops endings within 6 pixels of a border ending.
void borderFilter(CandidateList& list, const BorderList& border);

// Drops endings whose ridge runs, from its third step on, into a fork that is
// a dropped or invalid candidate.
void removedForkFilter(const std::uint8_t* image, std::int32_t width, CandidateList& list);

// Copies the valid and kept candidates, in list order, into survivors
// (room for kMaxCandidates); returns their number.
std::int32_t collectSurvivors(const CandidateList& list, Candidate* survivors);

// 100 * survivors / candidates, truncated; 0 without candidates.
std::int32_t candidateYield(std::int32_t survivors, std::int32_t candidates);

// Isolation level 0..7 of a survivor: the distance band (4 pixels wide) of its
// nearest candidate at another position, plus 1 for a bifurcation; 7 when no
// candidate lies within 28 pixels.
std::int32_t isolationLevel(const CandidateList& list, const Candidate& survivor);

// Keeps at most maxCount survivors, the most isolated first and ties to the
// earlier; compacts survivors in place, keeping their order, and returns
// their new number.
std::int32_t selectMinutiae(const CandidateList& list, Candidate* survivors,
                            std::int32_t survivorCount, std::int32_t maxCount);

}  // namespace zp
