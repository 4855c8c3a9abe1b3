#include "tool_output.h"

#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace zpcli {
namespace {

std::atomic<bool> gQuiet{false};

}  // namespace

void setQuiet(bool quiet) { gQuiet = quiet; }
bool quiet() { return gQuiet; }

void addQuietFlags(CLI::App& app) {
    for (CLI::App* sub : app.get_subcommands({})) {
        if (sub->get_option_no_throw("--quiet") == nullptr)
            sub->add_flag_callback("--quiet", [] { setQuiet(true); },
                                   "No notes or progress on stderr (errors are still printed)");
    }
}

Progress::Progress(std::string label, std::size_t total)
    : label_(std::move(label)),
      total_(total),
      enabled_(total > 1 && !quiet() && isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    if (drawn_) std::fputs("\r\033[K", stderr);
}

void Progress::step(std::size_t done) {
    if (!enabled_) return;
    if (!drawn_ && std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    const int percent = static_cast<int>(done * 100 / total_);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    drawn_ = true;
    constexpr int kBar = 30;
    const int filled = percent * kBar / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%% (%zu/%zu)", label_.c_str(), filled,
                 "##############################", kBar - filled, "", percent, done, total_);
    std::fflush(stderr);
}

void writeFileAtomically(const std::string& path, const void* data, std::size_t size) {
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) throw InputError{path + ": cannot be written (" + std::strerror(errno) + ")"};
    const std::string tmp(name.data());
    const auto fail = [&](const char* step, int error) {
        ::unlink(tmp.c_str());
        throw InputError{path + ": cannot be written (" + step + ": " + std::strerror(error) + ")"};
    };
    // mkstemp makes the file private; give it the mode an ordinary create
    // under the current umask would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0) {
        const int e = errno;
        ::close(fd);
        fail("chmod", e);
    }
    const auto* bytes = static_cast<const char*>(data);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, bytes + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : EIO;
            ::close(fd);
            fail("write", e);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int e = errno;
        ::close(fd);
        fail("sync", e);
    }
    if (::close(fd) != 0) fail("close", errno);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) fail("rename", errno);
}

}  // namespace zpcli
