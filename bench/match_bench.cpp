// Comparison speed on plausible 30-50-minutia templates: one ZPMatch per
// iteration, and one ZPQuickMatch per probe after a single load.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <utility>
#include <cstdint>
#include <vector>

#include "api/zpapi.h"
#include "match/match_driver.h"
#include "match/synthetic_templates.h"
#include "math/vector_path.h"
#include "real_sets.h"

namespace {

struct Gallery {
    std::vector<zptest::Template> enrolled;
    std::vector<zptest::Template> probes;  // half mates, half other fingers
};

const Gallery& gallery() {
    static const Gallery g = [] {
        Gallery out;
        for (std::uint32_t k = 0; k < 32; ++k) {
            const auto base = zptest::plausibleMinutiae(1000 + k, 30 + static_cast<std::int32_t>(k % 21));
            out.enrolled.push_back(zptest::makeTemplate(base));
            if (k % 2 == 0) {
                const zptest::Transform t{static_cast<std::int32_t>(k % 9) * 3 - 12, 3, -2, 2, 8, 0.2, 5};
                out.probes.push_back(zptest::makeTemplate(zptest::transformedCopy(base, t, k)));
            } else {
                out.probes.push_back(zptest::makeTemplate(zptest::plausibleMinutiae(5000 + k, 30 + static_cast<std::int32_t>(k % 21))));
            }
        }
        return out;
    }();
    return g;
}

void BM_ZPMatch(benchmark::State& state) {
    const Gallery& g = gallery();
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    std::size_t k = 0;
    for (auto _ : state) {
        const std::size_t i = k++ % g.probes.size();
        benchmark::DoNotOptimize(ZPMatch(g.enrolled[i].data(), g.probes[i].data(), ws.data(), 3));
    }
}
BENCHMARK(BM_ZPMatch);

void BM_ZPQuickMatch(benchmark::State& state) {
    const Gallery& g = gallery();
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    ZPLoadFeature(g.enrolled[0].data(), ws.data());
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZPQuickMatch(g.probes[k++ % g.probes.size()].data(), ws.data()));
    }
}
BENCHMARK(BM_ZPQuickMatch);

// ZPMatch over every unordered pair of enrolled impressions within each real
// set: median and 90th percentile over all pairs and over the genuine ones
// (same finger) of one comparison's time, the fastest of a few passes.
void BM_ZPMatchRealPairs(benchmark::State& state) {
    const zpbench::RealSets& sets = zpbench::realSets();
    if (sets.templates.empty()) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    struct Pair {
        const std::uint8_t* first;
        const std::uint8_t* second;
        bool genuine;
    };
    std::vector<Pair> pairs;
    for (std::size_t i = 0; i < sets.templates.size(); ++i) {
        for (std::size_t j = i + 1; j < sets.templates.size(); ++j) {
            const zpbench::RealTemplate& a = sets.templates[i];
            const zpbench::RealTemplate& b = sets.templates[j];
            if (a.set == b.set) pairs.push_back({a.bytes.data(), b.bytes.data(), a.finger == b.finger});
        }
    }
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    std::vector<double> best(pairs.size(), 1e300);
    for (auto _ : state) {
        for (int pass = 0; pass < zpbench::kTimedPasses; ++pass) {
            for (std::size_t k = 0; k < pairs.size(); ++k) {
                const auto start = zpbench::Clock::now();
                benchmark::DoNotOptimize(ZPMatch(pairs[k].first, pairs[k].second, ws.data(), 3));
                best[k] = std::min(best[k], zpbench::microsecondsSince(start));
            }
        }
    }
    std::vector<double> genuine;
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        if (pairs[k].genuine) genuine.push_back(best[k]);
    }
    state.counters["pairs"] = static_cast<double>(pairs.size());
    state.counters["median_us"] = zpbench::quantile(best, 0.5);
    state.counters["p90_us"] = zpbench::quantile(best, 0.9);
    state.counters["genuine_median_us"] = zpbench::quantile(genuine, 0.5);
}
BENCHMARK(BM_ZPMatchRealPairs)->Iterations(1)->Unit(benchmark::kMillisecond);

// The same pairs compared on the AVX2 path and on the widest one, each
// pair's two timings taken one right after the other (in turn first), so
// that both paths see the same machine state: the median of each path's
// fastest pass, and the median of the per-pair ratio widest / AVX2.
void BM_ZPMatchRealPairsByPath(benchmark::State& state) {
    const zpbench::RealSets& sets = zpbench::realSets();
    if (sets.templates.empty()) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    std::vector<std::pair<zp::BufferDescriptor, zp::BufferDescriptor>> pairs;
    const auto descriptor = [](const zpbench::RealTemplate& t) {
        return zp::BufferDescriptor{const_cast<std::uint8_t*>(t.bytes.data()), static_cast<std::int32_t>(t.bytes.size())};
    };
    for (std::size_t i = 0; i < sets.templates.size(); ++i) {
        for (std::size_t j = i + 1; j < sets.templates.size(); ++j) {
            if (sets.templates[i].set != sets.templates[j].set) continue;
            pairs.emplace_back(descriptor(sets.templates[i]), descriptor(sets.templates[j]));
        }
    }
    std::vector<std::uint8_t> bytes(ZP_WORKSPACE_SIZE);
    const zp::BufferDescriptor ws{bytes.data(), static_cast<std::int32_t>(bytes.size())};
    const std::array<zp::VectorPath, 2> paths = {zp::VectorPath::Avx2, zp::widestVectorPath()};
    std::array<std::vector<double>, 2> best;
    for (auto& b : best) b.assign(pairs.size(), 1e300);
    for (auto _ : state) {
        for (int pass = 0; pass < 2 * zpbench::kTimedPasses; ++pass) {
            for (std::size_t k = 0; k < pairs.size(); ++k) {
                for (std::size_t q = 0; q < 2; ++q) {
                    const std::size_t p = (q + static_cast<std::size_t>(pass)) % 2;
                    const auto start = zpbench::Clock::now();
                    benchmark::DoNotOptimize(zp::matchTemplates(pairs[k].first, pairs[k].second, ws, paths[p]));
                    best[p][k] = std::min(best[p][k], zpbench::microsecondsSince(start));
                }
            }
        }
    }
    std::vector<double> ratio(pairs.size());
    for (std::size_t k = 0; k < pairs.size(); ++k) ratio[k] = best[1][k] / best[0][k];
    state.counters["avx2_median_us"] = zpbench::quantile(best[0], 0.5);
    state.counters["widest_median_us"] = zpbench::quantile(best[1], 0.5);
    state.counters["widest_over_avx2"] = zpbench::quantile(ratio, 0.5);
}
BENCHMARK(BM_ZPMatchRealPairsByPath)->Iterations(1)->Unit(benchmark::kMillisecond);

// ZPQuickMatch per candidate: each real set's first impression is loaded
// as the probe and scored against every enrolled template of all sets; the
// time per candidate of a probe is its fastest pass over the gallery, the
// figure the median over the probes.
void BM_ZPQuickMatchRealGallery(benchmark::State& state) {
    const zpbench::RealSets& sets = zpbench::realSets();
    if (sets.templates.empty()) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    std::vector<const zpbench::RealTemplate*> probes;
    for (std::int32_t set = 0; set < sets.setCount; ++set) {
        for (const zpbench::RealTemplate& t : sets.templates) {
            if (t.set == set) {
                probes.push_back(&t);
                break;
            }
        }
    }
    std::vector<std::uint8_t> ws(ZP_WORKSPACE_SIZE);
    std::vector<double> perCandidate(probes.size(), 1e300);
    const auto candidates = static_cast<double>(sets.templates.size());
    for (auto _ : state) {
        for (std::size_t p = 0; p < probes.size(); ++p) {
            ZPLoadFeature(probes[p]->bytes.data(), ws.data());
            for (int pass = 0; pass < zpbench::kTimedPasses; ++pass) {
                const auto start = zpbench::Clock::now();
                for (const zpbench::RealTemplate& t : sets.templates) {
                    benchmark::DoNotOptimize(ZPQuickMatch(t.bytes.data(), ws.data()));
                }
                perCandidate[p] = std::min(perCandidate[p], zpbench::microsecondsSince(start) / candidates);
            }
        }
    }
    state.counters["probes"] = static_cast<double>(probes.size());
    state.counters["candidates"] = candidates;
    state.counters["median_us"] = zpbench::quantile(perCandidate, 0.5);
}
BENCHMARK(BM_ZPQuickMatchRealGallery)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
