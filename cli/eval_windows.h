// zpapi eval --windows E[,P]: each finger's first impression enrolled as the
// templates of E windows of its capture, every other impression probed with
// P windows (the best score over windows and templates decides), beside the
// single-window protocol on the same attempts (centred window against
// centred window).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cli_common.h"
#include "eval_metrics.h"

namespace zpcli {

// One finger's impressions in order: the templates of their windows, in
// grid order (none where every window failed).
struct FingerWindows {
    int finger = 0;
    std::vector<std::vector<WindowExtraction>> impressions;
};

struct WindowsProtocol {
    int enrolWindows = 1;
    int probeWindows = 1;
    std::size_t fingers = 0;
    double enrolTemplates = 0.0;  // templates per enrolled finger
    double probeTemplates = 0.0;  // templates per probe
    ScoreList single;             // centred window against centred window
    ScoreList windowed;
    VerificationMetrics singleMetrics;
    VerificationMetrics windowedMetrics;
};

// Genuine attempts: every later impression against its finger's first.
// Impostor attempts: every later impression of every other finger (all
// cross-finger pairs).
WindowsProtocol evaluateWindows(const std::vector<FingerWindows>& fingers, int enrolWindows, int probeWindows,
                                unsigned threads);

Json windowsJson(const WindowsProtocol& p);
void printWindows(const WindowsProtocol& p);
// Per set and over every set's attempts together.
std::string windowsMarkdown(const std::vector<std::pair<std::string, WindowsProtocol>>& sets);

}  // namespace zpcli
