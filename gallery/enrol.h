// Enrolling one finger into a store: the enrolment rule, de-duplication
// against the gallery and the write, as every front end does it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "gallery/enrolment.h"
#include "gallery/search.h"

namespace zpg {

struct EnrolOptions {
    // What happens to a finger already enrolled.
    Existing existing = Existing::Refuse;
    int keep = kDefaultKeep;
    bool checkDuplicates = false;
    int level = 3;
};

// What became of one finger's enrolment.
struct EnrolOutcome {
    EnrolmentDecision decision;
    std::optional<SubjectCandidate> duplicate;
    int level = 3;
    bool enrolled() const { return decision.enrolled && !duplicate; }
    // Why not, for people; empty when enrolled.
    std::string reason() const;
};

// Decides and stores one finger in one write transaction: the impressions
// offered (with Existing::Add also the templates kept so far) go through
// the enrolment rule; with checkDuplicates a finger that matches another
// subject at the level is refused.
EnrolOutcome enrolFinger(Store& store, const std::string& subject, int finger, const std::vector<Impression>& offered,
                         const EnrolOptions& options);

}  // namespace zpg
