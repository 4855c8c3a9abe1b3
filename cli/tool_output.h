// What every zpapi command shares on its way out: the error that stops a
// command on bad input, the --quiet setting, the progress bar and files
// written so that a failed write never leaves a short file in place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "gallery/records.h"

namespace CLI {
class App;
}

namespace zpcli {

// Raised for bad input (the store's error, so that one type reaches main
// from every layer); main prints the message and exits with 2.
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

// Writes size bytes to path through a unique temporary file in the same
// folder, written in full, synced and closed with every step checked, then
// renamed over path. Throws InputError naming path when any step fails;
// the temporary file is removed then.
void writeFileAtomically(const std::string& path, const void* data, std::size_t size);
inline void writeFileAtomically(const std::string& path, const std::string& text) {
    writeFileAtomically(path, text.data(), text.size());
}

}  // namespace zpcli
