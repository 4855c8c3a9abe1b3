#include "eval_enrolment.h"

#include <algorithm>
#include <cstdio>

#include "gallery/enrolment.h"
#include "gallery/search.h"

namespace zpcli {
namespace {

// Short-list sizes of the recall table, in fingers; 0 is every finger.
constexpr std::size_t kShortLists[] = {1, 5, 10, 20, 50, 100, 0};

struct EnrolledFinger {
    std::optional<Template> one;  // the one-template rule's template
    std::vector<Template> kept;   // the enroll command's templates
};

struct ProbeRef {
    std::size_t finger = 0;  // index into the fingers
    const Template* templ = nullptr;
};

std::string shortListName(std::size_t size) { return size ? std::to_string(size) : "all"; }

}  // namespace

int bestScore(const Template& probe, const std::vector<Template>& enrolled, Workspace& ws) {
    int best = kRejected;
    for (const Template& t : enrolled) best = std::max(best, matchScore(probe, t, ws));
    return best;
}

EnrolmentProtocol evaluateEnrolment(const std::vector<FingerImpressions>& fingers, int enrol, bool allImpostors,
                                    unsigned threads) {
    EnrolmentProtocol p;
    p.enrol = enrol;
    p.allImpostors = allImpostors;
    p.fingers = fingers.size();
    const auto enrolCount = static_cast<std::size_t>(enrol);

    std::vector<EnrolledFinger> gallery(fingers.size());
    parallelFor(fingers.size(), threads, "enrolling", [&](std::size_t f, unsigned) {
        std::vector<zpg::Impression> offered;
        std::vector<std::uint8_t> array;
        for (std::size_t i = 0; i < std::min(enrolCount, fingers[f].templates.size()); ++i) {
            const auto& t = fingers[f].templates[i];
            offered.push_back({std::to_string(i + 1), t, t ? "" : "no template", {}});
            if (t) array.insert(array.end(), t->begin(), t->end());
        }
        Workspace ws;
        Template best{};
        const auto count = static_cast<std::int32_t>(array.size() / ZP_TEMPLATE_SIZE);
        if (ZPFingerMerge(array.data(), count, best.data(), ws.data()) == 1) gallery[f].one = best;
        for (const zpg::KeptTemplate& k : zpg::decideEnrolment(offered, enrol).kept) gallery[f].kept.push_back(k.templ);
    });
    for (const EnrolledFinger& g : gallery) {
        p.enrolledOne += g.one ? 1 : 0;
        p.enrolledKept += g.kept.empty() ? 0 : 1;
        p.templatesKept += g.kept.size();
    }

    // Probes: the impressions after the enrolment ones.
    std::vector<std::vector<ProbeRef>> probesOf(fingers.size());
    std::vector<std::size_t> missingProbes(fingers.size(), 0);
    for (std::size_t f = 0; f < fingers.size(); ++f) {
        for (std::size_t i = enrolCount; i < fingers[f].templates.size(); ++i) {
            if (fingers[f].templates[i]) probesOf[f].push_back({f, &*fingers[f].templates[i]});
            else ++missingProbes[f];
        }
    }

    // Every attempt: (gallery finger, probe).
    struct Attempt {
        std::size_t finger;
        ProbeRef probe;
        bool genuine;
    };
    std::vector<Attempt> attempts;
    for (std::size_t f = 0; f < fingers.size(); ++f) {
        for (const ProbeRef& pr : probesOf[f]) attempts.push_back({f, pr, true});
        for (std::size_t g = 0; g < fingers.size(); ++g) {
            if (g == f || probesOf[g].empty()) continue;
            const std::size_t n = allImpostors ? probesOf[g].size() : 1;
            for (std::size_t k = 0; k < n; ++k) attempts.push_back({f, probesOf[g][k], false});
        }
    }
    std::vector<int> oneScores(attempts.size(), kRejected);
    std::vector<int> keptScores(attempts.size(), kRejected);
    parallelFor(attempts.size(), threads, "comparing", [&](std::size_t i, unsigned) {
        static thread_local Workspace mine;
        const Attempt& a = attempts[i];
        const EnrolledFinger& g = gallery[a.finger];
        if (g.one) oneScores[i] = matchScore(*a.probe.templ, *g.one, mine);
        keptScores[i] = bestScore(*a.probe.templ, g.kept, mine);
    });
    for (std::size_t i = 0; i < attempts.size(); ++i) {
        (attempts[i].genuine ? p.one.genuine : p.one.impostor).push_back(oneScores[i]);
        (attempts[i].genuine ? p.kept.genuine : p.kept.impostor).push_back(keptScores[i]);
    }
    // Probes that failed to extract are genuine rejections under both rules.
    for (std::size_t f = 0; f < fingers.size(); ++f) {
        p.one.genuine.insert(p.one.genuine.end(), missingProbes[f], kRejected);
        p.kept.genuine.insert(p.kept.genuine.end(), missingProbes[f], kRejected);
    }
    p.oneMetrics = verificationMetrics(p.one);
    p.keptMetrics = verificationMetrics(p.kept);

    // Fused identification over the enrolled fingers: each finger's best
    // quick score orders the fingers (ties in gallery order), the short list
    // is re-scored with the full match against every template of a finger.
    zpg::Snapshot snapshot;
    std::vector<std::size_t> fingerOfEntry;  // gallery finger of each snapshot finger
    for (std::size_t f = 0; f < fingers.size(); ++f) {
        if (gallery[f].kept.empty()) continue;
        const auto begin = static_cast<std::uint32_t>(snapshot.templates.size());
        for (const Template& t : gallery[f].kept) {
            snapshot.templates.push_back(t);
            snapshot.fingerOf.push_back(static_cast<std::uint32_t>(snapshot.fingers.size()));
        }
        snapshot.fingers.push_back({std::to_string(fingers[f].finger), zpg::kUnknownFinger, begin,
                                    static_cast<std::uint32_t>(snapshot.templates.size())});
        fingerOfEntry.push_back(f);
    }
    std::vector<ProbeRef> probes;
    std::size_t lost = 0;  // probes that failed to extract
    for (std::size_t f = 0; f < fingers.size(); ++f) {
        probes.insert(probes.end(), probesOf[f].begin(), probesOf[f].end());
        lost += missingProbes[f];
    }
    const std::size_t entries = snapshot.fingers.size();
    std::vector<std::size_t> sizes;
    for (std::size_t s : kShortLists) sizes.push_back(s == 0 || s > entries ? entries : s);
    const std::size_t fusedSize = std::min(entries, zpg::kDefaultShortList);
    std::vector<std::vector<char>> inList(sizes.size(), std::vector<char>(probes.size(), 0));
    std::vector<std::vector<char>> first(sizes.size(), std::vector<char>(probes.size(), 0));
    std::vector<std::vector<std::size_t>> matches(sizes.size(), std::vector<std::size_t>(probes.size(), 0));
    std::vector<std::size_t> fusedRank(probes.size() + lost, 0);
    if (entries > 0) {
        parallelFor(probes.size(), threads, "identifying", [&](std::size_t q, unsigned) {
            static thread_local Workspace mine;
            const ProbeRef& probe = probes[q];
            const std::vector<std::uint8_t> quick = zpg::quickScores(*probe.templ, snapshot.templates, 1);
            std::vector<std::pair<int, std::size_t>> order;
            for (std::size_t e = 0; e < entries; ++e) {
                int best = 0;
                for (std::uint32_t i = snapshot.fingers[e].begin; i < snapshot.fingers[e].end; ++i)
                    best = std::max<int>(best, quick[i]);
                order.emplace_back(best, e);
            }
            std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
            std::vector<int> full(entries, kRejected);
            const auto score = [&](std::size_t position) {
                const zpg::Snapshot::Finger& e = snapshot.fingers[order[position].second];
                if (full[position] == kRejected) {
                    full[position] = 0;
                    for (std::uint32_t i = e.begin; i < e.end; ++i)
                        full[position] = std::max(full[position], matchScore(*probe.templ, snapshot.templates[i], mine));
                }
                return full[position];
            };
            std::size_t truth = entries;  // its position in the order
            for (std::size_t k = 0; k < entries; ++k)
                if (fingerOfEntry[order[k].second] == probe.finger) truth = k;
            // Rank after the full match within a short list of n, ties
            // counted against the true finger; 0 when it is not listed.
            const auto rankWithin = [&](std::size_t n) -> std::size_t {
                if (truth >= n) return 0;
                std::size_t rank = 1;
                const int t = score(truth);
                for (std::size_t k = 0; k < n; ++k)
                    if (k != truth && score(k) >= t) ++rank;
                return rank;
            };
            for (std::size_t s = 0; s < sizes.size(); ++s) {
                const std::size_t n = sizes[s];
                inList[s][q] = truth < n ? 1 : 0;
                first[s][q] = rankWithin(n) == 1 ? 1 : 0;
                for (std::size_t k = 0; k < n; ++k)
                    matches[s][q] += snapshot.fingers[order[k].second].end - snapshot.fingers[order[k].second].begin;
            }
            fusedRank[q] = rankWithin(fusedSize);
        });
    }
    p.fused = rankRates(fusedRank);
    const double total = static_cast<double>(probes.size() + lost);
    for (std::size_t s = 0; s < sizes.size(); ++s) {
        ShortListRow row;
        row.size = kShortLists[s];
        std::size_t hits = 0;
        std::size_t firsts = 0;
        double work = 0.0;
        for (std::size_t q = 0; q < probes.size(); ++q) {
            hits += static_cast<std::size_t>(inList[s][q]);
            firsts += static_cast<std::size_t>(first[s][q]);
            work += static_cast<double>(matches[s][q]);
        }
        row.recall = total > 0 ? static_cast<double>(hits) / total : 0.0;
        row.rank1 = total > 0 ? static_cast<double>(firsts) / total : 0.0;
        row.fullMatches = probes.empty() ? 0.0 : work / static_cast<double>(probes.size());
        p.shortList.push_back(row);
    }
    return p;
}

Json enrolmentJson(const EnrolmentProtocol& p) {
    const auto levels = [](const VerificationMetrics& m) {
        Json out = Json::array();
        for (int level = 1; level <= 5; ++level) {
            const std::size_t t = levelIndex(level);
            out.push_back({{"level", level}, {"threshold", t}, {"fmr", m.fmr[t]}, {"fnmr", m.fnmr[t]}});
        }
        return out;
    };
    Json rows = Json::array();
    for (const ShortListRow& r : p.shortList)
        rows.push_back({{"short_list", r.size ? Json(r.size) : Json("all")}, {"recall", r.recall}, {"rank1", r.rank1},
                        {"full_matches_per_probe", r.fullMatches}});
    return {{"enrol", p.enrol},
            {"impostors", p.allImpostors ? "all" : "first"},
            {"fingers", p.fingers},
            {"one_template", {{"enrolled", p.enrolledOne},
                              {"genuine_attempts", p.oneMetrics.genuineCount},
                              {"impostor_attempts", p.oneMetrics.impostorCount},
                              {"eer", p.oneMetrics.eer},
                              {"levels", levels(p.oneMetrics)}}},
            {"kept_templates", {{"enrolled", p.enrolledKept},
                                {"templates", p.templatesKept},
                                {"genuine_attempts", p.keptMetrics.genuineCount},
                                {"impostor_attempts", p.keptMetrics.impostorCount},
                                {"eer", p.keptMetrics.eer},
                                {"levels", levels(p.keptMetrics)}}},
            {"fused_identification", {{"probes", p.fused.probes}, {"rank1", p.fused.rank1}, {"rank10", p.fused.rank10}}},
            {"short_lists", rows}};
}

void printEnrolment(const EnrolmentProtocol& p) {
    std::printf("  enrolment from %d impressions: %zu of %zu fingers enrol with one template, %zu keeping %zu templates\n",
                p.enrol, p.enrolledOne, p.fingers, p.enrolledKept, p.templatesKept);
    std::printf("  %zu genuine and %zu impostor attempts (%s impostors)\n", p.keptMetrics.genuineCount,
                p.keptMetrics.impostorCount, p.allImpostors ? "all" : "first-probe");
    std::printf("  %5s %9s  %-21s %-21s\n", "level", "threshold", "one template FNMR/FMR", "kept templates FNMR/FMR");
    for (int level = 1; level <= 5; ++level) {
        const std::size_t t = levelIndex(level);
        std::printf("  %5d %9zu  %-21s %-21s\n", level, t,
                    (pct(p.oneMetrics.fnmr[t]) + " / " + pct(p.oneMetrics.fmr[t])).c_str(),
                    (pct(p.keptMetrics.fnmr[t]) + " / " + pct(p.keptMetrics.fmr[t])).c_str());
    }
    std::printf("  fused identification, %zu probes: rank-1 %s, rank-10 %s\n", p.fused.probes, pct(p.fused.rank1).c_str(),
                pct(p.fused.rank10).c_str());
    std::printf("  %10s %8s %8s %12s\n", "short list", "recall", "rank-1", "full matches");
    for (const ShortListRow& r : p.shortList)
        std::printf("  %10s %8s %8s %12.1f\n", shortListName(r.size).c_str(), pct(r.recall).c_str(),
                    pct(r.rank1).c_str(), r.fullMatches);
}

std::string enrolmentMarkdown(const std::vector<std::pair<std::string, EnrolmentProtocol>>& sets) {
    if (sets.empty()) return {};
    const int enrol = sets.front().second.enrol;
    std::string md = "\nEnrolment from the first " + std::to_string(enrol) +
                     " impressions, the others as probes: FNMR / FMR with one template (the best, when the runner-up "
                     "confirms it) and with the templates `zpapi enroll` keeps:\n\n";
    md += "| set | fingers enrolled (one / kept) | impostor attempts | level 1 one | level 1 kept | level 3 one | level 3 kept | level 5 one | level 5 kept |\n";
    md += "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const auto& [name, p] : sets) {
        md += "| " + name + " | " + std::to_string(p.enrolledOne) + " / " + std::to_string(p.enrolledKept) + " of " +
              std::to_string(p.fingers) + " | " + std::to_string(p.keptMetrics.impostorCount) + " |";
        for (int level : {1, 3, 5}) {
            const std::size_t t = levelIndex(level);
            md += " " + pct(p.oneMetrics.fnmr[t]) + " / " + pct(p.oneMetrics.fmr[t]) + " |";
            md += " " + pct(p.keptMetrics.fnmr[t]) + " / " + pct(p.keptMetrics.fmr[t]) + " |";
        }
        md += "\n";
    }
    md += "\nFused identification over the enrolled fingers: recall of the short list (the true finger among the "
          "fingers with the best quick scores) and rank-1 after the full match re-scores it, with the full matches "
          "each probe costs:\n\n";
    md += "| set | probes | rank-1 (short list 50) | rank-10 |";
    for (std::size_t s : kShortLists) md += " " + shortListName(s) + " |";
    md += "\n|---|---:|---:|---:|";
    for (std::size_t i = 0; i < std::size(kShortLists); ++i) md += "---:|";
    md += "\n";
    for (const auto& [name, p] : sets) {
        md += "| " + name + " | " + std::to_string(p.fused.probes) + " | " + pct(p.fused.rank1) + " | " +
              pct(p.fused.rank10) + " |";
        for (const ShortListRow& r : p.shortList) {
            char buf[96];
            std::snprintf(buf, sizeof buf, " %s / %s (%.0f) |", pct(r.recall).c_str(), pct(r.rank1).c_str(), r.fullMatches);
            md += buf;
        }
        md += "\n";
    }
    md += "\nEach short-list cell: recall / rank-1 (full matches per probe).\n";
    return md;
}

}  // namespace zpcli
