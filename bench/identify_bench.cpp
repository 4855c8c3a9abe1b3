// Gallery identification: one probe loaded with ZPLoadFeature, then
// ZPQuickMatch against every template of a 10,000-template gallery, on one
// thread and on two (each with its own copy of the loaded workspace).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "api/zpapi.h"
#include "cli_common.h"

namespace {

constexpr std::size_t kGallerySize = 10000;
constexpr std::uint32_t kSeed = 20260101;

using zpcli::randomTemplate;
using zpcli::Template;

const std::vector<Template>& gallery() {
    static const std::vector<Template> templates = [] {
        std::mt19937 rng(kSeed);
        std::vector<Template> out(kGallerySize);
        for (Template& t : out) t = randomTemplate(rng);
        return out;
    }();
    return templates;
}

// Best quick score over gallery[begin, end) against the loaded workspace.
std::int32_t searchRange(const std::vector<Template>& g, std::size_t begin, std::size_t end, std::uint8_t* workspace) {
    std::int32_t best = -1;
    for (std::size_t i = begin; i < end; ++i) best = std::max(best, ZPQuickMatch(g[i].data(), workspace));
    return best;
}

void BM_GalleryIdentify(benchmark::State& state) {
    const auto threads = static_cast<std::size_t>(state.range(0));
    const std::vector<Template>& g = gallery();
    std::mt19937 rng(kSeed + 1);
    const Template probe = randomTemplate(rng);
    std::vector<std::vector<std::uint8_t>> workspaces(threads, std::vector<std::uint8_t>(ZP_WORKSPACE_SIZE));
    for (auto _ : state) {
        // Loading is part of every search.
        if (ZPLoadFeature(probe.data(), workspaces[0].data()) != 1) {
            state.SkipWithError("probe rejected by the loader");
            return;
        }
        for (std::size_t t = 1; t < threads; ++t) workspaces[t] = workspaces[0];
        std::vector<std::int32_t> best(threads, -1);
        std::vector<std::thread> pool;
        for (std::size_t t = 1; t < threads; ++t) {
            pool.emplace_back([&, t] {
                best[t] = searchRange(g, g.size() * t / threads, g.size() * (t + 1) / threads, workspaces[t].data());
            });
        }
        best[0] = searchRange(g, 0, g.size() / threads, workspaces[0].data());
        for (std::thread& th : pool) th.join();
        benchmark::DoNotOptimize(*std::max_element(best.begin(), best.end()));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(g.size()));
    state.counters["gallery"] = static_cast<double>(g.size());
}
BENCHMARK(BM_GalleryIdentify)->ArgName("threads")->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
