#include "gallery/search.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
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

// Sum over the captures of each one's best probe score: the windows of one
// capture are one finger seen several times, not several fingers.
int fusedTotal(const std::vector<Probe>& probes, const std::vector<ProbeScore>& scores) {
    std::map<int, int> bestOfCapture;
    int total = 0;
    for (std::size_t p = 0; p < probes.size(); ++p) {
        const int score = std::max(scores[p].score, 0);
        if (probes[p].capture < 0) total += score;
        else bestOfCapture[probes[p].capture] = std::max(bestOfCapture[probes[p].capture], score);
    }
    for (const auto& [capture, best] : bestOfCapture) total += best;
    return total;
}

}  // namespace

std::vector<std::uint8_t> quickScores(const Template& probe, const std::vector<Template>& templates,
                                      unsigned threads, const std::function<void(std::size_t, std::size_t)>& progress) {
    std::vector<std::uint8_t> scores(templates.size());
    quickScores(probe, templates, scores, threads, progress);
    return scores;
}

void quickScores(const Template& probe, std::span<const Template> templates, std::span<std::uint8_t> scores,
                 unsigned threads, const std::function<void(std::size_t, std::size_t)>& progress) {
    Workspace loaded;
    if (ZPLoadFeature(probe.data(), loaded.data()) != 1) throw Error{"the probe template is refused by the loader"};
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
}

namespace {

// Quick scores of every probe against every template: one loaded
// workspace per probe and thread, templates taken in chunks as they arrive.
class QuickScoring {
  public:
    QuickScoring(const std::vector<Probe>& probes, std::size_t capacity) : scores_(probes.size()) {
        for (const Probe& p : probes) {
            Workspace ws;
            if (ZPLoadFeature(p.templ.data(), ws.data()) != 1)
                throw Error{p.label + ": the probe template is refused by the loader"};
            loaded_.push_back(std::move(ws));
        }
        for (auto& s : scores_) s.resize(capacity);
    }

    // Scores chunks below the arrived count until every template is done.
    void work(const Template* templates) {
        std::vector<Workspace> mine = loaded_;  // a loaded workspace may be copied
        for (;;) {
            // A chunk is scored once it has arrived whole, or the read is over.
            const std::size_t begin = next_.fetch_add(kChunk);
            while (arrived_.load(std::memory_order_acquire) < begin + kChunk &&
                   !finished_.load(std::memory_order_acquire))
                std::this_thread::yield();
            const std::size_t end = std::min(begin + kChunk, arrived_.load(std::memory_order_acquire));
            if (begin >= end) return;  // read and scored to the end
            for (std::size_t p = 0; p < mine.size(); ++p)
                for (std::size_t i = begin; i < end; ++i)
                    scores_[p][i] = static_cast<std::uint8_t>(ZPQuickMatch(templates[i].data(), mine[p].data()));
        }
    }
    void arrived(std::size_t n) { arrived_.store(n, std::memory_order_release); }
    void finish() { finished_.store(true, std::memory_order_release); }
    std::vector<std::vector<std::uint8_t>>& scores() { return scores_; }

  private:
    static constexpr std::size_t kChunk = 1024;
    std::vector<Workspace> loaded_;
    std::vector<std::vector<std::uint8_t>> scores_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> arrived_{0};
    std::atomic<bool> finished_{false};
};

// Short lists the fingers of each probe by their quick scores (scores[p][i]
// for template i), then re-scores and fuses.
SearchResult rankSubjects(const Snapshot& gallery, const std::vector<Probe>& probes,
                          const std::vector<std::vector<std::uint8_t>>& quickScores, const SearchOptions& options) {
    const std::size_t length = shortListLength(options);
    std::vector<ShortList> lists(probes.size());
    for (std::size_t p = 0; p < probes.size(); ++p) {
        const std::vector<std::uint8_t>& quick = quickScores[p];
        ShortList& fingers = lists[p];
        for (std::uint32_t f = 0; f < gallery.fingers.size(); ++f) {
            const Snapshot::Finger& finger = gallery.fingers[f];
            if (!comparable(probes[p].finger, finger.position)) continue;
            int best = 0;
            for (std::uint32_t i = finger.begin; i < finger.end; ++i) best = std::max<int>(best, quick[i]);
            fingers.push_back({best, f});
        }
        const std::size_t keep = std::min(length, fingers.size());
        std::partial_sort(fingers.begin(), fingers.begin() + static_cast<std::ptrdiff_t>(keep), fingers.end(),
                          [](const ShortListed& a, const ShortListed& b) {
                              return a.quick != b.quick ? a.quick > b.quick : a.finger < b.finger;
                          });
        fingers.resize(keep);
    }
    return rankShortLists(gallery, probes, lists, options);
}

// A search over the short lists a store answered itself.
SearchResult rankStoreShortLists(const StoreShortLists& listed, const std::vector<Probe>& probes,
                                 const SearchOptions& options) {
    SearchResult result = rankShortLists(listed.gallery, probes, listed.lists, options);
    result.templates = listed.templates;
    result.fingers = listed.fingers;
    result.subjects = listed.subjects;
    return result;
}

}  // namespace

std::size_t shortListLength(const SearchOptions& options) {
    return options.shortList ? options.shortList : std::max(options.top, kDefaultShortList);
}

SearchResult rankShortLists(const Snapshot& gallery, const std::vector<Probe>& probes,
                            const std::vector<ShortList>& shortLists, const SearchOptions& options) {
    SearchResult result;
    result.templates = gallery.templates.size();
    result.fingers = gallery.fingers.size();
    result.subjects = gallery.subjects();
    result.shortList = shortListLength(options);
    std::map<std::string, SubjectCandidate> bySubject;
    Workspace ws;
    for (std::size_t p = 0; p < probes.size(); ++p) {
        const Probe& probe = probes[p];
        for (const ShortListed& listed : shortLists[p]) {
            const Snapshot::Finger& finger = gallery.fingers[listed.finger];
            ProbeScore s;
            s.finger = finger.position;
            s.quick = listed.quick;
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
        c.total = fusedTotal(probes, c.probes);
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

SearchResult identify(const Snapshot& gallery, const std::vector<Probe>& probes, const SearchOptions& options) {
    std::vector<std::vector<std::uint8_t>> quick;
    for (const Probe& p : probes) quick.push_back(quickScores(p.templ, gallery.templates, options.threads, options.progress));
    return rankSubjects(gallery, probes, quick, options);
}

SearchResult identify(Store& store, const std::vector<Probe>& probes, const SearchOptions& options,
                      Snapshot& gallery) {
    StoreShortLists listed;
    if (store.shortLists(probes, shortListLength(options), listed)) {
        SearchResult result = rankStoreShortLists(listed, probes, options);
        gallery = std::move(listed.gallery);
        return result;
    }
    // The reading thread scores too once the read is done.
    const unsigned helpers = std::max(1U, options.threads ? options.threads : std::thread::hardware_concurrency()) - 1;
    std::unique_ptr<QuickScoring> scoring;
    std::vector<std::thread> pool;
    const auto stop = [&] {
        if (scoring) scoring->finish();
        for (std::thread& t : pool) t.join();
        pool.clear();
    };
    try {
        store.readSnapshot(gallery, [&](std::size_t arrived) {
            if (!scoring) {
                scoring = std::make_unique<QuickScoring>(probes, gallery.templates.capacity());
                const Template* templates = gallery.templates.data();
                for (unsigned t = 0; t < helpers; ++t) pool.emplace_back([&, templates] { scoring->work(templates); });
            }
            scoring->arrived(arrived);
            if (options.progress) options.progress(arrived, gallery.templates.capacity());
        });
    } catch (...) {
        stop();
        throw;
    }
    if (!scoring || gallery.templates.empty()) {
        stop();
        return identify(gallery, probes, options);
    }
    scoring->finish();
    scoring->work(gallery.templates.data());
    stop();
    for (auto& s : scoring->scores()) s.resize(gallery.templates.size());
    return rankSubjects(gallery, probes, scoring->scores(), options);
}

namespace {

// The best score of probe over the enrolled templates, the first on ties,
// and the template that gave it (null when none): all but the decision.
VerifyResult bestScore(const Template& probe, const std::vector<StoredTemplate>& enrolled, Workspace& ws,
                       const StoredTemplate*& best) {
    VerifyResult r;
    best = nullptr;
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
        r.window = best->window;
    }
    return r;
}

}  // namespace

VerifyResult verify(const Template& probe, const std::vector<StoredTemplate>& enrolled, int level) {
    Workspace ws;
    const StoredTemplate* best = nullptr;
    VerifyResult r = bestScore(probe, enrolled, ws, best);
    if (best != nullptr) r.match = ZPMatch(probe.data(), best->templ.data(), ws.data(), level) == 1;
    return r;
}

VerifyResult verify(const std::vector<Template>& probeWindows, const std::vector<StoredTemplate>& enrolled, int level) {
    Workspace ws;
    VerifyResult best;
    const StoredTemplate* bestTemplate = nullptr;
    for (std::size_t w = 0; w < probeWindows.size(); ++w) {
        const StoredTemplate* t = nullptr;
        VerifyResult r = bestScore(probeWindows[w], enrolled, ws, t);
        r.probe = w;
        if (w == 0 || r.score > best.score) {
            best = r;
            bestTemplate = t;
        }
    }
    // Only the winning window's decision is kept: one full match decides it.
    if (bestTemplate != nullptr)
        best.match = ZPMatch(probeWindows[best.probe].data(), bestTemplate->templ.data(), ws.data(), level) == 1;
    return best;
}

std::vector<std::size_t> bestWindows(const std::vector<Probe>& probes, const SubjectCandidate& candidate) {
    std::vector<std::size_t> best;
    for (std::size_t p = 0; p < probes.size(); ++p) {
        const auto same = std::find_if(best.begin(), best.end(), [&](std::size_t b) {
            return probes[p].capture >= 0 && probes[b].capture == probes[p].capture;
        });
        if (same == best.end()) best.push_back(p);
        else if (candidate.probes[p].score > candidate.probes[*same].score) *same = p;
    }
    return best;
}

std::optional<SubjectCandidate> findDuplicate(Store& store, const std::vector<Template>& templates,
                                              const std::string& subject, int level, unsigned threads) {
    SearchOptions options;
    options.top = 10;
    options.level = level;
    options.threads = threads;
    std::optional<Snapshot> whole;  // read once, when the store does not short-list
    for (const Template& t : templates) {
        const std::vector<Probe> probe = {Probe{t, kUnknownFinger, {}}};
        StoreShortLists listed;
        SearchResult r;
        if (store.shortLists(probe, shortListLength(options), listed)) {
            r = rankStoreShortLists(listed, probe, options);
        } else {
            if (!whole) whole = store.snapshot();
            r = identify(*whole, probe, options);
        }
        for (const SubjectCandidate& c : r.candidates)
            if (c.match && c.subject != subject) return c;
    }
    return std::nullopt;
}

}  // namespace zpg
