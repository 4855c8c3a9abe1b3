#include "eval_windows.h"

#include <algorithm>
#include <cstdio>

#include "eval_enrolment.h"

namespace zpcli {
namespace {

// The templates of the first `windows` grid windows of an impression.
std::vector<Template> firstWindows(const std::vector<WindowExtraction>& all, int windows) {
    std::vector<Template> out;
    for (const WindowExtraction& w : all)
        if (w.window < windows) out.push_back(w.templ);
    return out;
}

const Template* centred(const std::vector<WindowExtraction>& all) {
    return !all.empty() && all.front().window == 0 ? &all.front().templ : nullptr;
}

// Attempts accepted at a level.
std::size_t acceptedAt(const std::vector<int>& scores, int level) {
    const auto t = static_cast<int>(levelIndex(level));
    return static_cast<std::size_t>(std::count_if(scores.begin(), scores.end(), [t](int v) { return v >= t; }));
}

// Attempts accepted at a level of all of them, as "17 / 70".
std::string acceptedOf(const std::vector<int>& scores, int level) {
    return std::to_string(acceptedAt(scores, level)) + " / " + std::to_string(scores.size());
}

}  // namespace

WindowsProtocol evaluateWindows(const std::vector<FingerWindows>& fingers, int enrolWindows, int probeWindows,
                                unsigned threads) {
    WindowsProtocol p;
    p.enrolWindows = enrolWindows;
    p.probeWindows = probeWindows;
    p.fingers = fingers.size();
    struct Attempt {
        std::size_t enrolled;  // finger
        std::size_t finger;    // the probe's finger and impression
        std::size_t impression;
    };
    std::vector<Attempt> attempts;
    std::size_t enrolTemplates = 0;
    std::size_t probeTemplates = 0;
    std::size_t probes = 0;
    for (std::size_t f = 0; f < fingers.size(); ++f) {
        if (!fingers[f].impressions.empty()) enrolTemplates += firstWindows(fingers[f].impressions[0], enrolWindows).size();
        for (std::size_t g = 0; g < fingers.size(); ++g) {
            for (std::size_t i = 1; i < fingers[g].impressions.size(); ++i) {
                attempts.push_back({f, g, i});
                if (f == g) {
                    probeTemplates += firstWindows(fingers[g].impressions[i], probeWindows).size();
                    ++probes;
                }
            }
        }
    }
    p.enrolTemplates = fingers.empty() ? 0.0 : static_cast<double>(enrolTemplates) / static_cast<double>(fingers.size());
    p.probeTemplates = probes ? static_cast<double>(probeTemplates) / static_cast<double>(probes) : 0.0;

    std::vector<int> single(attempts.size(), kRejected);
    std::vector<int> windowed(attempts.size(), kRejected);
    std::vector<Workspace> workspaces(std::max(1U, threads));  // one per thread
    parallelFor(attempts.size(), threads, "windows", [&](std::size_t a, unsigned thread) {
        Workspace& ws = workspaces[thread];
        const Attempt& at = attempts[a];
        if (fingers[at.enrolled].impressions.empty()) return;
        const std::vector<WindowExtraction>& enrolled = fingers[at.enrolled].impressions[0];
        const std::vector<WindowExtraction>& probe = fingers[at.finger].impressions[at.impression];
        const Template* e0 = centred(enrolled);
        const Template* p0 = centred(probe);
        if (e0 && p0) single[a] = matchScore(*p0, *e0, ws);
        const std::vector<Template> enrolledWindows = firstWindows(enrolled, enrolWindows);
        for (const Template& q : firstWindows(probe, probeWindows))
            windowed[a] = std::max(windowed[a], bestScore(q, enrolledWindows, ws));
    });
    for (std::size_t a = 0; a < attempts.size(); ++a) {
        const bool genuine = attempts[a].enrolled == attempts[a].finger;
        (genuine ? p.single.genuine : p.single.impostor).push_back(single[a]);
        (genuine ? p.windowed.genuine : p.windowed.impostor).push_back(windowed[a]);
    }
    p.singleMetrics = verificationMetrics(p.single);
    p.windowedMetrics = verificationMetrics(p.windowed);
    return p;
}

Json windowsJson(const WindowsProtocol& p) {
    const auto levels = [](const VerificationMetrics& m) {
        Json out = Json::array();
        for (int level = 1; level <= 5; ++level) {
            const std::size_t t = levelIndex(level);
            out.push_back({{"level", level}, {"threshold", t}, {"fmr", m.fmr[t]}, {"fnmr", m.fnmr[t]}});
        }
        return out;
    };
    return {{"enrol_windows", p.enrolWindows},
            {"probe_windows", p.probeWindows},
            {"fingers", p.fingers},
            {"templates_per_finger", p.enrolTemplates},
            {"templates_per_probe", p.probeTemplates},
            {"genuine_attempts", p.windowedMetrics.genuineCount},
            {"impostor_attempts", p.windowedMetrics.impostorCount},
            {"single_window", {{"eer", p.singleMetrics.eer}, {"levels", levels(p.singleMetrics)}}},
            {"windows", {{"eer", p.windowedMetrics.eer}, {"levels", levels(p.windowedMetrics)}}}};
}

void printWindows(const WindowsProtocol& p) {
    std::printf("  windows: first impression enrolled with %d windows (%.1f templates per finger), probes with %d "
                "(%.1f templates each); %zu genuine and %zu impostor attempts (all cross-finger pairs)\n",
                p.enrolWindows, p.enrolTemplates, p.probeWindows, p.probeTemplates, p.windowedMetrics.genuineCount,
                p.windowedMetrics.impostorCount);
    std::printf("  %5s %9s  %-21s %-21s\n", "level", "threshold", "single window FNMR/FMR", "windows FNMR/FMR");
    for (int level = 1; level <= 5; ++level) {
        const std::size_t t = levelIndex(level);
        std::printf("  %5d %9zu  %-21s %-21s\n", level, t,
                    (pct(p.singleMetrics.fnmr[t]) + " / " + pct(p.singleMetrics.fmr[t])).c_str(),
                    (pct(p.windowedMetrics.fnmr[t]) + " / " + pct(p.windowedMetrics.fmr[t])).c_str());
    }
    std::printf("  genuine accepted at level 3: %s with a single window, %s with windows\n", acceptedOf(p.single.genuine, 3).c_str(),
                acceptedOf(p.windowed.genuine, 3).c_str());
}

std::string windowsMarkdown(const std::vector<std::pair<std::string, WindowsProtocol>>& sets) {
    if (sets.empty()) return {};
    const WindowsProtocol& first = sets.front().second;
    const std::string windows = std::to_string(first.enrolWindows) + "," + std::to_string(first.probeWindows);
    std::string md = "\nSeveral windows of each capture (`zpapi eval --windows " + windows +
                     "`): the first impression of each finger enrolled, every other impression a probe, impostors "
                     "over all cross-finger pairs; the centred windows alone (single window) beside " +
                     std::to_string(first.enrolWindows) + " enrolment and " + std::to_string(first.probeWindows) +
                     " probe windows, the best score deciding:\n\n";
    md += "| set | protocol | templates per finger / probe | level 3: genuine accepted | level 3: false accepts |";
    for (int level = 1; level <= 5; ++level) md += " level " + std::to_string(level) + " FNMR / FMR |";
    md += "\n|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    const auto row = [&md](const std::string& set, const std::string& protocol, const std::string& templates,
                           const ScoreList& s, const VerificationMetrics& m, const std::string& gain) {
        md += "| " + set + " | " + protocol + " | " + templates + " | " + acceptedOf(s.genuine, 3) + gain + " | " +
              acceptedOf(s.impostor, 3) + " |";
        for (int level = 1; level <= 5; ++level) {
            const std::size_t t = levelIndex(level);
            md += " " + pct(m.fnmr[t]) + " / " + pct(m.fmr[t]) + " |";
        }
        md += "\n";
    };
    // "(1.67 x)": windows' genuine accepts over the single window's at level 3.
    const auto gain = [](const ScoreList& single, const ScoreList& windowed) {
        const std::size_t a = acceptedAt(single.genuine, 3);
        const std::size_t b = acceptedAt(windowed.genuine, 3);
        if (a == 0) return std::string();
        char buf[32];
        std::snprintf(buf, sizeof buf, " (%.2f x)", static_cast<double>(b) / static_cast<double>(a));
        return std::string(buf);
    };
    WindowsProtocol all;
    for (const auto& [name, p] : sets) {
        char templates[64];
        std::snprintf(templates, sizeof templates, "%.1f / %.1f", p.enrolTemplates, p.probeTemplates);
        row(name, "single window", "1 / 1", p.single, p.singleMetrics, "");
        row("", "windows " + windows, templates, p.windowed, p.windowedMetrics, gain(p.single, p.windowed));
        for (ScoreList* s : {&all.single, &all.windowed}) {
            const ScoreList& from = s == &all.single ? p.single : p.windowed;
            s->genuine.insert(s->genuine.end(), from.genuine.begin(), from.genuine.end());
            s->impostor.insert(s->impostor.end(), from.impostor.begin(), from.impostor.end());
        }
    }
    if (sets.size() > 1) {
        row("every set", "single window", "", all.single, verificationMetrics(all.single), "");
        row("", "windows " + windows, "", all.windowed, verificationMetrics(all.windowed),
            gain(all.single, all.windowed));
    }
    return md;
}

}  // namespace zpcli
