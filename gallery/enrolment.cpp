#include "gallery/enrolment.h"

#include <algorithm>
#include <cstring>

namespace zpg {

const char* fateName(Fate fate) {
    switch (fate) {
        case Fate::Best: return "best";
        case Fate::Kept: return "kept";
        case Fate::NotConfirming: return "not confirming";
        case Fate::BeyondKeep: return "beyond keep";
        case Fate::NotChosen: return "not enrolled";
        case Fate::NoTemplate: return "no template";
    }
    return "unknown";
}

bool repeatsWindow(const Template& t, const std::vector<Template>& earlier) {
    return std::find(earlier.begin(), earlier.end(), t) != earlier.end();
}

EnrolmentDecision decideEnrolment(const std::vector<Impression>& impressions, int keep) {
    EnrolmentDecision d;
    std::vector<std::size_t> source;  // impression of each template in the array
    std::vector<std::uint8_t> array;
    for (std::size_t i = 0; i < impressions.size(); ++i) {
        ImpressionOutcome o{impressions[i].label, Fate::NotChosen, -1, -1, {}, {}};
        if (impressions[i].templ) {
            source.push_back(i);
            array.insert(array.end(), impressions[i].templ->begin(), impressions[i].templ->end());
        } else {
            o.fate = Fate::NoTemplate;
            o.why = impressions[i].failure;
        }
        d.outcomes.push_back(std::move(o));
    }
    const auto count = static_cast<std::int32_t>(source.size());
    if (count < 2) {
        d.reason = "fewer than two usable impressions";
        for (ImpressionOutcome& o : d.outcomes)
            if (o.fate == Fate::NotChosen) o.why = d.reason;
        return d;
    }

    Workspace ws;
    Template best{};
    const bool runnerUpConfirms = ZPFingerMerge(array.data(), count, best.data(), ws.data()) == 1;
    // The merge reorders the array; find each ordered template's impression
    // (identical templates are interchangeable).
    std::vector<std::size_t> ordered;
    std::vector<bool> used(source.size(), false);
    for (std::int32_t k = 0; k < count; ++k) {
        const std::uint8_t* t = array.data() + static_cast<std::size_t>(k) * ZP_TEMPLATE_SIZE;
        for (std::size_t s = 0; s < source.size(); ++s) {
            if (!used[s] && std::memcmp(impressions[source[s]].templ->data(), t, ZP_TEMPLATE_SIZE) == 0) {
                used[s] = true;
                ordered.push_back(source[s]);
                break;
            }
        }
    }
    const auto at = [&](std::int32_t k) { return array.data() + static_cast<std::size_t>(k) * ZP_TEMPLATE_SIZE; };

    // Each other impression, best quality first: does it confirm the best?
    std::vector<bool> confirms(static_cast<std::size_t>(count), false);
    std::vector<std::uint8_t> pair(2 * ZP_TEMPLATE_SIZE);
    Template pairBest{};
    bool anyConfirms = false;
    for (std::int32_t k = 1; k < count; ++k) {
        ImpressionOutcome& o = d.outcomes[ordered[static_cast<std::size_t>(k)]];
        Template other{};
        std::memcpy(other.data(), at(k), ZP_TEMPLATE_SIZE);
        o.score = matchScore(other, best, ws);
        bool yes = false;
        if (k == 1) {
            yes = runnerUpConfirms;
        } else {
            std::memcpy(pair.data(), at(0), ZP_TEMPLATE_SIZE);
            std::memcpy(pair.data() + ZP_TEMPLATE_SIZE, at(k), ZP_TEMPLATE_SIZE);
            yes = ZPFingerMerge(pair.data(), 2, pairBest.data(), ws.data()) == 1;
        }
        confirms[static_cast<std::size_t>(k)] = yes;
        anyConfirms = anyConfirms || yes;
        // A merge refused on the limits answers no for every impression.
        if (k == 1 && !yes && !anyConfirms) {
            const std::string limits = enrolmentLimitFailure(best);
            if (!limits.empty()) {
                d.reason = limits;
                break;
            }
        }
    }

    if (!d.reason.empty() || !anyConfirms) {
        const bool limits = !d.reason.empty();
        if (!limits) d.reason = "no other impression confirms the best (match score below " +
                                std::to_string(enrolmentConfirmScore()) + ")";
        for (std::int32_t k = 0; k < count; ++k) {
            ImpressionOutcome& o = d.outcomes[ordered[static_cast<std::size_t>(k)]];
            if (k == 0) o.why = "best quality (" + std::to_string(templateQuality(best)) + "): " + d.reason;
            else if (limits) o.why = "not compared: the best impression misses an enrolment limit";
            else o.why = "does not confirm the best (score " + std::to_string(o.score) + ")";
        }
        return d;
    }

    d.enrolled = true;
    std::vector<std::size_t> keptFrom;  // impression of each kept template so far
    for (std::int32_t k = 0; k < count; ++k) {
        ImpressionOutcome& o = d.outcomes[ordered[static_cast<std::size_t>(k)]];
        if (k == 0) {
            o.fate = Fate::Best;
            o.why = "best quality (" + std::to_string(templateQuality(best)) + ")";
        } else if (!confirms[static_cast<std::size_t>(k)]) {
            o.fate = Fate::NotConfirming;
            o.why = "does not confirm the best (score " + std::to_string(o.score) + ", below " +
                    std::to_string(enrolmentConfirmScore()) + ")";
            continue;
        } else if (static_cast<int>(d.kept.size()) >= keep) {
            o.fate = Fate::BeyondKeep;
            o.why = "confirms the best (score " + std::to_string(o.score) + ") but " + std::to_string(keep) +
                    " templates are kept";
            continue;
        } else {
            o.fate = Fate::Kept;
            o.why = "confirms the best (score " + std::to_string(o.score) + ")";
        }
        o.slot = static_cast<int>(d.kept.size());
        KeptTemplate kept;
        std::memcpy(kept.templ.data(), at(k), ZP_TEMPLATE_SIZE);
        kept.label = o.label;
        d.kept.push_back(std::move(kept));
        keptFrom.push_back(ordered[static_cast<std::size_t>(k)]);
    }
    // The kept impressions' other windows, a round at a time.
    for (std::size_t round = 0; d.kept.size() < static_cast<std::size_t>(kMaxTemplatesPerFinger); ++round) {
        bool more = false;
        for (std::size_t i = 0; i < keptFrom.size() && d.kept.size() < static_cast<std::size_t>(kMaxTemplatesPerFinger); ++i) {
            const Impression& im = impressions[keptFrom[i]];
            if (round >= im.windows.size()) continue;
            more = true;
            d.kept.push_back({im.windows[round].templ, im.label, im.windows[round].window});
            d.outcomes[keptFrom[i]].windows.push_back(im.windows[round].window);
        }
        if (!more) break;
    }
    return d;
}

}  // namespace zpg
