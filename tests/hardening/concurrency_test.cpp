// Many threads extracting and comparing different buffers at once give
// exactly the results of one thread: the library keeps no state between
// calls and writes no globals. `make tsan` runs this under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "api/zpapi.h"
#include "hardening_support.h"

namespace {

using zphard::Bytes;

constexpr int kFingers = 3;
constexpr int kImpressions = 2;
constexpr int kThreads = 8;
constexpr int kRounds = 2;

// Everything one image and its template lead to.
struct Outcome {
    std::int32_t detect = 0;
    std::int32_t extract = 0;
    Bytes templ;
    Bytes image;                       // the image buffer after extraction
    std::vector<std::int32_t> match;   // ZPMatch at level 1 against every template
    std::int32_t load = 0;
    std::vector<std::int32_t> quick;   // quick match of every template against this one
    bool operator==(const Outcome&) const = default;
};

Outcome extractOne(const Bytes& image) {
    Outcome o;
    o.detect = ZPFingerDetect(image.data(), 0);
    const zphard::Extraction e = zphard::extract(image);
    o.extract = e.result;
    o.templ = e.templ;
    o.image = e.image;
    return o;
}

void compareOne(Outcome& o, const std::vector<Bytes>& templates, Bytes& workspace) {
    o.match.clear();
    o.quick.clear();
    for (const Bytes& other : templates) {
        o.match.push_back(ZPMatch(o.templ.data(), other.data(), workspace.data(), 1));
    }
    o.load = ZPLoadFeature(o.templ.data(), workspace.data());
    for (const Bytes& other : templates) {
        o.quick.push_back(ZPQuickMatch(other.data(), workspace.data()));
    }
}

TEST(Concurrency, ThreadsGiveTheSingleThreadedResults) {
    const std::vector<Bytes> images = zphard::syntheticImages(kFingers, kImpressions);
    const std::size_t n = images.size();

    std::vector<Outcome> reference;
    std::vector<Bytes> templates;
    for (const Bytes& image : images) {
        reference.push_back(extractOne(image));
        templates.push_back(reference.back().templ);
    }
    Bytes workspace(ZP_WORKSPACE_SIZE, 0);
    for (Outcome& o : reference) compareOne(o, templates, workspace);

    // Each thread starts at a different image, so different buffers are in
    // flight in every stage at the same time; each has its own workspace.
    std::atomic<int> mismatches{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Bytes own(ZP_WORKSPACE_SIZE, static_cast<std::uint8_t>(t * 29));
            while (!go.load()) std::this_thread::yield();
            for (int round = 0; round < kRounds; ++round) {
                for (std::size_t k = 0; k < n; ++k) {
                    const std::size_t i = (k + static_cast<std::size_t>(t)) % n;
                    Outcome o = extractOne(images[i]);
                    compareOne(o, templates, own);
                    if (!(o == reference[i])) mismatches.fetch_add(1);
                }
            }
        });
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(Concurrency, SharedReadOnlyTemplatesMatchFromManyThreads) {
    // Templates are only read by the comparisons: many threads may share
    // the same template buffers, each with its own workspace.
    const std::vector<Bytes> images = zphard::syntheticImages(2, 2);
    std::vector<Bytes> templates;
    for (const Bytes& image : images) templates.push_back(zphard::extract(image).templ);
    Bytes workspace(ZP_WORKSPACE_SIZE, 0);
    std::vector<std::int32_t> expected;
    for (const Bytes& a : templates) {
        for (const Bytes& b : templates) expected.push_back(ZPMatch(a.data(), b.data(), workspace.data(), 2));
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            Bytes own(ZP_WORKSPACE_SIZE, 0);
            std::size_t k = 0;
            for (const Bytes& a : templates) {
                for (const Bytes& b : templates) {
                    if (ZPMatch(a.data(), b.data(), own.data(), 2) != expected[k++]) mismatches.fetch_add(1);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
