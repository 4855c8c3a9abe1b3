// Extraction and matching on generated fingers, judged against their known
// minutiae: failures to enrol, genuine and impostor match scores, and how
// many true minutiae the extractor recovers.
//
// usage: zpapi_synth_eval [--fingers N] [--impressions K] [--seed S]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli_common.h"
#include "synth/synth.h"

namespace {

// A true minutia counts as found when an extracted one of the same finger
// lies within this distance and direction.
constexpr double kFoundDistance = 8.0;
constexpr double kFoundDegrees = 30.0;
// True minutiae this close to the working window's edge are outside what
// the extractor examines and are left out of the count.
constexpr int kWindowMargin = 8;

struct ImageResult {
    bool enrolled = false;
    zpcli::Template templ{};
    int truth = 0;          // true minutiae inside the examined window
    int found = 0;          // of those, recovered
    int extracted = 0;      // minutiae in the template
    int spurious = 0;       // extracted with no true partner
};

double angleGap(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

ImageResult evaluate(const zp::synth::Impression& imp) {
    ImageResult r;
    const zpcli::Extraction e = zpcli::extract(imp.pixels, 0, 0);
    const zpcli::Detection d = zpcli::detectFinger(imp.pixels);
    if (e.result != ZP_EXTRACT_OK || !d.found) return r;
    r.enrolled = true;
    r.templ = e.templ;
    std::int32_t x0 = 0;
    std::int32_t y0 = 0;
    zpcli::windowOrigin(d.desc.centreX, d.desc.centreY, x0, y0);
    const std::vector<zpcli::PixelMinutia> got = zpcli::templateMinutiae(e.templ);
    r.extracted = static_cast<int>(got.size());
    std::vector<bool> matched(got.size(), false);
    for (const zp::synth::Minutia& t : imp.minutiae) {
        const double wx = t.x - x0;
        const double wy = t.y - y0;
        if (wx < kWindowMargin || wy < kWindowMargin || wx >= 232 - kWindowMargin || wy >= 280 - kWindowMargin) continue;
        ++r.truth;
        for (std::size_t k = 0; k < got.size(); ++k) {
            // Stored positions are halved: compare at the pixel centre of the pair.
            const double dx = got[k].x + 0.5 - wx;
            const double dy = got[k].y + 0.5 - wy;
            if (std::hypot(dx, dy) <= kFoundDistance && angleGap(got[k].direction, t.direction) <= kFoundDegrees) {
                ++r.found;
                break;
            }
        }
    }
    for (std::size_t k = 0; k < got.size(); ++k) {
        bool partner = false;
        for (const zp::synth::Minutia& t : imp.minutiae) {
            const double dx = got[k].x + 0.5 - (t.x - x0);
            const double dy = got[k].y + 0.5 - (t.y - y0);
            partner = partner || (std::hypot(dx, dy) <= kFoundDistance && angleGap(got[k].direction, t.direction) <= kFoundDegrees);
        }
        r.spurious += partner ? 0 : 1;
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int fingers = 100;
    int impressions = 8;
    unsigned long long seed = 2026;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--fingers") == 0) fingers = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--impressions") == 0) impressions = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
        else {
            std::fprintf(stderr, "usage: %s [--fingers N] [--impressions K] [--seed S]\n", argv[0]);
            return 2;
        }
    }
    if (fingers < 2 || impressions < 2) {
        std::fprintf(stderr, "%s: need at least 2 fingers and 2 impressions\n", argv[0]);
        return 2;
    }
    std::vector<ImageResult> results(static_cast<std::size_t>(fingers) * impressions);
    const unsigned threads = std::max(1U, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    zpcli::Progress progress("generating and extracting", static_cast<std::size_t>(fingers));
    std::mutex lock;
    int done = 0;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            for (int f = static_cast<int>(t); f < fingers; f += static_cast<int>(threads)) {
                const std::uint64_t fs = zp::synth::fingerSeed(seed, f);
                const zp::synth::MasterFingerprint master = zp::synth::makeMaster(fs);
                for (int i = 0; i < impressions; ++i) {
                    results[static_cast<std::size_t>(f) * impressions + i] =
                        evaluate(zp::synth::makeImpression(master, zp::synth::impressionSeed(fs, i)));
                }
                const std::lock_guard<std::mutex> guard(lock);
                progress.step(static_cast<std::size_t>(++done));
            }
        });
    }
    for (std::thread& th : pool) th.join();

    int failures = 0;
    long truth = 0, found = 0, extracted = 0, spurious = 0;
    for (const ImageResult& r : results) {
        failures += r.enrolled ? 0 : 1;
        truth += r.truth;
        found += r.found;
        extracted += r.extracted;
        spurious += r.spurious;
    }
    // FVC protocol: every pair of impressions of a finger, first impressions
    // of every pair of fingers; a failed extraction scores 0.
    zpcli::Workspace ws;
    auto score = [&](const ImageResult& a, const ImageResult& b) {
        return a.enrolled && b.enrolled ? zpcli::matchScore(a.templ, b.templ, ws) : 0;
    };
    double genuine = 0, impostor = 0;
    long genuineCount = 0, impostorCount = 0;
    for (int f = 0; f < fingers; ++f) {
        for (int i = 0; i < impressions; ++i) {
            for (int j = i + 1; j < impressions; ++j) {
                genuine += score(results[f * impressions + i], results[f * impressions + j]);
                ++genuineCount;
            }
        }
        for (int g = f + 1; g < fingers; ++g) {
            impostor += score(results[f * impressions], results[g * impressions]);
            ++impostorCount;
        }
    }
    std::printf("generated set: %d fingers x %d impressions, seed %llu\n", fingers, impressions, seed);
    std::printf("failures to extract: %d of %zu (%.1f%%)\n", failures, results.size(), 100.0 * failures / results.size());
    std::printf("average genuine score: %.2f over %ld comparisons\n", genuine / genuineCount, genuineCount);
    std::printf("average impostor score: %.2f over %ld comparisons\n", impostor / impostorCount, impostorCount);
    std::printf("true minutiae recovered (within %.0f px and %.0f deg): %.1f%% (%ld of %ld)\n", kFoundDistance,
                kFoundDegrees, 100.0 * found / std::max(1L, truth), found, truth);
    std::printf("extracted minutiae with no true partner: %.1f%% (%ld of %ld)\n",
                100.0 * spurious / std::max(1L, extracted), spurious, extracted);
    return 0;
}
