#include "gallery/search.h"

#include <algorithm>
#include <map>
#include <thread>

namespace zpg {
namespace {

unsigned threadCount(unsigned asked, std::size_t work) {
    const unsigned cores = asked ? asked : std::max(1U, std::thread::hardware_concurrency());
    // Below a thousand templates a thread costs more than it saves.
    return std::max(1U, std::min<unsigned>(cores, static_cast<unsigned>(work / 1000 + 1)));
}

bool comparable(int probeFinger, int galleryFinger) {
    return probeFinger == kUnknownFinger || galleryFinger == kUnknownFinger || probeFinger == galleryFinger;
}

}  // namespace

std::vector<std::uint8_t> quickScores(const Template& probe, const std::vector<Template>& templates,
                                      unsigned threads, const std::function<void(std::size_t, std::size_t)>& progress) {
    Workspace loaded;
    if (ZPLoadFeature(probe.data(), loaded.data()) != 1) throw Error{"the probe template is refused by the loader"};
    std::vector<std::uint8_t> scores(templates.size());
    threads = threadCount(threads, templates.size());
    auto work = [&](unsigned t) {
        Workspace ws = loaded;  // a loaded workspace may be copied
        const std::size_t begin = templates.size() * t / threads;
        const std::size_t end = templates.size() * (t + 1) / threads;
        for (std::size_t i = begin; i < end; ++i) {
            scores[i] = static_cast<std::uint8_t>(ZPQuickMatch(templates[i].data(), ws.data()));
            if (t == 0 && progress && (i & 65535) == 0) progress((i - begin) * threads, templates.size());
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread& th : pool) th.join();
    if (progress) progress(templates.size(), templates.size());
    return scores;
}

SearchResult identify(const Snapshot& gallery, const std::vector<Probe>& probes, const SearchOptions& options) {
    SearchResult result;
    result.templates = gallery.templates.size();
    result.fingers = gallery.fingers.size();
    result.shortList = options.shortList ? options.shortList : std::max(options.top, kDefaultShortList);
    std::map<std::string, SubjectCandidate> bySubject;
    Workspace ws;
    for (std::size_t p = 0; p < probes.size(); ++p) {
        const Probe& probe = probes[p];
        const std::vector<std::uint8_t> quick =
            quickScores(probe.templ, gallery.templates, options.threads, options.progress);
        // Each finger's best quick score; the best fingers make the short list
        // (ties in gallery order).
        std::vector<std::pair<int, std::uint32_t>> fingers;
        for (std::uint32_t f = 0; f < gallery.fingers.size(); ++f) {
            const Snapshot::Finger& finger = gallery.fingers[f];
            if (!comparable(probe.finger, finger.position)) continue;
            int best = 0;
            for (std::uint32_t i = finger.begin; i < finger.end; ++i) best = std::max<int>(best, quick[i]);
            fingers.emplace_back(best, f);
        }
        const std::size_t keep = std::min(result.shortList, fingers.size());
        std::partial_sort(fingers.begin(), fingers.begin() + static_cast<std::ptrdiff_t>(keep), fingers.end(),
                          [](const auto& a, const auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
        for (std::size_t k = 0; k < keep; ++k) {
            const Snapshot::Finger& finger = gallery.fingers[fingers[k].second];
            ProbeScore s;
            s.finger = finger.position;
            s.quick = fingers[k].first;
            for (std::uint32_t i = finger.begin; i < finger.end; ++i) {
                const int score = matchScore(probe.templ, gallery.templates[i], ws);
                if (score > s.score) {
                    s.score = score;
                    s.slot = static_cast<int>(i - finger.begin);
                }
            }
            SubjectCandidate& c = bySubject[finger.subject];
            if (c.probes.empty()) {
                c.subject = finger.subject;
                c.probes.resize(probes.size());
            }
            ProbeScore& mine = c.probes[p];
            if (s.score > mine.score || (s.score == mine.score && s.quick > mine.quick)) mine = s;
        }
    }
    std::vector<SubjectCandidate> ranked;
    ranked.reserve(bySubject.size());
    for (auto& [subject, c] : bySubject) {
        for (const ProbeScore& s : c.probes) c.total += std::max(s.score, 0);
        ranked.push_back(std::move(c));
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const SubjectCandidate& a, const SubjectCandidate& b) { return a.total > b.total; });
    if (ranked.size() > options.top) ranked.resize(options.top);
    // The decision is ZPMatch's own, with each probe's best template.
    for (SubjectCandidate& c : ranked) {
        for (std::size_t p = 0; p < probes.size(); ++p) {
            ProbeScore& s = c.probes[p];
            if (s.score < 0) continue;
            const auto finger = std::find_if(gallery.fingers.begin(), gallery.fingers.end(), [&](const Snapshot::Finger& f) {
                return f.subject == c.subject && f.position == s.finger;
            });
            const Template& t = gallery.templates[finger->begin + static_cast<std::uint32_t>(s.slot)];
            s.match = ZPMatch(probes[p].templ.data(), t.data(), ws.data(), options.level) == 1;
            c.match = c.match || s.match;
        }
    }
    result.candidates = std::move(ranked);
    return result;
}

VerifyResult verify(const Template& probe, const std::vector<StoredTemplate>& enrolled, int level) {
    VerifyResult r;
    Workspace ws;
    const StoredTemplate* best = nullptr;
    for (const StoredTemplate& t : enrolled) {
        const int score = matchScore(probe, t.templ, ws);
        if (best == nullptr || score > r.score) {
            r.score = score;
            best = &t;
        }
    }
    r.compared = enrolled.size();
    if (best != nullptr) {
        r.finger = best->finger;
        r.slot = best->slot;
        r.match = ZPMatch(probe.data(), best->templ.data(), ws.data(), level) == 1;
    }
    return r;
}

std::optional<SubjectCandidate> findDuplicate(const Snapshot& gallery, const std::vector<Template>& templates,
                                              const std::string& subject, int level, unsigned threads) {
    SearchOptions options;
    options.top = 10;
    options.level = level;
    options.threads = threads;
    for (const Template& t : templates) {
        const SearchResult r = identify(gallery, {Probe{t, kUnknownFinger, {}}}, options);
        for (const SubjectCandidate& c : r.candidates)
            if (c.match && c.subject != subject) return c;
    }
    return std::nullopt;
}

}  // namespace zpg
