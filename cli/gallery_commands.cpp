// enroll, verify, identify, list, remove, populate.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <random>
#include <thread>

#include "cli_common.h"
#include "commands.h"
#include "gallery.h"
#include "minutiae/template_format.h"

namespace zpcli {
namespace {

constexpr const char* kDefaultDb = "zpapi.db";

struct Candidate {
    std::size_t index = 0;
    std::int32_t quick = 0;
    std::int32_t score = -1;  // match driver score after re-scoring
};

// Ranks the gallery against probe with ZPQuickMatch on `threads` threads,
// each with its own copy of the loaded workspace; returns the best `keep`
// candidates by quick score (ties: gallery order).
std::vector<Candidate> quickRank(const Template& probe, const std::vector<GalleryEntry>& gallery, std::size_t keep,
                                 unsigned threads) {
    Workspace loaded;
    if (ZPLoadFeature(probe.data(), loaded.data()) != 1) throw InputError{"probe template rejected by the loader"};
    threads = std::max(1U, std::min<unsigned>(threads, static_cast<unsigned>(gallery.size() / 1000 + 1)));
    std::vector<std::vector<Candidate>> best(threads);
    Progress progress("searching", gallery.size() >= 200000 ? gallery.size() : 0);
    const auto better = [](const Candidate& a, const Candidate& b) {
        return a.quick != b.quick ? a.quick > b.quick : a.index < b.index;
    };
    auto work = [&](unsigned t) {
        Workspace ws = loaded;  // a loaded workspace may be copied
        std::vector<Candidate>& mine = best[t];
        const std::size_t begin = gallery.size() * t / threads;
        const std::size_t end = gallery.size() * (t + 1) / threads;
        for (std::size_t i = begin; i < end; ++i) {
            const std::int32_t q = ZPQuickMatch(gallery[i].templ.data(), ws.data());
            if (mine.size() < keep || q > mine.back().quick) {
                const Candidate c{i, q, -1};
                mine.insert(std::upper_bound(mine.begin(), mine.end(), c, better), c);
                if (mine.size() > keep) mine.pop_back();
            }
            if (t == 0 && (i & 4095) == 0) progress.step(i * threads);
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (std::thread& th : pool) th.join();
    std::vector<Candidate> all;
    for (const auto& b : best) all.insert(all.end(), b.begin(), b.end());
    std::sort(all.begin(), all.end(), better);
    if (all.size() > keep) all.resize(keep);
    return all;
}

void addEnroll(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string db = kDefaultDb;
        std::string id;
        std::vector<std::string> images;
        int dpi = 500;
        bool json = false;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("enroll", "Enrol a finger from two or more images (or templates) into the gallery");
    cmd->add_option("--db", opts->db, "Gallery file")->capture_default_str();
    cmd->add_option("--id", opts->id, "Name of the finger")->required();
    cmd->add_option("images", opts->images, "Images or templates of the finger (at least two)")->required()->expected(2, -1);
    cmd->add_option("--dpi", opts->dpi, "Resolution of the images")->check(CLI::Range(100, 2000));
    cmd->add_flag("--json", opts->json, "Print JSON");
    cmd->callback([opts, &exitCode] {
        std::vector<std::uint8_t> array;
        std::vector<std::string> failures;
        for (const std::string& path : opts->images) {
            try {
                const Template t = templateFromPath(path, opts->dpi, opts->json);
                array.insert(array.end(), t.begin(), t.end());
            } catch (const InputError& e) {
                failures.push_back(e.message);
                std::fprintf(stderr, "zpapi: %s\n", e.message.c_str());
            }
        }
        const std::int32_t count = static_cast<std::int32_t>(array.size() / ZP_TEMPLATE_SIZE);
        Template best{};
        Workspace ws;
        const bool confirmed = count >= 2 && ZPFingerMerge(array.data(), count, best.data(), ws.data()) == 1;
        std::string reason;
        if (count < 2) reason = "fewer than two usable impressions";
        else if (!confirmed) {
            if (templateCount(best) < 10) reason = "best impression has fewer than 10 minutiae";
            else if (templateYield(best) < 20) reason = "best impression's candidate yield is below 20";
            else if (best[9] < 40) reason = "best impression's quality is below 40";
            else reason = "the second-best impression does not confirm the best (score below 50)";
        }
        if (confirmed) Gallery(opts->db, true).put(opts->id, best);
        if (opts->json) {
            Json j = {{"id", opts->id}, {"enrolled", confirmed}, {"impressions", count}};
            if (!confirmed) j["reason"] = reason;
            else j["minutiae"] = templateCount(best);
            std::cout << j.dump(2) << "\n";
        } else if (confirmed) {
            std::printf("enrolled '%s' from %d impressions (%d minutiae, quality %d)\n", opts->id.c_str(), count,
                        templateCount(best), templateQuality(best));
        } else {
            std::printf("'%s' not enrolled: %s\n", opts->id.c_str(), reason.c_str());
        }
        exitCode = confirmed ? kExitOk : kExitNegative;
    });
}

void addVerify(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string db = kDefaultDb;
        std::string id;
        std::string image;
        int level = 3;
        int dpi = 500;
        bool json = false;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("verify", "Is this finger the enrolled one?");
    cmd->add_option("--db", opts->db, "Gallery file")->capture_default_str();
    cmd->add_option("--id", opts->id, "Enrolled name")->required();
    cmd->add_option("image", opts->image, "Image or template")->required();
    cmd->add_option("--level", opts->level, "Security level 1 to 5")->check(CLI::Range(1, 5));
    cmd->add_option("--dpi", opts->dpi, "Resolution of the image")->check(CLI::Range(100, 2000));
    cmd->add_flag("--json", opts->json, "Print JSON");
    cmd->callback([opts, &exitCode] {
        Gallery gallery(opts->db, false);
        Template enrolled{};
        if (!gallery.get(opts->id, enrolled)) throw InputError{opts->db + ": no finger enrolled as '" + opts->id + "'"};
        const Template probe = templateFromPath(opts->image, opts->dpi, opts->json);
        Workspace ws;
        const std::int32_t score = matchScore(probe, enrolled, ws);
        const bool same = ZPMatch(probe.data(), enrolled.data(), ws.data(), opts->level) == 1;
        if (opts->json) {
            std::cout << Json({{"id", opts->id}, {"score", score}, {"level", opts->level},
                               {"threshold", levelThreshold(opts->level)}, {"match", same}})
                             .dump(2)
                      << "\n";
        } else {
            std::printf("'%s': score %d, level %d threshold %d: %s\n", opts->id.c_str(), score, opts->level,
                        levelThreshold(opts->level), same ? "match" : "no match");
        }
        exitCode = same ? kExitOk : kExitNegative;
    });
}

void addIdentify(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string db = kDefaultDb;
        std::string image;
        int top = 5;
        int level = 3;
        int dpi = 500;
        unsigned threads = 0;
        bool json = false;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("identify", "Whose finger is this? Search the whole gallery");
    cmd->add_option("--db", opts->db, "Gallery file")->capture_default_str();
    cmd->add_option("image", opts->image, "Image or template")->required();
    cmd->add_option("--top", opts->top, "Candidates to show")->check(CLI::Range(1, 1000));
    cmd->add_option("--level", opts->level, "Security level 1 to 5")->check(CLI::Range(1, 5));
    cmd->add_option("--dpi", opts->dpi, "Resolution of the image")->check(CLI::Range(100, 2000));
    cmd->add_option("--threads", opts->threads, "Threads for the search (default: all cores)");
    cmd->add_flag("--json", opts->json, "Print JSON");
    cmd->callback([opts, &exitCode] {
        const auto start = std::chrono::steady_clock::now();
        Gallery gallery(opts->db, false);
        std::size_t skipped = 0;
        const std::vector<GalleryEntry> entries = gallery.all(skipped);
        if (entries.empty()) throw InputError{opts->db + ": the gallery is empty"};
        const Template probe = templateFromPath(opts->image, opts->dpi, opts->json);
        const unsigned threads = opts->threads ? opts->threads : std::max(1U, std::thread::hardware_concurrency());
        // Quick match short-lists; the full match re-scores the short list.
        const std::size_t shortList = std::max<std::size_t>(static_cast<std::size_t>(opts->top), 20);
        std::vector<Candidate> ranked = quickRank(probe, entries, shortList, threads);
        Workspace ws;
        for (Candidate& c : ranked) c.score = matchScore(probe, entries[c.index].templ, ws);
        std::stable_sort(ranked.begin(), ranked.end(), [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
        if (ranked.size() > static_cast<std::size_t>(opts->top)) ranked.resize(static_cast<std::size_t>(opts->top));
        const std::int32_t threshold = levelThreshold(opts->level);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const bool found = !ranked.empty() && ranked[0].score >= threshold && ranked[0].score >= 1;
        if (opts->json) {
            Json list = Json::array();
            for (const Candidate& c : ranked) {
                list.push_back({{"id", entries[c.index].id}, {"quick_score", c.quick}, {"score", c.score},
                                {"match", c.score >= threshold && c.score >= 1}});
            }
            std::cout << Json({{"image", opts->image}, {"gallery", entries.size()}, {"skipped", skipped},
                               {"level", opts->level}, {"threshold", threshold}, {"seconds", seconds},
                               {"candidates", list}})
                             .dump(2)
                      << "\n";
        } else {
            std::printf("%zu templates searched in %.3f s (level %d, threshold %d)\n", entries.size(), seconds,
                        opts->level, threshold);
            std::printf("%4s  %-24s %11s %6s  %s\n", "rank", "id", "quick score", "score", "decision");
            int rank = 1;
            for (const Candidate& c : ranked) {
                std::printf("%4d  %-24s %11d %6d  %s\n", rank++, entries[c.index].id.c_str(), c.quick, c.score,
                            c.score >= threshold && c.score >= 1 ? "match" : "-");
            }
        }
        exitCode = found ? kExitOk : kExitNegative;
    });
}

void addList(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string db = kDefaultDb;
        bool json = false;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("list", "List the enrolled fingers");
    cmd->add_option("--db", opts->db, "Gallery file")->capture_default_str();
    cmd->add_flag("--json", opts->json, "Print JSON");
    cmd->callback([opts, &exitCode] {
        Gallery gallery(opts->db, false);
        std::size_t skipped = 0;
        const std::vector<GalleryEntry> entries = gallery.all(skipped);
        if (opts->json) {
            Json list = Json::array();
            for (const GalleryEntry& e : entries)
                list.push_back({{"id", e.id}, {"minutiae", templateCount(e.templ)}, {"quality", templateQuality(e.templ)}});
            std::cout << Json({{"gallery", opts->db}, {"fingers", list}, {"corrupt", skipped}}).dump(2) << "\n";
        } else {
            std::printf("%-24s %8s %7s\n", "id", "minutiae", "quality");
            for (const GalleryEntry& e : entries)
                std::printf("%-24s %8d %7d\n", e.id.c_str(), templateCount(e.templ), templateQuality(e.templ));
            std::printf("%zu fingers%s\n", entries.size(), skipped ? (", " + std::to_string(skipped) + " corrupt rows skipped").c_str() : "");
        }
        exitCode = kExitOk;
    });
}

void addRemove(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string db = kDefaultDb;
        std::string id;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("remove", "Remove an enrolled finger");
    cmd->add_option("--db", opts->db, "Gallery file")->capture_default_str();
    cmd->add_option("--id", opts->id, "Enrolled name")->required();
    cmd->callback([opts, &exitCode] {
        Gallery gallery(opts->db, false);
        if (!gallery.remove(opts->id)) throw InputError{opts->db + ": no finger enrolled as '" + opts->id + "'"};
        std::printf("removed '%s'\n", opts->id.c_str());
        exitCode = kExitOk;
    });
}

void addPopulate(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string db = kDefaultDb;
        std::size_t count = 1000;
        unsigned seed = 1;
        std::string prefix = "random-";
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("populate", "Fill a gallery with random templates (for load tests)");
    cmd->add_option("--db", opts->db, "Gallery file")->capture_default_str();
    cmd->add_option("--count", opts->count, "Number of templates")->check(CLI::Range(1, 10000000));
    cmd->add_option("--seed", opts->seed, "Random seed");
    cmd->add_option("--prefix", opts->prefix, "Id prefix")->capture_default_str();
    cmd->callback([opts, &exitCode] {
        Gallery gallery(opts->db, true);
        std::mt19937 rng(opts->seed);
        constexpr std::size_t kBatch = 10000;
        Progress progress("populating", opts->count);
        for (std::size_t done = 0; done < opts->count;) {
            std::vector<GalleryEntry> batch;
            for (; done < opts->count && batch.size() < kBatch; ++done)
                batch.push_back({opts->prefix + std::to_string(done), randomTemplate(rng)});
            gallery.putMany(batch);
            progress.step(done);
        }
        std::printf("%s: %zu random templates added (%zu in all)\n", opts->db.c_str(), opts->count, gallery.size());
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
}

}  // namespace zpcli
