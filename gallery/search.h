// Searching a gallery: quick match of every template on all cores, the
// best fingers re-scored with the full match against all their templates,
// and subjects ranked by their fused scores.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gallery/store.h"

namespace zpg {

// A probe template and the finger it was taken from (unknown: any finger).
struct Probe {
    Template templ{};
    int finger = kUnknownFinger;
    std::string label;
    // Windows of one capture share a capture number (>= 0): a subject's
    // fused score counts the best of them once. -1: a capture of its own.
    int capture = -1;
    int window = 0;  // StoredTemplate::window
};

// Fingers re-scored with the full match when no short list is asked for:
// max(top, this).
inline constexpr std::size_t kDefaultShortList = 50;

struct SearchOptions {
    std::size_t top = 5;        // subjects answered
    std::size_t shortList = 0;  // fingers re-scored per probe; 0: the default
    int level = 3;
    unsigned threads = 0;       // 0: every core
    // Called now and then with (templates scored, templates to score).
    std::function<void(std::size_t, std::size_t)> progress;
};

// How one probe fared against one subject.
struct ProbeScore {
    int finger = kUnknownFinger;  // the subject's best finger for this probe
    int slot = -1;                // and its best template
    int quick = -1;               // best quick score of that finger; -1: not short-listed
    int score = -1;               // best full-match score; -1: not re-scored
    bool match = false;           // ZPMatch at the level with that template
};

struct SubjectCandidate {
    std::string subject;
    int total = 0;                    // sum over the captures of the best scores
    bool match = false;               // some probe matches at the level
    std::vector<ProbeScore> probes;   // one per probe, in the order given
};

struct SearchResult {
    std::vector<SubjectCandidate> candidates;  // best first, at most top
    std::size_t templates = 0;                 // templates searched per probe
    std::size_t fingers = 0;
    std::size_t subjects = 0;
    std::size_t shortList = 0;                 // fingers re-scored per probe
};

// The fingers a probe re-scores with the full match, best quick score
// first; ties go in gallery order (subject in byte order, then position).
struct ShortListed {
    int quick = 0;             // the finger's best quick score
    std::uint32_t finger = 0;  // index into Snapshot::fingers
};
using ShortList = std::vector<ShortListed>;
// Fingers short-listed per probe: the asked length, or max(top, default).
std::size_t shortListLength(const SearchOptions& options);

// What a store that short-lists next to its rows hands over: the
// short-listed fingers with their usable templates, each probe's short list
// into them, and the counts of the whole gallery.
struct StoreShortLists {
    Snapshot gallery;              // damaged: every damaged row of the store
    std::vector<ShortList> lists;  // one per probe, indices into gallery.fingers
    std::size_t templates = 0;     // usable rows of the whole store
    std::size_t fingers = 0;
    std::size_t subjects = 0;
};

// Re-scores each probe's short list with the full match and ranks the
// subjects by their fused scores. A server that short-lists next to its rows
// hands over only the short-listed fingers' templates in gallery; the
// answer is the same as a search over the whole gallery.
SearchResult rankShortLists(const Snapshot& gallery, const std::vector<Probe>& probes,
                            const std::vector<ShortList>& shortLists, const SearchOptions& options);

// Probes of different fingers of one person rank subjects by the sum of
// their per-finger best scores; a probe of a known finger is compared with
// that finger and with fingers of unknown position only.
SearchResult identify(const Snapshot& gallery, const std::vector<Probe>& probes, const SearchOptions& options);
// The same search over a store, quick-matching the templates while they are
// read; the gallery read is left in gallery (its damaged rows). A store that
// short-lists itself hands over only the short-listed fingers: gallery then
// holds those, and the result the counts of the whole store.
SearchResult identify(Store& store, const std::vector<Probe>& probes, const SearchOptions& options,
                      Snapshot& gallery);

// ZPQuickMatch of every template against probe, on threads threads (one
// loaded workspace each). Throws Error when the probe cannot be loaded.
std::vector<std::uint8_t> quickScores(const Template& probe, const std::vector<Template>& templates,
                                      unsigned threads,
                                      const std::function<void(std::size_t, std::size_t)>& progress = {});
// The same over templates lying side by side in the caller's memory (a
// host's array), into scores (one per template): nothing is copied.
void quickScores(const Template& probe, std::span<const Template> templates, std::span<std::uint8_t> scores,
                 unsigned threads, const std::function<void(std::size_t, std::size_t)>& progress = {});

// 1:1 against a subject's enrolled templates: the best score decides.
struct VerifyResult {
    int score = 0;
    int finger = kUnknownFinger;
    int slot = 0;
    int window = 0;             // the best template's StoredTemplate::window
    bool match = false;         // ZPMatch at the level with the best template
    std::size_t compared = 0;
    std::size_t probe = 0;      // which of the probe's windows scored best
};
VerifyResult verify(const Template& probe, const std::vector<StoredTemplate>& enrolled, int level);
// The windows of one capture: the best score over every window and
// template decides (the first window on ties).
VerifyResult verify(const std::vector<Template>& probeWindows, const std::vector<StoredTemplate>& enrolled, int level);

// For each capture of the probes, in the order of its first probe, the
// probe (window) with the candidate's best score; the first on ties.
std::vector<std::size_t> bestWindows(const std::vector<Probe>& probes, const SubjectCandidate& candidate);

// The first subject other than subject with a finger that matches one of
// the templates at the level (de-duplication at enrolment); damaged rows
// are passed over. A store that short-lists itself searches for each.
std::optional<SubjectCandidate> findDuplicate(Store& store, const std::vector<Template>& templates,
                                              const std::string& subject, int level, unsigned threads);

}  // namespace zpg
