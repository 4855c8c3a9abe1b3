#include "gallery/enrol.h"

namespace zpg {

std::string EnrolOutcome::reason() const {
    if (!duplicate) return decision.reason;
    const ProbeScore& s = duplicate->probes.front();
    return "the finger matches " + duplicate->subject + "'s " + fingerName(s.finger) + " finger (score " +
           std::to_string(s.score) + ", level " + std::to_string(level) + ")";
}

EnrolOutcome enrolFinger(Store& store, const std::string& subject, int finger,
                         const std::vector<Impression>& offered, const EnrolOptions& o) {
    EnrolOutcome out;
    out.level = o.level;
    store.enrol(subject, finger, o.existing, [&](const std::vector<StoredTemplate>& kept) {
        // Each stored impression is offered again by its centred window,
        // carrying its other stored windows.
        std::vector<Impression> all;
        for (const StoredTemplate& k : kept) {
            if (k.window != 0) continue;
            Impression im{"enrolled " + rowName(k.subject, k.finger, k.slot) +
                              (k.impression.empty() ? "" : " (" + k.impression + ")"),
                          k.templ, {}, {}};
            for (const StoredTemplate& w : kept)
                if (w.window != 0 && w.impression == k.impression) im.windows.push_back({w.window, w.templ});
            all.push_back(std::move(im));
        }
        all.insert(all.end(), offered.begin(), offered.end());
        out.decision = decideEnrolment(all, o.keep);
        std::vector<NewTemplate> chosen;
        if (!out.decision.enrolled) return chosen;
        if (o.checkDuplicates) {
            std::vector<Template> templates;
            for (const KeptTemplate& k : out.decision.kept) templates.push_back(k.templ);
            out.duplicate = findDuplicate(store, templates, subject, o.level, 0);
            if (out.duplicate) return chosen;
        }
        for (const KeptTemplate& k : out.decision.kept) chosen.push_back({k.templ, k.label, k.window});
        return chosen;
    });
    return out;
}

}  // namespace zpg
