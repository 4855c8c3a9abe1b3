// zpapi eval: the verification protocol of the FVC competitions, a closed-set
// identification and timings, on folders of images named FINGER_IMPRESSION.
//
// Protocol, per folder:
// - every image is extracted (quality threshold 0, least yield 0, as every
//   other command extracts); an image that is unreadable or yields no
//   template is a failure to enrol;
// - genuine comparisons: every pair of impressions i < j of the same finger,
//   the later impression as the probe (first template of the match driver)
//   and the earlier as the enrolled one;
// - impostor comparisons: the first impressions of every pair of fingers
//   f < g, g's as the probe;
// - a comparison with a failed image is a rejection: a false non-match when
//   genuine, never a false match when impostor;
// - identification: the gallery holds the first impression of each finger,
//   every other impression is a probe; ZPQuickMatch ranks the whole gallery
//   (the probe loaded into the workspace), the match driver re-scores the
//   quick match's short list. Ties rank against the true finger.
#include "eval_command.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli_common.h"
#include "eval_enrolment.h"
#include "eval_metrics.h"
#include "eval_windows.h"

namespace zpcli {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU time of the calling thread: per-image and per-comparison costs stay
// meaningful while other threads or processes share the cores.
double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct SetImage {
    int finger = 0;
    int impression = 0;
    std::string path;
};

// One folder: its images ordered by finger, then impression.
struct ImageSet {
    std::string name;
    std::string dir;
    std::vector<SetImage> images;
    // Indices into images of each finger's impressions, ordered by impression.
    std::map<int, std::vector<std::size_t>> byFinger;
};

// FINGER_IMPRESSION.ext with an image extension, e.g. 101_3.tif.
bool parseImageName(const std::string& file, int& finger, int& impression) {
    static const char* const kExtensions[] = {"tif", "tiff", "png", "bmp", "pgm", "ppm", "jpg", "jpeg"};
    const std::size_t underscore = file.find('_');
    const std::size_t dot = file.find('.');
    if (underscore == std::string::npos || dot == std::string::npos || underscore == 0 || dot <= underscore + 1)
        return false;
    const auto digits = [&](std::size_t begin, std::size_t end) {
        if (end - begin > 6) return -1;  // no id this long
        int value = 0;
        for (std::size_t i = begin; i < end; ++i) {
            if (file[i] < '0' || file[i] > '9') return -1;
            value = value * 10 + (file[i] - '0');
        }
        return value;
    };
    finger = digits(0, underscore);
    impression = digits(underscore + 1, dot);
    if (finger < 0 || impression < 0) return false;
    std::string ext = file.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::find(std::begin(kExtensions), std::end(kExtensions), ext) != std::end(kExtensions);
}

ImageSet listSet(const std::string& dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) throw InputError{dir + ": no such folder"};
    ImageSet set;
    set.dir = dir;
    std::filesystem::path p(dir);
    if (!p.has_filename()) p = p.parent_path();  // "dir/" names dir
    set.name = p.filename().string();
    std::map<std::pair<int, int>, std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (!entry.is_regular_file()) continue;
        int finger = 0;
        int impression = 0;
        if (!parseImageName(entry.path().filename().string(), finger, impression)) continue;
        const std::pair<int, int> key{finger, impression};
        const std::string path = entry.path().string();
        auto it = found.find(key);
        if (it == found.end()) found.emplace(key, path);
        else {
            std::fprintf(stderr, "zpapi eval: %s and %s are the same impression; using the first\n",
                         std::min(it->second, path).c_str(), std::max(it->second, path).c_str());
            it->second = std::min(it->second, path);
        }
    }
    if (ec) throw InputError{dir + ": cannot be read (" + ec.message() + ")"};
    if (found.empty()) throw InputError{dir + ": no images named FINGER_IMPRESSION.ext (e.g. 101_1.tif)"};
    for (const auto& [key, path] : found) {
        set.byFinger[key.first].push_back(set.images.size());
        set.images.push_back({key.first, key.second, path});
    }
    return set;
}

struct Enrolment {
    bool ok = false;
    bool read = false;  // the file was read and extraction ran
    std::string failure;  // why not, for the report
    Template templ{};
    double seconds = 0.0;  // CPU time of the extraction alone, without reading the file
    std::vector<WindowExtraction> windows;  // with --windows: every window's template
};

struct Options {
    std::vector<std::string> dirs;
    bool json = false;
    std::string report;
    std::string markdown;
    int dpi = 500;
    unsigned threads = 0;
    std::size_t shortList = 20;
    int enrol = 0;              // --enrol K: the enroll command's protocol too
    bool allImpostors = false;  // every cross-finger pair, not first impressions only
    int enrolWindows = 0;       // --windows E[,P]; 0: not asked for
    int probeWindows = 0;
};

struct Identification {
    std::size_t gallery = 0;
    RankRates quick;
    RankRates rescored;
};

struct SetResult {
    ImageSet set;
    std::vector<Enrolment> enrolments;
    std::size_t failures = 0;
    double extractSeconds = 0.0;  // mean CPU time per extraction
    ScoreList scores;
    std::size_t comparisonsMade = 0;
    double matchSeconds = 0.0;  // mean CPU time per comparison made
    VerificationMetrics metrics;
    Identification identification;
    std::optional<EnrolmentProtocol> enrolment;
    std::optional<WindowsProtocol> windows;
    double seconds = 0.0;  // the whole set, wall clock
};

std::vector<Enrolment> enrolAll(const ImageSet& set, const Options& opts, unsigned threads) {
    std::vector<Enrolment> out(set.images.size());
    // With --windows, a finger's first impression is enrolled with E windows
    // and the others probe with P; each capture extracts only those (a window
    // is dropped only for repeating an earlier one, so fewer windows leave
    // the first ones as they were).
    std::vector<int> windowCount(set.images.size(), 1);
    if (opts.enrolWindows > 0) {
        for (const auto& [finger, impressions] : set.byFinger)
            for (std::size_t i : impressions)
                windowCount[i] = i == impressions.front() ? opts.enrolWindows : opts.probeWindows;
    }
    parallelFor(set.images.size(), threads, set.name + ": extracting", [&](std::size_t i, unsigned) {
        Enrolment& e = out[i];
        std::vector<CaptureWindow> windows;
        try {
            windows = loadSensorWindowsOrThrow(set.images[i].path, opts.dpi, windowCount[i], true);
        } catch (const InputError& err) {
            e.failure = err.message;
            return;
        }
        e.read = true;
        std::int32_t centred = 0;
        if (opts.enrolWindows > 0) e.windows = extractWindows(windows, centred);
        const double start = threadCpuSeconds();
        const Extraction x = extract(windows.front().sensor, 0, 0);
        e.seconds = threadCpuSeconds() - start;
        e.ok = x.result == ZP_EXTRACT_OK;
        if (e.ok) e.templ = x.templ;
        else e.failure = extractResultText(x.result);
    });
    return out;
}

struct Comparison {
    std::size_t probe = 0;
    std::size_t enrolled = 0;
    bool genuine = false;
};

std::vector<Comparison> protocolComparisons(const ImageSet& set, bool allImpostors) {
    std::vector<Comparison> list;
    for (const auto& [finger, impressions] : set.byFinger) {
        for (std::size_t i = 0; i < impressions.size(); ++i)
            for (std::size_t j = i + 1; j < impressions.size(); ++j) list.push_back({impressions[j], impressions[i], true});
    }
    if (allImpostors) {
        for (std::size_t i = 0; i < set.images.size(); ++i)
            for (std::size_t j = i + 1; j < set.images.size(); ++j)
                if (set.images[i].finger != set.images[j].finger) list.push_back({j, i, false});
        return list;
    }
    std::vector<std::size_t> firsts;
    for (const auto& [finger, impressions] : set.byFinger) firsts.push_back(impressions.front());
    for (std::size_t f = 0; f < firsts.size(); ++f)
        for (std::size_t g = f + 1; g < firsts.size(); ++g) list.push_back({firsts[g], firsts[f], false});
    return list;
}

void compareAll(SetResult& r, unsigned threads, bool allImpostors) {
    const std::vector<Comparison> list = protocolComparisons(r.set, allImpostors);
    std::vector<int> scores(list.size(), kRejected);
    std::vector<double> seconds(list.size(), 0.0);
    std::vector<Workspace> workspaces(std::max(1U, threads));
    parallelFor(list.size(), threads, r.set.name + ": comparing", [&](std::size_t i, unsigned t) {
        const Enrolment& probe = r.enrolments[list[i].probe];
        const Enrolment& enrolled = r.enrolments[list[i].enrolled];
        if (!probe.ok || !enrolled.ok) return;
        const double start = threadCpuSeconds();
        scores[i] = matchScore(probe.templ, enrolled.templ, workspaces[t]);
        seconds[i] = threadCpuSeconds() - start;
    });
    double total = 0.0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        (list[i].genuine ? r.scores.genuine : r.scores.impostor).push_back(scores[i]);
        if (scores[i] != kRejected) {
            ++r.comparisonsMade;
            total += seconds[i];
        }
    }
    r.matchSeconds = r.comparisonsMade ? total / static_cast<double>(r.comparisonsMade) : 0.0;
}

void identifyAll(SetResult& r, unsigned threads, std::size_t shortList) {
    std::vector<std::size_t> gallery;  // image index of each finger's first impression
    std::vector<std::pair<std::size_t, std::size_t>> probes;  // (image, gallery position)
    for (const auto& [finger, impressions] : r.set.byFinger) {
        const std::size_t position = gallery.size();
        gallery.push_back(impressions.front());
        for (std::size_t k = 1; k < impressions.size(); ++k) probes.push_back({impressions[k], position});
    }
    r.identification.gallery = gallery.size();
    std::vector<std::size_t> quickRanks(probes.size(), 0);
    std::vector<std::size_t> rescoredRanks(probes.size(), 0);
    struct Workspaces {
        Workspace loaded;
        Workspace match;
    };
    std::vector<Workspaces> workspaces(std::max(1U, threads));
    parallelFor(probes.size(), threads, r.set.name + ": identifying", [&](std::size_t p, unsigned t) {
        const auto [image, truth] = probes[p];
        const Enrolment& probe = r.enrolments[image];
        // A probe or a true gallery entry that failed to enrol is a miss.
        if (!probe.ok || !r.enrolments[gallery[truth]].ok) return;
        Workspaces& ws = workspaces[t];
        if (ZPLoadFeature(probe.templ.data(), ws.loaded.data()) != 1) return;
        std::vector<int> quick(gallery.size(), kRejected);
        for (std::size_t g = 0; g < gallery.size(); ++g) {
            const Enrolment& entry = r.enrolments[gallery[g]];
            if (entry.ok) quick[g] = ZPQuickMatch(entry.templ.data(), ws.loaded.data());
        }
        std::vector<int> others = quick;
        others.erase(others.begin() + static_cast<std::ptrdiff_t>(truth));
        quickRanks[p] = pessimisticRank(quick[truth], others);

        // The short list: best quick scores, ties in gallery order, as the
        // identify command takes it.
        std::vector<std::size_t> order(gallery.size());
        for (std::size_t g = 0; g < order.size(); ++g) order[g] = g;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return quick[a] > quick[b]; });
        order.resize(std::min(order.size(), shortList));
        if (std::find(order.begin(), order.end(), truth) == order.end()) return;
        int truthScore = 0;
        std::vector<int> rescored;
        for (std::size_t g : order) {
            const Enrolment& entry = r.enrolments[gallery[g]];
            const int s = entry.ok ? matchScore(probe.templ, entry.templ, ws.match) : kRejected;
            if (g == truth) truthScore = s;
            else rescored.push_back(s);
        }
        rescoredRanks[p] = pessimisticRank(truthScore, rescored);
    });
    r.identification.quick = rankRates(quickRanks);
    r.identification.rescored = rankRates(rescoredRanks);
}

SetResult evaluateSet(const std::string& dir, const Options& opts, unsigned threads) {
    const Clock::time_point start = Clock::now();
    SetResult r;
    r.set = listSet(dir);
    r.enrolments = enrolAll(r.set, opts, threads);
    double extractTotal = 0.0;
    std::size_t extracted = 0;
    for (const Enrolment& e : r.enrolments) {
        if (!e.ok) ++r.failures;
        if (e.read) {
            extractTotal += e.seconds;
            ++extracted;
        }
    }
    r.extractSeconds = extracted ? extractTotal / static_cast<double>(extracted) : 0.0;
    compareAll(r, threads, opts.allImpostors);
    r.metrics = verificationMetrics(r.scores);
    identifyAll(r, threads, opts.shortList);
    if (opts.enrol > 0) {
        std::vector<FingerImpressions> fingers;
        for (const auto& [finger, impressions] : r.set.byFinger) {
            FingerImpressions f{finger, {}};
            for (std::size_t i : impressions)
                f.templates.push_back(r.enrolments[i].ok ? std::optional<Template>(r.enrolments[i].templ) : std::nullopt);
            fingers.push_back(std::move(f));
        }
        r.enrolment = evaluateEnrolment(fingers, opts.enrol, opts.allImpostors, threads);
    }
    if (opts.enrolWindows > 0) {
        std::vector<FingerWindows> fingers;
        for (const auto& [finger, impressions] : r.set.byFinger) {
            FingerWindows f{finger, {}};
            for (std::size_t i : impressions) f.impressions.push_back(std::move(r.enrolments[i].windows));
            fingers.push_back(std::move(f));
        }
        r.windows = evaluateWindows(fingers, opts.enrolWindows, opts.probeWindows, threads);
    }
    r.seconds = secondsSince(start);
    return r;
}

double round4(double v) { return std::round(v * 1e6) / 1e6; }

Json point(const OperatingPoint& p) {
    return {{"fnmr", round4(p.fnmr)}, {"fmr", round4(p.fmr)}, {"threshold", p.threshold}};
}

Json toJson(const SetResult& r, const Options& opts) {
    const VerificationMetrics& m = r.metrics;
    Json failures = Json::array();
    for (std::size_t i = 0; i < r.enrolments.size(); ++i) {
        if (!r.enrolments[i].ok)
            failures.push_back({{"image", r.set.images[i].path}, {"error", r.enrolments[i].failure}});
    }
    Json levels = Json::array();
    for (int level = 1; level <= 5; ++level) {
        const std::size_t t = levelIndex(level);
        levels.push_back({{"level", level}, {"threshold", t}, {"fmr", round4(m.fmr[t])}, {"fnmr", round4(m.fnmr[t])}});
    }
    Json curve = Json::array();
    for (int t = 0; t <= kMaxScore; ++t)
        curve.push_back({{"threshold", t}, {"fmr", round4(m.fmr[static_cast<std::size_t>(t)])},
                         {"fnmr", round4(m.fnmr[static_cast<std::size_t>(t)])}});
    std::vector<int> genuineHistogram(kMaxScore + 1, 0);
    std::vector<int> impostorHistogram(kMaxScore + 1, 0);
    for (int s : r.scores.genuine)
        if (s >= 0) ++genuineHistogram[static_cast<std::size_t>(std::min(s, kMaxScore))];
    for (int s : r.scores.impostor)
        if (s >= 0) ++impostorHistogram[static_cast<std::size_t>(std::min(s, kMaxScore))];
    const Json histogram = {{"genuine", genuineHistogram}, {"impostor", impostorHistogram}};
    const Identification& id = r.identification;
    return {
        {"set", r.set.name},
        {"folder", r.set.dir},
        {"dpi", opts.dpi},
        {"fingers", r.set.byFinger.size()},
        {"images", r.set.images.size()},
        {"failures_to_enrol", r.failures},
        {"fte_rate", round4(r.set.images.empty() ? 0.0 : static_cast<double>(r.failures) / static_cast<double>(r.set.images.size()))},
        {"failed_images", failures},
        {"genuine_comparisons", m.genuineCount},
        {"impostor_comparisons", m.impostorCount},
        {"genuine_rejected", m.genuineRejected},
        {"impostor_rejected", m.impostorRejected},
        {"eer", round4(m.eer)},
        {"eer_low", round4(m.eerLow)},
        {"eer_high", round4(m.eerHigh)},
        {"eer_threshold", m.eerThreshold},
        {"fmr100", point(m.fmr100)},
        {"fmr1000", point(m.fmr1000)},
        {"zero_fmr", point(m.zeroFmr)},
        {"zero_fnmr", point(m.zeroFnmr)},
        {"levels", levels},
        {"identification",
         {{"fingers", id.gallery},
          {"probes", id.quick.probes},
          {"short_list", opts.shortList},
          {"quick_match", {{"rank1", round4(id.quick.rank1)}, {"rank10", round4(id.quick.rank10)}}},
          {"rescored", {{"rank1", round4(id.rescored.rank1)}, {"rank10", round4(id.rescored.rank10)}}}}},
        {"enrolment", r.enrolment ? enrolmentJson(*r.enrolment) : Json(nullptr)},
        {"windows", r.windows ? windowsJson(*r.windows) : Json(nullptr)},
        {"extract_ms", round4(r.extractSeconds * 1000.0)},
        {"match_ms", round4(r.matchSeconds * 1000.0)},
        {"seconds", round4(r.seconds)},
        {"curve", curve},
        {"histogram", histogram},
    };
}

void printSet(const SetResult& r) {
    const VerificationMetrics& m = r.metrics;
    std::printf("%s: %zu images of %zu fingers, %zu failed to enrol (%s); %.2f ms CPU per extraction\n", r.set.name.c_str(),
                r.set.images.size(), r.set.byFinger.size(), r.failures,
                pct(r.set.images.empty() ? 0.0 : static_cast<double>(r.failures) / static_cast<double>(r.set.images.size())).c_str(),
                r.extractSeconds * 1000.0);
    for (std::size_t i = 0; i < r.enrolments.size(); ++i) {
        if (!r.enrolments[i].ok)
            std::printf("  failed: %s: %s\n", r.set.images[i].path.c_str(), r.enrolments[i].failure.c_str());
    }
    std::printf("  %zu genuine and %zu impostor comparisons (%zu and %zu rejected), %.3f ms CPU each\n", m.genuineCount,
                m.impostorCount, m.genuineRejected, m.impostorRejected, r.matchSeconds * 1000.0);
    std::printf("  EER %s (between %s and %s, threshold %d)\n", pct(m.eer).c_str(), pct(m.eerLow).c_str(),
                pct(m.eerHigh).c_str(), m.eerThreshold);
    std::printf("  FMR100 %s (threshold %d), FMR1000 %s (threshold %d), ZeroFMR %s (threshold %d)\n",
                pct(m.fmr100.fnmr).c_str(), m.fmr100.threshold, pct(m.fmr1000.fnmr).c_str(), m.fmr1000.threshold,
                pct(m.zeroFmr.fnmr).c_str(), m.zeroFmr.threshold);
    std::printf("  %5s %9s %8s %8s\n", "level", "threshold", "FMR", "FNMR");
    for (int level = 1; level <= 5; ++level) {
        const std::size_t t = levelIndex(level);
        std::printf("  %5d %9zu %8s %8s\n", level, t, pct(m.fmr[t]).c_str(), pct(m.fnmr[t]).c_str());
    }
    const Identification& id = r.identification;
    std::printf("  identification, gallery %zu, %zu probes: quick match rank-1 %s rank-10 %s; re-scored rank-1 %s rank-10 %s\n",
                id.gallery, id.quick.probes, pct(id.quick.rank1).c_str(), pct(id.quick.rank10).c_str(),
                pct(id.rescored.rank1).c_str(), pct(id.rescored.rank10).c_str());
    if (r.enrolment) printEnrolment(*r.enrolment);
    if (r.windows) printWindows(*r.windows);
    std::printf("  %.1f s in all\n", r.seconds);
}

// Markdown tables of every set, for the results page.
std::string markdownTables(const std::vector<SetResult>& results) {
    std::string md;
    md += "| set | images | FTE | genuine / impostor | EER | FMR100 | FMR1000 | ZeroFMR | extract (CPU) | match (CPU) | time |\n";
    md += "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    char buf[512];
    for (const SetResult& r : results) {
        const VerificationMetrics& m = r.metrics;
        std::snprintf(buf, sizeof buf, "| %s | %zu | %zu | %zu / %zu | %s | %s | %s | %s | %.2f ms | %.3f ms | %.1f s |\n",
                      r.set.name.c_str(), r.set.images.size(), r.failures, m.genuineCount, m.impostorCount,
                      pct(m.eer).c_str(), pct(m.fmr100.fnmr).c_str(), pct(m.fmr1000.fnmr).c_str(),
                      pct(m.zeroFmr.fnmr).c_str(), r.extractSeconds * 1000.0, r.matchSeconds * 1000.0, r.seconds);
        md += buf;
    }
    md += "\nFMR / FNMR at the security levels of `ZPMatch` (accept when score >= threshold):\n\n";
    md += "| set | level 1 (10) | level 2 (20) | level 3 (30) | level 4 (40) | level 5 (50) |\n";
    md += "|---|---:|---:|---:|---:|---:|\n";
    for (const SetResult& r : results) {
        md += "| " + r.set.name + " |";
        for (int level = 1; level <= 5; ++level) {
            const std::size_t t = levelIndex(level);
            md += " " + pct(r.metrics.fmr[t]) + " / " + pct(r.metrics.fnmr[t]) + " |";
        }
        md += "\n";
    }
    md += "\nClosed-set identification (gallery: first impression of each finger; probes: the other impressions):\n\n";
    md += "| set | gallery | probes | quick match rank-1 | rank-10 | re-scored rank-1 | rank-10 |\n";
    md += "|---|---:|---:|---:|---:|---:|---:|\n";
    for (const SetResult& r : results) {
        const Identification& id = r.identification;
        std::snprintf(buf, sizeof buf, "| %s | %zu | %zu | %s | %s | %s | %s |\n", r.set.name.c_str(), id.gallery,
                      id.quick.probes, pct(id.quick.rank1).c_str(), pct(id.quick.rank10).c_str(),
                      pct(id.rescored.rank1).c_str(), pct(id.rescored.rank10).c_str());
        md += buf;
    }
    std::vector<std::pair<std::string, EnrolmentProtocol>> enrolments;
    for (const SetResult& r : results)
        if (r.enrolment) enrolments.emplace_back(r.set.name, *r.enrolment);
    md += enrolmentMarkdown(enrolments);
    std::vector<std::pair<std::string, WindowsProtocol>> windows;
    for (const SetResult& r : results)
        if (r.windows) windows.emplace_back(r.set.name, *r.windows);
    md += windowsMarkdown(windows);
    return md;
}

// "E" or "E,P", each 1 to kMaxWindows.
void parseWindows(const std::string& text, int& enrol, int& probe) {
    const auto number = [&](const std::string& part) {
        if (part.empty() || part.size() > 2 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) < 1 || std::stoi(part) > kMaxWindows)
            throw InputError{"--windows " + text + ": expected E or E,P, each 1 to " + std::to_string(kMaxWindows)};
        return std::stoi(part);
    };
    const std::size_t comma = text.find(',');
    enrol = number(text.substr(0, comma));
    probe = comma == std::string::npos ? kDefaultVerifyWindows : number(text.substr(comma + 1));
}

}  // namespace

void addEvalCommand(CLI::App& app, int& exitCode) {
    auto opts = std::make_shared<Options>();
    auto* cmd = app.add_subcommand(
        "eval",
        "Measure error rates on folders of images named FINGER_IMPRESSION.ext (FVC protocol): EER, FMR100, FMR1000, "
        "ZeroFMR, the security levels' FMR/FNMR and closed-set identification");
    cmd->add_option("dirs", opts->dirs, "Folders, one set each")->required()->expected(1, -1);
    cmd->add_flag("--json", opts->json, "Print every set's results as one JSON document on stdout instead of tables");
    cmd->add_option("--report", opts->report,
                    "Write the full report (the --json document with every set's FMR/FNMR curve and score histograms) "
                    "here; python3 -m zpapi.plot draws it");
    cmd->add_option("--markdown", opts->markdown, "Write the tables of every set as Markdown here");
    cmd->add_option("--dpi", opts->dpi, "Resolution of the images; resampled to 500 dpi")->check(CLI::Range(100, 2000));
    cmd->add_option("--threads", opts->threads, "Threads (default: all cores)");
    cmd->add_option("--short-list", opts->shortList, "Quick-match candidates re-scored by the full match")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    cmd->add_option("--enrol", opts->enrol,
                    "Also enrol each finger from its first K impressions as zpapi enroll does, probe with the "
                    "others, and compare with the one-template protocol")
        ->check(CLI::Range(2, 10));
    cmd->add_option("--impostors", opts->allImpostors,
                    "Impostor attempts: first (first impressions of every pair of fingers) or all (every cross-finger "
                    "pair)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, bool>{{"first", false}, {"all", true}}))
        ->default_str("first");
    auto windows = std::make_shared<std::string>();
    cmd->add_option("--windows", *windows,
                    "E[,P]: also enrol each finger's first impression with E windows of its capture and probe with P "
                    "(default: verify's " + std::to_string(kDefaultVerifyWindows) + "), impostors over all "
                    "cross-finger pairs, beside a single window; each 1 to " + std::to_string(kMaxWindows));
    cmd->callback([opts, windows, &exitCode] {
        if (!windows->empty()) parseWindows(*windows, opts->enrolWindows, opts->probeWindows);
        const unsigned threads = opts->threads ? opts->threads : std::max(1U, std::thread::hardware_concurrency());
        std::vector<SetResult> results;
        Json all = Json::array();
        for (const std::string& dir : opts->dirs) {
            results.push_back(evaluateSet(dir, *opts, threads));
            const SetResult& r = results.back();
            if (!opts->json) printSet(r);
            all.push_back(toJson(r, *opts));
        }
        if (!opts->report.empty()) writeFileAtomically(opts->report, Json({{"threads", threads}, {"sets", all}}).dump(2) + "\n");
        if (opts->json) {
            for (Json& set : all) {
                set.erase("curve");
                set.erase("histogram");
            }
            std::cout << Json({{"threads", threads}, {"sets", all}}).dump(2) << "\n";
        }
        if (!opts->markdown.empty()) writeFileAtomically(opts->markdown, markdownTables(results));
        exitCode = kExitOk;
    });
}

}  // namespace zpcli
