// Comparison speed on plausible 30-50-minutia templates: one ZPMatch per
// iteration, and one ZPQuickMatch per probe after a single load.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "api/zpapi.h"
#include "match/synthetic_templates.h"

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

}  // namespace
