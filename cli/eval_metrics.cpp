#include "eval_metrics.h"

#include <algorithm>
#include <cstdio>

#include "cli_common.h"

namespace zpcli {
namespace {

// Rates are ratios of counts; bounds such as 1 % are met exactly by
// 1 in 100, so comparisons allow for the rounding of the division.
constexpr double kRateTolerance = 1e-12;

// counts[t] = number of scores >= t (t = 0..101); rejections never count.
std::array<std::size_t, kThresholds> countAtLeast(const std::vector<int>& scores) {
    std::array<std::size_t, kThresholds + 1> histogram{};
    for (int s : scores) {
        if (s < 0) continue;
        ++histogram[static_cast<std::size_t>(std::min(s, kMaxScore))];
    }
    std::array<std::size_t, kThresholds> atLeast{};
    std::size_t running = 0;
    for (int t = kMaxScore; t >= 0; --t) {
        running += histogram[static_cast<std::size_t>(t)];
        atLeast[static_cast<std::size_t>(t)] = running;
    }
    atLeast[kMaxScore + 1] = 0;
    return atLeast;
}

}  // namespace

VerificationMetrics verificationMetrics(const ScoreList& scores) {
    VerificationMetrics m;
    m.genuineCount = scores.genuine.size();
    m.impostorCount = scores.impostor.size();
    m.genuineRejected = static_cast<std::size_t>(std::count_if(scores.genuine.begin(), scores.genuine.end(), [](int s) { return s < 0; }));
    m.impostorRejected = static_cast<std::size_t>(std::count_if(scores.impostor.begin(), scores.impostor.end(), [](int s) { return s < 0; }));
    const auto genuineAccepted = countAtLeast(scores.genuine);
    const auto impostorAccepted = countAtLeast(scores.impostor);
    for (std::size_t t = 0; t < kThresholds; ++t) {
        // A genuine comparison is falsely rejected when it scores below t
        // or could not be made at all.
        m.fnmr[t] = m.genuineCount ? static_cast<double>(m.genuineCount - genuineAccepted[t]) / static_cast<double>(m.genuineCount) : 0.0;
        m.fmr[t] = m.impostorCount ? static_cast<double>(impostorAccepted[t]) / static_cast<double>(m.impostorCount) : 0.0;
    }

    // Equal error rate: t1 is the highest threshold with FNMR <= FMR, t2 the
    // lowest with FNMR >= FMR; the side whose rates sum less gives the
    // interval, and the estimate is its middle.
    int t1 = -1;
    int t2 = -1;
    for (int t = 0; t < kThresholds; ++t) {
        if (m.fnmr[t] <= m.fmr[t]) t1 = t;
        if (t2 < 0 && m.fnmr[t] >= m.fmr[t]) t2 = t;
    }
    if (t1 >= 0 && (t2 < 0 || m.fnmr[t1] + m.fmr[t1] <= m.fmr[t2] + m.fnmr[t2])) {
        m.eerLow = m.fnmr[t1];
        m.eerHigh = m.fmr[t1];
        m.eerThreshold = t1;
    } else if (t2 >= 0) {
        m.eerLow = m.fmr[t2];
        m.eerHigh = m.fnmr[t2];
        m.eerThreshold = t2;
    }
    m.eer = (m.eerLow + m.eerHigh) / 2.0;

    m.fmr100 = lowestFnmrWithin(m, 0.01);
    m.fmr1000 = lowestFnmrWithin(m, 0.001);
    m.zeroFmr = lowestFnmrWithin(m, 0.0);

    m.zeroFnmr = OperatingPoint{1.0, 1.0, -1};
    for (int t = kThresholds - 1; t >= 0; --t) {
        if (m.fnmr[t] <= kRateTolerance) {
            m.zeroFnmr = OperatingPoint{m.fnmr[t], m.fmr[t], t};
            break;
        }
    }
    return m;
}

OperatingPoint lowestFnmrWithin(const VerificationMetrics& m, double maxFmr) {
    // FNMR never falls as the threshold rises, so the lowest threshold that
    // meets the bound gives the lowest FNMR.
    for (int t = 0; t < kThresholds; ++t) {
        if (m.fmr[t] <= maxFmr + kRateTolerance) return OperatingPoint{m.fnmr[t], m.fmr[t], t};
    }
    return OperatingPoint{};
}

std::size_t pessimisticRank(int truth, const std::vector<int>& candidates) {
    return 1 + static_cast<std::size_t>(std::count_if(candidates.begin(), candidates.end(), [truth](int s) { return s >= truth; }));
}

RankRates rankRates(const std::vector<std::size_t>& ranks) {
    RankRates r;
    r.probes = ranks.size();
    if (ranks.empty()) return r;
    std::size_t hit1 = 0;
    std::size_t hit10 = 0;
    for (std::size_t rank : ranks) {
        if (rank == 1) ++hit1;
        if (rank >= 1 && rank <= 10) ++hit10;
    }
    r.rank1 = static_cast<double>(hit1) / static_cast<double>(ranks.size());
    r.rank10 = static_cast<double>(hit10) / static_cast<double>(ranks.size());
    return r;
}

std::string pct(double rate) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f%%", rate * 100.0);
    return buf;
}

std::size_t levelIndex(int level) { return static_cast<std::size_t>(std::max(1, levelThreshold(level))); }

}  // namespace zpcli
