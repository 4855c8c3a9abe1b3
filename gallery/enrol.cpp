#include "gallery/enrol.h"

#include <algorithm>

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
        std::vector<const std::string*> labels;  // each one's stored label
        for (const StoredTemplate& k : kept) {
            if (k.window != 0) continue;
            all.push_back({"enrolled " + rowName(k.subject, k.finger, k.slot) +
                               (k.impression.empty() ? "" : " (" + k.impression + ")"),
                           k.templ, {}, {}});
            labels.push_back(&k.impression);
        }
        // A window finds its impression by the label alone: of impressions
        // sharing one, it joins the first that lacks its window number, so
        // no stored template is offered twice.
        for (const StoredTemplate& w : kept) {
            if (w.window == 0) continue;
            for (std::size_t i = 0; i < all.size(); ++i) {
                std::vector<WindowTemplate>& windows = all[i].windows;
                const bool taken = std::any_of(windows.begin(), windows.end(),
                                               [&](const WindowTemplate& o) { return o.window == w.window; });
                if (*labels[i] == w.impression && !taken) {
                    windows.push_back({w.window, w.templ});
                    break;
                }
            }
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
