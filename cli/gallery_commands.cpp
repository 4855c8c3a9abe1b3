// enroll, verify, identify, list, remove, populate, check, backup: the
// tool's face of the identification store.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include "cli_common.h"
#include "commands.h"
#include "gallery/enrol.h"
#include "gallery/search.h"

namespace zpcli {
namespace {

constexpr const char* kDefaultDb = "zpapi.db";

void printJson(const Json& j) { std::cout << j.dump(2) << "\n"; }

Json damagedJson(const std::vector<zpg::DamagedRow>& damaged) {
    Json list = Json::array();
    for (const zpg::DamagedRow& d : damaged)
        list.push_back({{"subject", d.subject}, {"finger", zpg::fingerName(d.finger)}, {"slot", d.slot},
                        {"reason", d.reason}});
    return list;
}

struct GalleryOpts {
    std::string db = kDefaultDb;
    bool json = false;
};

void addGalleryOptions(CLI::App* cmd, GalleryOpts& o) {
    cmd->add_option("--db", o.db,
                    "Gallery: an SQLite file, or a postgresql:// URI of a database with the zpapi extension")
        ->capture_default_str();
    cmd->add_flag("--json", o.json, "Print JSON instead of a table");
}

void addLevel(CLI::App* cmd, int& level) {
    cmd->add_option("--level", level, "Security level 1 to 5")->check(CLI::Range(1, 5))->capture_default_str();
}

void addFinger(CLI::App* cmd, std::string& finger, const char* what) {
    cmd->add_option("--finger", finger, what);
}

void addWindows(CLI::App* cmd, int& windows, const std::string& what) {
    cmd->add_option("--windows", windows, what)->check(CLI::Range(1, kMaxWindows))->capture_default_str();
}

const char* const kProbeWindowsHelp =
    "Windows of the probe capture extracted (one extraction each, and each compared): the best score counts";

Json enrolJson(const std::string& subject, int finger, const zpg::EnrolOutcome& r) {
    Json impressions = Json::array();
    for (const zpg::ImpressionOutcome& o : r.decision.outcomes) {
        Json j = {{"image", o.label}, {"outcome", zpg::fateName(o.fate)}};
        if (o.score >= 0) j["score"] = o.score;
        if (o.slot >= 0) {
            j["slot"] = o.slot;
            j["windows"] = o.windows;
        }
        j["reason"] = o.why;
        impressions.push_back(j);
    }
    Json j = {{"subject", subject}, {"finger", zpg::fingerName(finger)}, {"enrolled", r.enrolled()},
              {"templates", r.enrolled() ? r.decision.kept.size() : 0}};
    if (!r.enrolled()) j["reason"] = r.reason();
    if (r.duplicate) j["duplicate_of"] = r.duplicate->subject;
    j["impressions"] = impressions;
    return j;
}

// "; 2 more windows kept" after a kept impression's reason.
std::string windowsKept(const zpg::ImpressionOutcome& o) {
    if (o.windows.empty()) return {};
    return "; " + std::to_string(o.windows.size()) + " more window" + (o.windows.size() == 1 ? "" : "s") + " kept";
}

void printEnrolment(const std::string& subject, int finger, const zpg::EnrolOutcome& r) {
    for (const zpg::ImpressionOutcome& o : r.decision.outcomes)
        std::printf("  %-40s %-15s %s%s\n", o.label.c_str(), zpg::fateName(o.fate), o.why.c_str(), windowsKept(o).c_str());
    if (r.enrolled())
        std::printf("enrolled %s's %s finger: %zu templates kept\n", subject.c_str(), zpg::fingerName(finger),
                    r.decision.kept.size());
    else
        std::printf("%s's %s finger not enrolled: %s\n", subject.c_str(), zpg::fingerName(finger),
                    r.reason().c_str());
}

// One line of an enrolment list: SUBJECT FINGER IMAGE..., blank lines and
// lines starting with # skipped.
struct BatchLine {
    std::size_t number = 0;
    std::string subject;
    int finger = zpg::kUnknownFinger;
    std::vector<std::string> images;
};

std::vector<BatchLine> readBatch(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw InputError{path + ": cannot be read"};
    std::vector<BatchLine> lines;
    std::string text;
    std::vector<std::string> problems;
    for (std::size_t number = 1; std::getline(in, text); ++number) {
        std::istringstream fields(text);
        BatchLine line;
        line.number = number;
        std::string finger;
        if (!(fields >> line.subject) || line.subject[0] == '#') continue;
        std::string image;
        fields >> finger;
        while (fields >> image) line.images.push_back(image);
        try {
            if (line.images.empty()) throw InputError{"expected SUBJECT FINGER IMAGE..."};
            line.finger = zpg::parseFinger(finger);
        } catch (const InputError& e) {
            problems.push_back(path + ":" + std::to_string(number) + ": " + e.message);
            continue;
        }
        lines.push_back(std::move(line));
    }
    if (in.bad()) throw InputError{path + ": cannot be read"};
    if (!problems.empty()) {
        std::string all;
        for (const std::string& p : problems) all += (all.empty() ? "" : "\n") + p;
        throw InputError{all + "\n(nothing enrolled)"};
    }
    if (lines.empty()) throw InputError{path + ": no enrolment lines (SUBJECT FINGER IMAGE...)"};
    return lines;
}

// Enrols every line of a list: images extracted on all cores, fingers
// stored one transaction each as their images are ready.
int enrolBatch(zpg::Store& store, const std::string& list, const zpg::EnrolOptions& o, int dpi, int windows,
               unsigned threads, bool json) {
    const auto start = std::chrono::steady_clock::now();
    const std::vector<BatchLine> lines = readBatch(list);
    std::vector<std::pair<std::size_t, std::size_t>> jobs;  // (line, image)
    for (std::size_t l = 0; l < lines.size(); ++l)
        for (std::size_t i = 0; i < lines[l].images.size(); ++i) jobs.push_back({l, i});
    std::vector<std::vector<zpg::Impression>> offered(lines.size());
    std::vector<std::vector<std::string>> unreadable(lines.size());
    std::vector<std::size_t> pending(lines.size());
    for (std::size_t l = 0; l < lines.size(); ++l) {
        offered[l].resize(lines[l].images.size());
        pending[l] = lines[l].images.size();
    }
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<std::size_t> done;  // lines whose images are all read
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t j = next++; j < jobs.size(); j = next++) {
            const auto [l, i] = jobs[j];
            zpg::Impression im;
            std::string failure;
            try {
                im = offeredImpression(lines[l].images[i], dpi, true, windows);
            } catch (const InputError& e) {
                failure = e.message;
            }
            std::lock_guard<std::mutex> lock(mutex);
            offered[l][i] = std::move(im);
            if (!failure.empty()) unreadable[l].push_back(failure);
            if (--pending[l] == 0) {
                done.push_back(l);
                ready.notify_one();
            }
        }
    };
    threads = std::max(1U, threads ? threads : std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);

    // This thread writes, in the order lines become ready.
    Progress progress("enrolling", jobs.size());
    std::size_t imagesDone = 0;
    std::size_t enrolled = 0;
    std::size_t refused = 0;
    std::size_t bad = 0;
    Json results = Json::array();
    for (std::size_t written = 0; written < lines.size(); ++written) {
        std::size_t l = 0;
        {
            std::unique_lock<std::mutex> lock(mutex);
            ready.wait(lock, [&] { return !done.empty(); });
            l = done.front();
            done.erase(done.begin());
        }
        const BatchLine& line = lines[l];
        imagesDone += line.images.size();
        progress.step(imagesDone);
        Json j;
        std::string problem;
        if (!unreadable[l].empty()) {
            for (const std::string& u : unreadable[l]) problem += (problem.empty() ? "" : "; ") + u;
        } else {
            try {
                const zpg::EnrolOutcome r = zpg::enrolFinger(store, line.subject, line.finger, offered[l], o);
                j = enrolJson(line.subject, line.finger, r);
                (r.enrolled() ? enrolled : refused)++;
                if (!json) std::printf("%s:%zu: %s %s: %s\n", list.c_str(), line.number, line.subject.c_str(),
                                       zpg::fingerName(line.finger),
                                       r.enrolled() ? ("enrolled, " + std::to_string(r.decision.kept.size()) + " templates").c_str()
                                                    : ("not enrolled: " + r.reason()).c_str());
            } catch (const InputError& e) {
                problem = e.message;
            }
        }
        if (!problem.empty()) {
            ++bad;
            j = {{"subject", line.subject}, {"finger", zpg::fingerName(line.finger)}, {"enrolled", false},
                 {"error", problem}};
            std::fprintf(stderr, "zpapi: %s:%zu: %s\n", list.c_str(), line.number, problem.c_str());
        }
        j["line"] = line.number;
        results.push_back(j);
        offered[l].clear();
    }
    for (std::thread& t : pool) t.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double rate = seconds > 0 ? static_cast<double>(jobs.size()) / seconds : 0.0;
    if (json) {
        std::sort(results.begin(), results.end(), [](const Json& a, const Json& b) { return a["line"] < b["line"]; });
        printJson({{"gallery", store.location()}, {"images", jobs.size()}, {"fingers", lines.size()},
                   {"fingers_enrolled", enrolled}, {"fingers_not_enrolled", refused}, {"failed", bad}, {"seconds", seconds},
                   {"images_per_second", rate}, {"results", results}});
    } else {
        std::printf("%zu images of %zu fingers in %.1f s (%.0f images/s on %u threads): %zu enrolled, %zu not "
                    "enrolled, %zu failed\n",
                    jobs.size(), lines.size(), seconds, rate, threads, enrolled, refused, bad);
    }
    return bad ? kExitBadInput : (refused ? kExitNegative : kExitOk);
}

void addEnroll(CLI::App& app, int& exitCode) {
    struct Opts {
        GalleryOpts g;
        std::string id;
        std::string finger = "unknown";
        std::vector<std::string> images;
        std::string batch;
        zpg::EnrolOptions enrol;
        bool replace = false;
        bool add = false;
        int dpi = 500;
        int windows = 1;
        unsigned threads = 0;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand(
        "enroll", "Enrol a finger of a subject from several impressions; the best is kept with those that confirm it");
    addGalleryOptions(cmd, opts->g);
    auto* id = cmd->add_option("--id", opts->id, "Subject (the person's id)");
    addFinger(cmd, opts->finger, "Finger position: unknown, right-thumb ... right-little, left-thumb ... left-little");
    auto* images = cmd->add_option("images", opts->images, "Images or templates of the finger");
    auto* batch = cmd->add_option("--batch", opts->batch,
                                  "Enrol every line of this file, SUBJECT FINGER IMAGE..., extracting on all cores")
                      ->excludes(id)
                      ->excludes(images);
    id->excludes(batch);
    cmd->add_option("--keep", opts->enrol.keep, "Templates kept per finger")
        ->check(CLI::Range(1, zpg::kMaxKeep))
        ->capture_default_str();
    auto* replace = cmd->add_flag("--replace", opts->replace, "Start an enrolled finger over");
    cmd->add_flag("--add", opts->add, "Merge the new impressions with the finger's kept templates")->excludes(replace);
    cmd->add_flag("--check-duplicates", opts->enrol.checkDuplicates,
                  "Refuse a finger that matches another subject at the level");
    addLevel(cmd, opts->enrol.level);
    cmd->add_option("--dpi", opts->dpi, "Resolution of the images")->check(CLI::Range(100, 2000));
    addWindows(cmd, opts->windows,
               "Windows of each capture extracted; the kept impressions' other windows are kept too, up to " +
                   std::to_string(zpg::kMaxTemplatesPerFinger) + " templates per finger");
    cmd->add_option("--threads", opts->threads, "Threads extracting a --batch (default: all cores)");
    cmd->callback([opts, &exitCode] {
        opts->enrol.existing =
            opts->replace ? zpg::Existing::Replace : (opts->add ? zpg::Existing::Add : zpg::Existing::Refuse);
        if (!opts->batch.empty()) {
            auto store = zpg::openGallery(opts->g.db, zpg::Access::Write);
            exitCode = enrolBatch(*store, opts->batch, opts->enrol, opts->dpi, opts->windows, opts->threads, opts->g.json);
            return;
        }
        if (opts->id.empty() || opts->images.empty())
            throw InputError{"enroll needs --id SUBJECT and images, or --batch LIST"};
        const int finger = zpg::parseFinger(opts->finger);
        auto store = zpg::openGallery(opts->g.db, zpg::Access::Write);

        // Every file is read before anything is decided: an unreadable one
        // is bad input and nothing is enrolled.
        std::vector<zpg::Impression> offered;
        std::string unreadable;
        for (const std::string& path : opts->images) {
            try {
                offered.push_back(offeredImpression(path, opts->dpi, opts->g.json, opts->windows));
            } catch (const InputError& e) {
                unreadable += (unreadable.empty() ? "" : "; ") + e.message;
            }
        }
        if (!unreadable.empty()) throw InputError{unreadable + " (nothing enrolled)"};

        const zpg::EnrolOutcome r = zpg::enrolFinger(*store, opts->id, finger, offered, opts->enrol);
        if (opts->g.json) {
            Json j = {{"gallery", store->location()}};
            j.update(enrolJson(opts->id, finger, r));
            printJson(j);
        } else {
            printEnrolment(opts->id, finger, r);
        }
        exitCode = r.enrolled() ? kExitOk : kExitNegative;
    });
}

void addVerify(CLI::App& app, int& exitCode) {
    struct Opts {
        GalleryOpts g;
        std::string id;
        std::string finger;
        std::string image;
        int level = 3;
        int dpi = 500;
        int windows = kDefaultVerifyWindows;
        bool skipDamaged = false;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("verify", "Is this finger the subject's? The best of the enrolled templates decides");
    addGalleryOptions(cmd, opts->g);
    cmd->add_option("--id", opts->id, "Subject")->required();
    addFinger(cmd, opts->finger, "Compare with this finger only (default: every finger of the subject)");
    cmd->add_option("image", opts->image, "Image or template")->required();
    addLevel(cmd, opts->level);
    cmd->add_option("--dpi", opts->dpi, "Resolution of the image")->check(CLI::Range(100, 2000));
    addWindows(cmd, opts->windows, kProbeWindowsHelp);
    cmd->add_flag("--skip-damaged", opts->skipDamaged, "Compare with the usable templates when some are damaged");
    cmd->callback([opts, &exitCode] {
        const int finger = opts->finger.empty() ? zpg::Store::kAllFingers : zpg::parseFinger(opts->finger);
        auto store = zpg::openGallery(opts->g.db, zpg::Access::Read);
        std::vector<zpg::DamagedRow> damaged;
        const std::vector<zpg::StoredTemplate> enrolled = store->templatesOf(opts->id, finger, damaged);
        refuseDamaged(store->location(), damaged, opts->skipDamaged);
        if (enrolled.empty()) {
            throw InputError{store->location() + ": " + (finger == zpg::Store::kAllFingers
                                                      ? "no subject '" + opts->id + "'"
                                                      : "'" + opts->id + "' has no " + zpg::fingerName(finger) +
                                                            " finger enrolled")};
        }
        const std::vector<WindowExtraction> probe =
            windowTemplatesFromPath(opts->image, opts->dpi, opts->windows, opts->g.json);
        std::vector<Template> probeWindows;
        for (const WindowExtraction& w : probe) probeWindows.push_back(w.templ);
        const zpg::VerifyResult r = zpg::verify(probeWindows, enrolled, opts->level);
        if (opts->g.json) {
            printJson({{"gallery", store->location()}, {"subject", opts->id}, {"image", opts->image},
                       {"finger", zpg::fingerName(r.finger)}, {"slot", r.slot}, {"window", r.window},
                       {"templates", r.compared}, {"probe_windows", windowNumbers(probe)},
                       {"probe_window", probe[r.probe].window}, {"score", r.score}, {"level", opts->level},
                       {"threshold", levelThreshold(opts->level)}, {"match", r.match},
                       {"damaged", damagedJson(damaged)}});
        } else {
            std::printf("%s: best score %d (%s finger, template %d of %zu compared, probe window %d of %zu), level %d "
                        "threshold %d: %s\n",
                        opts->id.c_str(), r.score, zpg::fingerName(r.finger), r.slot, r.compared,
                        probe[r.probe].window, probe.size(), opts->level, levelThreshold(opts->level),
                        r.match ? "match" : "no match");
        }
        exitCode = r.match ? kExitOk : kExitNegative;
    });
}

void addIdentify(CLI::App& app, int& exitCode) {
    struct Opts {
        GalleryOpts g;
        std::vector<std::string> images;
        std::vector<std::string> fingers;
        std::size_t top = 5;
        std::size_t shortList = 0;
        int level = 3;
        int dpi = 500;
        int windows = kDefaultIdentifyWindows;
        unsigned threads = 0;
        bool skipDamaged = false;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("identify", "Whose finger is this? Search the whole gallery");
    addGalleryOptions(cmd, opts->g);
    cmd->add_option("images", opts->images,
                    "Images or templates; several fingers of one person rank subjects by the sum of their scores")
        ->required();
    cmd->add_option("--finger", opts->fingers, "Finger position of each image, in order (default: unknown)")
        ->allow_extra_args(false);
    cmd->add_option("--top", opts->top, "Subjects to show")->check(CLI::Range(1, 1000))->capture_default_str();
    cmd->add_option("--short-list", opts->shortList,
                    "Fingers re-scored with the full match per probe (default: the larger of --top and 50)")
        ->check(CLI::Range(1, 100000000));
    addLevel(cmd, opts->level);
    cmd->add_option("--dpi", opts->dpi, "Resolution of the images")->check(CLI::Range(100, 2000));
    addWindows(cmd, opts->windows, kProbeWindowsHelp);
    cmd->add_option("--threads", opts->threads, "Threads for the search (default: all cores)");
    cmd->add_flag("--skip-damaged", opts->skipDamaged, "Search the usable rows when some are damaged, naming the others");
    cmd->callback([opts, &exitCode] {
        const auto start = std::chrono::steady_clock::now();
        if (!opts->fingers.empty() && opts->fingers.size() != opts->images.size())
            throw InputError{"--finger given " + std::to_string(opts->fingers.size()) + " times for " +
                             std::to_string(opts->images.size()) + " images: give one per image, in order"};
        std::vector<int> fingers;
        for (std::size_t i = 0; i < opts->images.size(); ++i)
            fingers.push_back(opts->fingers.empty() ? zpg::kUnknownFinger : zpg::parseFinger(opts->fingers[i]));
        auto store = zpg::openGallery(opts->g.db, zpg::Access::Read);
        // Each image's windows are probes of one capture: its best counts.
        std::vector<zpg::Probe> probes;
        std::vector<std::vector<int>> probeWindows;
        for (std::size_t i = 0; i < opts->images.size(); ++i) {
            const std::vector<WindowExtraction> windows =
                windowTemplatesFromPath(opts->images[i], opts->dpi, opts->windows, opts->g.json);
            addCaptureProbes(probes, windows, fingers[i], opts->images[i], static_cast<int>(i));
            probeWindows.push_back(windowNumbers(windows));
        }

        zpg::SearchOptions options;
        options.top = opts->top;
        options.shortList = opts->shortList;
        options.level = opts->level;
        options.threads = opts->threads;
        std::unique_ptr<Progress> progress;
        options.progress = [&progress](std::size_t done, std::size_t total) {
            if (!progress) progress = std::make_unique<Progress>("searching", total >= 100000 ? total : 0);
            progress->step(done);
        };
        // Templates are quick-matched while the gallery is read; damage
        // found by the read is judged before anything is answered.
        zpg::Snapshot gallery;
        const zpg::SearchResult r = zpg::identify(*store, probes, options, gallery);
        progress.reset();
        refuseDamaged(store->location(), gallery.damaged, opts->skipDamaged);
        if (r.templates == 0) throw InputError{store->location() + ": the gallery is empty"};
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::int32_t threshold = levelThreshold(opts->level);
        const bool found = !r.candidates.empty() && r.candidates.front().match;
        if (opts->g.json) {
            Json probeList = Json::array();
            for (std::size_t i = 0; i < opts->images.size(); ++i)
                probeList.push_back({{"image", opts->images[i]}, {"finger", zpg::fingerName(fingers[i])},
                                     {"windows", probeWindows[i]}});
            Json list = Json::array();
            for (std::size_t rank = 0; rank < r.candidates.size(); ++rank) {
                const zpg::SubjectCandidate& c = r.candidates[rank];
                Json per = Json::array();
                for (const std::size_t p : zpg::bestWindows(probes, c)) {
                    const zpg::ProbeScore& s = c.probes[p];
                    if (s.score < 0) per.push_back(nullptr);
                    else
                        per.push_back({{"finger", zpg::fingerName(s.finger)}, {"slot", s.slot}, {"quick_score", s.quick},
                                       {"score", s.score}, {"match", s.match}, {"probe_window", probes[p].window}});
                }
                list.push_back({{"rank", rank + 1}, {"subject", c.subject}, {"score", c.total}, {"match", c.match},
                                {"probes", per}});
            }
            printJson({{"gallery", store->location()}, {"probes", probeList}, {"subjects", r.subjects},
                       {"fingers", r.fingers}, {"templates", r.templates}, {"damaged", damagedJson(gallery.damaged)},
                       {"level", opts->level}, {"threshold", threshold}, {"short_list", r.shortList},
                       {"seconds", seconds}, {"candidates", list}});
        } else {
            std::printf("%zu templates of %zu fingers searched in %.3f s (level %d, threshold %d, short list %zu fingers%s)\n",
                        r.templates, r.fingers, seconds, opts->level, threshold, r.shortList,
                        gallery.damaged.empty() ? "" : (", " + std::to_string(gallery.damaged.size()) + " damaged rows skipped").c_str());
            std::printf("%4s  %-24s %6s  %-40s %s\n", "rank", "subject", "score", "per probe: finger quick/score",
                        "decision");
            for (std::size_t rank = 0; rank < r.candidates.size(); ++rank) {
                const zpg::SubjectCandidate& c = r.candidates[rank];
                std::string per;
                for (const std::size_t p : zpg::bestWindows(probes, c)) {
                    const zpg::ProbeScore& s = c.probes[p];
                    if (!per.empty()) per += ", ";
                    per += s.score < 0 ? "-" : std::string(zpg::fingerName(s.finger)) + " " + std::to_string(s.quick) +
                                                   "/" + std::to_string(s.score);
                }
                std::printf("%4zu  %-24s %6d  %-40s %s\n", rank + 1, c.subject.c_str(), c.total, per.c_str(),
                            c.match ? "match" : "-");
            }
        }
        exitCode = found ? kExitOk : kExitNegative;
    });
}

void addList(CLI::App& app, int& exitCode) {
    auto opts = std::make_shared<GalleryOpts>();
    auto* cmd = app.add_subcommand("list", "List subjects, fingers and templates; damaged rows are named (exit 2)");
    addGalleryOptions(cmd, *opts);
    cmd->callback([opts, &exitCode] {
        auto store = zpg::openGallery(opts->db, zpg::Access::Read);
        std::vector<zpg::DamagedRow> damaged;
        const std::vector<zpg::StoredTemplate> rows = store->rows(damaged);
        std::size_t subjects = 0;
        std::size_t fingers = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const bool newSubject = i == 0 || rows[i].subject != rows[i - 1].subject;
            subjects += newSubject ? 1 : 0;
            fingers += newSubject || rows[i].finger != rows[i - 1].finger ? 1 : 0;
        }
        if (opts->json) {
            Json list = Json::array();
            for (const zpg::StoredTemplate& r : rows)
                list.push_back({{"subject", r.subject}, {"finger", zpg::fingerName(r.finger)}, {"slot", r.slot},
                                {"window", r.window}, {"minutiae", templateCount(r.templ)}, {"quality", templateQuality(r.templ)},
                                {"image", r.impression}, {"enrolled_at", r.enrolled}});
            printJson({{"gallery", store->location()}, {"subjects", subjects}, {"fingers", fingers}, {"templates", rows.size()},
                       {"damaged", damagedJson(damaged)}, {"entries", list}});
        } else {
            std::printf("%-24s %-13s %4s %6s %8s %7s  %-20s  %s\n", "subject", "finger", "slot", "window", "minutiae",
                        "quality", "enrolled", "impression");
            for (const zpg::StoredTemplate& r : rows)
                std::printf("%-24s %-13s %4d %6d %8d %7d  %-20s  %s\n", r.subject.c_str(), zpg::fingerName(r.finger),
                            r.slot, r.window, templateCount(r.templ), templateQuality(r.templ), r.enrolled.c_str(),
                            r.impression.c_str());
            for (const zpg::DamagedRow& d : damaged)
                std::printf("%-24s %-13s %4d  damaged: %s\n", d.subject.c_str(), zpg::fingerName(d.finger), d.slot,
                            d.reason.c_str());
            std::printf("%zu subjects, %zu fingers, %zu templates%s\n", subjects, fingers, rows.size(),
                        damaged.empty() ? "" : (", " + std::to_string(damaged.size()) + " damaged rows").c_str());
        }
        exitCode = damaged.empty() ? kExitOk : kExitBadInput;
    });
}

void addRemove(CLI::App& app, int& exitCode) {
    struct Opts {
        GalleryOpts g;
        std::string id;
        std::string finger;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("remove", "Remove a subject, or one finger of a subject");
    addGalleryOptions(cmd, opts->g);
    cmd->add_option("--id", opts->id, "Subject")->required();
    addFinger(cmd, opts->finger, "Remove this finger only (default: the whole subject)");
    cmd->callback([opts, &exitCode] {
        const int finger = opts->finger.empty() ? zpg::Store::kAllFingers : zpg::parseFinger(opts->finger);
        auto store = zpg::openGallery(opts->g.db, zpg::Access::Modify);
        const std::size_t removed = store->remove(opts->id, finger);
        const std::string what = finger == zpg::Store::kAllFingers ? "subject '" + opts->id + "'"
                                                                    : opts->id + "'s " + zpg::fingerName(finger) + " finger";
        if (removed == 0) throw InputError{store->location() + ": no " + what + " enrolled"};
        if (opts->g.json)
            printJson({{"gallery", store->location()}, {"subject", opts->id},
                       {"finger", finger == zpg::Store::kAllFingers ? Json(nullptr) : Json(zpg::fingerName(finger))},
                       {"templates", removed}});
        else
            std::printf("removed %s (%zu templates)\n", what.c_str(), removed);
        exitCode = kExitOk;
    });
}

void addPopulate(CLI::App& app, int& exitCode) {
    struct Opts {
        GalleryOpts g;
        std::size_t count = 1000;
        unsigned seed = 1;
        std::string prefix = "random-";
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("populate", "Fill a gallery with random templates, one subject each (for load tests)");
    addGalleryOptions(cmd, opts->g);
    cmd->add_option("--count", opts->count, "Number of templates")->check(CLI::Range(1, 10000000));
    cmd->add_option("--seed", opts->seed, "Random seed");
    cmd->add_option("--prefix", opts->prefix, "Subject id prefix")->capture_default_str();
    cmd->callback([opts, &exitCode] {
        auto store = zpg::openGallery(opts->g.db, zpg::Access::Write);
        std::mt19937 rng(opts->seed);
        constexpr std::size_t kBatch = 10000;
        Progress progress("populating", opts->count);
        for (std::size_t done = 0; done < opts->count;) {
            std::vector<zpg::StoredTemplate> batch;
            for (; done < opts->count && batch.size() < kBatch; ++done) {
                zpg::StoredTemplate row;
                row.subject = opts->prefix + std::to_string(done);
                row.templ = randomTemplate(rng);
                row.impression = "random";
                batch.push_back(std::move(row));
            }
            store->add(batch);
            progress.step(done);
        }
        if (opts->g.json) printJson({{"gallery", store->location()}, {"templates", opts->count}});
        else std::printf("%s: %zu random templates added\n", store->location().c_str(), opts->count);
        exitCode = kExitOk;
    });
}

void addCheck(CLI::App& app, int& exitCode) {
    auto opts = std::make_shared<GalleryOpts>();
    auto* cmd = app.add_subcommand("check",
                                   "The database's integrity check, every row's checksum and decoder test (exit 2 on damage)");
    addGalleryOptions(cmd, *opts);
    cmd->callback([opts, &exitCode] {
        auto store = zpg::openGallery(opts->db, zpg::Access::Read);
        const zpg::CheckReport r = store->check();
        if (opts->json) {
            printJson({{"gallery", store->location()}, {"layout", r.schemaVersion}, {"templates", r.templates},
                       {"sound", r.sound()}, {"problems", r.problems}, {"damaged", damagedJson(r.damaged)}});
        } else {
            for (const std::string& p : r.problems) std::printf("problem: %s\n", p.c_str());
            for (const zpg::DamagedRow& d : r.damaged)
                std::printf("damaged: %s: %s\n", zpg::rowName(d.subject, d.finger, d.slot).c_str(), d.reason.c_str());
            std::printf("%s: %zu template rows, layout %d: %s\n", store->location().c_str(), r.templates, r.schemaVersion,
                        r.sound() ? "sound" : "DAMAGED");
        }
        exitCode = r.sound() ? kExitOk : kExitBadInput;
    });
}

void addBackup(CLI::App& app, int& exitCode) {
    struct Opts {
        GalleryOpts g;
        std::string out;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("backup", "A consistent copy of the gallery, taken while other commands use it"
                                             " (from a server: into a new SQLite gallery file)");
    addGalleryOptions(cmd, opts->g);
    cmd->add_option("-o,--output", opts->out, "SQLite gallery file to write (must not exist)")->required();
    cmd->callback([opts, &exitCode] {
        auto store = zpg::openGallery(opts->g.db, zpg::Access::Read);
        store->backup(opts->out);
        if (opts->g.json) printJson({{"gallery", store->location()}, {"output", opts->out}});
        else std::printf("%s: copied to %s\n", store->location().c_str(), opts->out.c_str());
        exitCode = kExitOk;
    });
}

}  // namespace

void addGalleryCommands(CLI::App& app, int& exitCode) {
    addEnroll(app, exitCode);
    addVerify(app, exitCode);
    addIdentify(app, exitCode);
    addList(app, exitCode);
    addRemove(app, exitCode);
    addPopulate(app, exitCode);
    addCheck(app, exitCode);
    addBackup(app, exitCode);
}

}  // namespace zpcli
