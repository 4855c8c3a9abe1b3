// The picture of one verification experiment: score histograms, FMR and
// FNMR against the threshold, and the DET curve, as an RGB PNG.
#pragma once

#include <string>

#include "eval_metrics.h"

namespace zpcli {

// Writes a 1200 x 440 PNG; false with a message in `error` when the file
// cannot be written.
bool writeEvaluationPlot(const std::string& path, const std::string& title, const ScoreList& scores,
                         const VerificationMetrics& metrics, std::string* error = nullptr);

}  // namespace zpcli
