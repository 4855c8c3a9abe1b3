// Error rates of a verification experiment from its genuine and impostor
// scores, computed as the FVC competitions compute them, and the rank
// statistics of a closed-set identification.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zpcli {

// Scores run from 0 to kMaxScore; a comparison is accepted at threshold t
// when its score is >= t. Threshold kMaxScore + 1 accepts nothing.
inline constexpr int kMaxScore = 100;
inline constexpr int kThresholds = kMaxScore + 2;

// A comparison that could not be made (one of its images failed to enrol)
// is a rejection: a genuine one counts as a false non-match at every
// threshold, an impostor one never counts as a false match.
inline constexpr int kRejected = -1;

struct ScoreList {
    std::vector<int> genuine;   // scores 0..100 or kRejected
    std::vector<int> impostor;  // scores 0..100 or kRejected
};

// Lowest false non-match rate at an operating point whose false match
// rate stays within a bound.
struct OperatingPoint {
    double fnmr = 1.0;
    double fmr = 0.0;
    int threshold = kMaxScore + 1;
};

struct VerificationMetrics {
    std::size_t genuineCount = 0;
    std::size_t impostorCount = 0;
    std::size_t genuineRejected = 0;
    std::size_t impostorRejected = 0;
    // fmr[t], fnmr[t] for t = 0..101.
    std::array<double, kThresholds> fmr{};
    std::array<double, kThresholds> fnmr{};
    // Equal error rate: the interval [eerLow, eerHigh] between the two
    // thresholds where FNMR and FMR cross, and its middle.
    double eer = 0.0;
    double eerLow = 0.0;
    double eerHigh = 0.0;
    int eerThreshold = 0;  // threshold of the chosen side of the crossing
    OperatingPoint fmr100;   // FMR <= 1 %
    OperatingPoint fmr1000;  // FMR <= 0.1 %
    OperatingPoint zeroFmr;  // FMR == 0
    // Lowest FMR with FNMR == 0; threshold -1 and fmr 1 when no threshold
    // reaches it (rejections in the genuine set).
    OperatingPoint zeroFnmr;
};

// Computes every rate from the scores. Empty lists give rates of 0.
VerificationMetrics verificationMetrics(const ScoreList& scores);

// Lowest FNMR among thresholds whose FMR is at most maxFmr (compared with a
// small tolerance, so 1 in 100 passes a bound of 1 %).
OperatingPoint lowestFnmrWithin(const VerificationMetrics& m, double maxFmr);

// Rank of the true entry among scores (higher is better), counting ties
// against it: 1 + the number of other entries scoring at least as high.
// `candidates` holds the other entries' scores; `truth` the true one's.
std::size_t pessimisticRank(int truth, const std::vector<int>& candidates);

// Hit rates of an identification: rank[i] is the rank of probe i's true
// entry, 0 when it was not found at all.
struct RankRates {
    std::size_t probes = 0;
    double rank1 = 0.0;
    double rank10 = 0.0;
};
RankRates rankRates(const std::vector<std::size_t>& ranks);

// A rate as a percentage with two decimals, "12.34%".
std::string pct(double rate);
// The threshold of a security level as an index into fmr and fnmr.
std::size_t levelIndex(int level);

}  // namespace zpcli
