// What every zpapi command shares on its way out: the error that stops a
// command on bad input, the --quiet setting, the progress bar and files
// written so that a failed write never leaves a short file in place.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "gallery/error.h"

namespace CLI {
class App;
}

namespace zpcli {

// Raised for bad input; main prints the message and exits with 2. The
// gallery raises the same error.
using InputError = zpg::Error;

// --quiet: no notes and no progress on stderr (errors are still printed).
void setQuiet(bool quiet);
bool quiet();
// Adds --quiet to every subcommand of app that has none of its own.
void addQuietFlags(CLI::App& app);

// A one-line progress bar on stderr for runs that last: drawn only when
// stderr is a terminal, --quiet is off and a second has passed.
class Progress {
  public:
    Progress(std::string label, std::size_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void step(std::size_t done);

  private:
    std::string label_;
    std::size_t total_;
    bool enabled_;
    bool drawn_ = false;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point start_;
};

// Runs work(i, thread) for every i in [0, n) on up to `threads` threads, the
// indices handed out one at a time; thread 0 also draws the progress bar.
template <class Work>
void parallelFor(std::size_t n, unsigned threads, const std::string& label, Work work) {
    Progress progress(label, n);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    auto run = [&](unsigned t) {
        for (std::size_t i = next++; i < n; i = next++) {
            work(i, t);
            const std::size_t d = ++done;
            if (t == 0) progress.step(d);
        }
    };
    threads = std::max(1U, std::min<unsigned>(threads, static_cast<unsigned>(std::max<std::size_t>(n, 1))));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(run, t);
    run(0);
    for (std::thread& th : pool) th.join();
}

// Writes size bytes to path through a unique temporary file in the same
// folder, written in full, synced and closed with every step checked, then
// renamed over path. Throws InputError naming path when any step fails;
// the temporary file is removed then.
void writeFileAtomically(const std::string& path, const void* data, std::size_t size);
inline void writeFileAtomically(const std::string& path, const std::string& text) {
    writeFileAtomically(path, text.data(), text.size());
}

}  // namespace zpcli
