// Which impressions of a finger are enrolled: the library's merge picks the
// best and asks the others, one by one, to confirm it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "gallery/records.h"

namespace zpg {

// The template of one window of a capture other than the centred one.
struct WindowTemplate {
    int window = 0;  // StoredTemplate::window
    Template templ{};
};

// A window whose template repeats one of earlier, byte for byte (the
// extractor found the same working window twice), adds nothing and is not
// kept. A score is no test: different impressions of one finger often
// reach the full match's largest score, 100.
bool repeatsWindow(const Template& t, const std::vector<Template>& earlier);

// One impression offered for enrolment: a template, or why there is none.
struct Impression {
    std::string label;                 // file name, or the stored row it came from
    std::optional<Template> templ;     // its centred window's
    std::string failure;               // why no template (extraction refused it)
    std::vector<WindowTemplate> windows;  // its other windows' templates, in grid order
};

enum class Fate {
    Best,           // the best impression, enrolled
    Kept,           // confirms the best and is kept with it
    NotConfirming,  // does not confirm the best
    BeyondKeep,     // confirms it, but the finger already keeps K templates
    NotChosen,      // no impression was enrolled
    NoTemplate,     // no template could be made
};
const char* fateName(Fate fate);

struct ImpressionOutcome {
    std::string label;
    Fate fate = Fate::NotChosen;
    int score = -1;    // match score against the best impression, when compared
    int slot = -1;     // slot of a kept impression
    std::string why;   // one line for people
    std::vector<int> windows;  // other windows kept with it
};

struct KeptTemplate {
    Template templ{};
    std::string label;
    int window = 0;
};

struct EnrolmentDecision {
    bool enrolled = false;
    std::string reason;                       // why not, when not enrolled
    std::vector<ImpressionOutcome> outcomes;  // in the order offered
    std::vector<KeptTemplate> kept;           // slot order: best first
};

// ZPFingerMerge orders the templates by quality and checks the best against
// the enrolment limits and its runner-up. When the runner-up does not
// confirm the best, each further impression is asked in turn through the
// same export (a merge of the best and that impression, which keeps their
// order). The best and up to keep - 1 confirming impressions, best quality
// first, are kept, each as its centred window's template; then the kept
// impressions' other windows join, first windows round (kept impressions in
// slot order), then second windows, ..., up to kMaxTemplatesPerFinger
// templates. Only centred windows take part in the decision.
EnrolmentDecision decideEnrolment(const std::vector<Impression>& impressions, int keep);

}  // namespace zpg
