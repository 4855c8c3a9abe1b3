// zpapi eval --enrol K: each finger enrolled from its first K impressions the
// way the enroll command enrols it, probed with the others, beside the
// one-template protocol (the best impression alone, kept when the runner-up
// confirms it); and the fused search over the enrolled fingers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli_common.h"
#include "eval_metrics.h"

namespace zpcli {

// One finger's impressions in order; no template where extraction failed.
struct FingerImpressions {
    int finger = 0;
    std::vector<std::optional<Template>> templates;
};

// Fused identification with a short list of a given size (in fingers).
struct ShortListRow {
    std::size_t size = 0;        // 0: every finger
    double recall = 0.0;         // the true finger is on the short list
    double rank1 = 0.0;          // and ranks first after the full match
    double fullMatches = 0.0;    // full-match comparisons per probe
};

struct EnrolmentProtocol {
    int enrol = 0;             // impressions offered at enrolment
    bool allImpostors = false;
    std::size_t fingers = 0;
    std::size_t enrolledOne = 0;     // fingers enrolled by the one-template rule
    std::size_t enrolledKept = 0;    // fingers enrolled by the enroll command's rule
    std::size_t templatesKept = 0;
    ScoreList one;                   // probe scores against the one template
    ScoreList kept;                  // best score against the kept templates
    VerificationMetrics oneMetrics;
    VerificationMetrics keptMetrics;
    RankRates fused;                 // identification over the enrolled fingers
    std::vector<ShortListRow> shortList;
};

// The best score of probe against a finger's templates; kRejected with none.
int bestScore(const Template& probe, const std::vector<Template>& enrolled, Workspace& ws);

// Genuine attempts: every later impression against its own finger.
// Impostor attempts: each other finger's first probe impression, or with
// allImpostors every probe impression of every other finger. A finger that
// did not enrol rejects its probes (false non-matches).
EnrolmentProtocol evaluateEnrolment(const std::vector<FingerImpressions>& fingers, int enrol, bool allImpostors,
                                    unsigned threads);

Json enrolmentJson(const EnrolmentProtocol& p);
void printEnrolment(const EnrolmentProtocol& p);
std::string enrolmentMarkdown(const std::vector<std::pair<std::string, EnrolmentProtocol>>& sets);

}  // namespace zpcli
