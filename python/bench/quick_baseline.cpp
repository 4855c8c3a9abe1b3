// The C library's batch quick match, for bench_quick.py to compare with:
// ZPLoadFeature once, then ZPQuickMatch over every template of a file
// (N x 256 bytes) on T threads, one loaded workspace each, R times.
// Prints one line per run: seconds and the sum of the scores.
//
// usage: zpapi_quick_baseline TEMPLATES PROBE THREADS RUNS
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "zpapi.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s TEMPLATES PROBE THREADS RUNS\n", argv[0]);
        return 2;
    }
    const auto read = [](const char* path) {
        std::ifstream in(path, std::ios::binary);
        return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const std::vector<std::uint8_t> templates = read(argv[1]);
    const std::vector<std::uint8_t> probe = read(argv[2]);
    const unsigned threads = std::max(1, std::atoi(argv[3]));
    const int runs = std::max(1, std::atoi(argv[4]));
    if (probe.size() != ZP_TEMPLATE_SIZE || templates.size() % ZP_TEMPLATE_SIZE != 0) {
        std::fprintf(stderr, "zpapi_quick_baseline: bad template files\n");
        return 2;
    }
    const std::size_t n = templates.size() / ZP_TEMPLATE_SIZE;
    std::vector<std::uint8_t> loaded(ZP_WORKSPACE_SIZE);
    if (ZPLoadFeature(probe.data(), loaded.data()) != 1) return 2;
    std::vector<std::uint8_t> scores(n);
    for (int r = 0; r < runs; ++r) {
        const auto start = std::chrono::steady_clock::now();
        auto work = [&](unsigned t) {
            std::vector<std::uint8_t> ws = loaded;
            for (std::size_t i = n * t / threads; i < n * (t + 1) / threads; ++i)
                scores[i] = static_cast<std::uint8_t>(ZPQuickMatch(templates.data() + i * ZP_TEMPLATE_SIZE, ws.data()));
        };
        std::vector<std::thread> pool;
        for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
        work(0);
        for (std::thread& th : pool) th.join();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::uint64_t sum = 0;
        for (std::uint8_t s : scores) sum += s;
        std::printf("%.6f %llu\n", seconds, static_cast<unsigned long long>(sum));
    }
    return 0;
}
