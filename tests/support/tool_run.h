// Runs the built zpapi tool as a user would, for the tool's tests.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace zptest {

struct ToolRun {
    int code = -1;
    std::string out;  // stdout and stderr together, or stdout alone
    std::string err;  // stderr, with runToolSplit
};

// tool ARGS, with its exit code; stderr joins stdout unless only stdout is
// wanted (a JSON document).
inline ToolRun runTool(const std::string& tool, const std::string& args, bool withStderr = true,
                       const std::string& stderrTo = "/dev/null") {
    const std::string command = tool + " " + args + (withStderr ? " 2>&1" : " 2>" + stderrTo);
    ToolRun r;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return r;
    std::array<char, 4096> buf{};
    std::size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// tool ARGS with stdout in out and stderr in err.
inline ToolRun runToolSplit(const std::string& tool, const std::string& args) {
    const std::filesystem::path errFile =
        std::filesystem::temp_directory_path() / ("zpapi-tool-err-" + std::to_string(::getpid()));
    ToolRun r = runTool(tool, args, false, errFile.string());
    std::ifstream in(errFile);
    std::stringstream s;
    s << in.rdbuf();
    r.err = s.str();
    std::filesystem::remove(errFile);
    return r;
}

// One run of the tool with its own peak resident memory and wall time.
struct MeasuredRun {
    int code = -1;
    long peakKiB = 0;
    double seconds = 0.0;
};

inline MeasuredRun runToolMeasured(const std::string& tool, std::vector<std::string> args) {
    args.insert(args.begin(), tool);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    MeasuredRun m;
    const auto start = std::chrono::steady_clock::now();
    std::fflush(nullptr);  // the child must not write out this process's buffers
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.peakKiB = usage.ru_maxrss;
    return m;
}

inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A w x h 8-bit grey PGM filled with one level (a finger-less capture).
inline void writeFlatPgm(const std::filesystem::path& p, int w, int h, std::uint8_t level) {
    const std::string header = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    bytes.resize(bytes.size() + static_cast<std::size_t>(w) * h, level);
    writeBytes(p, bytes);
}

// A scratch folder holding synthetic fingers (fingers 101.., impressions
// 1..), made with the tool's own generator.
class SyntheticFingers {
  public:
    SyntheticFingers(std::string tool, const std::string& name) : tool_(std::move(tool)) {
        dir_ = std::filesystem::temp_directory_path() / ("zpapi-" + name + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    ~SyntheticFingers() { std::filesystem::remove_all(dir_); }
    // Seed 3 makes fingers whose first four impressions all enrol.
    int make(int fingers, int impressions) const {
        return runTool(tool_, "synth --quiet --fingers " + std::to_string(fingers) + " --impressions " +
                                  std::to_string(impressions) + " --seed 3 -o " + (dir_ / "fingers").string())
            .code;
    }
    std::string finger(int f, int i) const {
        return (dir_ / "fingers" / (std::to_string(f) + "_" + std::to_string(i) + ".png")).string();
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    const std::filesystem::path& dir() const { return dir_; }

  private:
    std::string tool_;
    std::filesystem::path dir_;
};

}  // namespace zptest
