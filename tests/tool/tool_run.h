// Runs the built zpapi tool as a user would, for the tool's tests.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace zptool {

namespace fs = std::filesystem;

struct ToolRun {
    int code = -1;
    std::string out;  // stdout, with stderr after it unless split
    std::string err;  // stderr when split
};

// zpapi ARGS through the shell; split keeps stderr apart from stdout.
inline ToolRun zpapi(const std::string& args, bool split = false) {
    const fs::path errFile = fs::temp_directory_path() / ("zpapi-tool-err-" + std::to_string(::getpid()));
    const std::string command =
        std::string(ZPAPI_TOOL) + " " + args + (split ? " 2>" + errFile.string() : std::string(" 2>&1"));
    ToolRun r;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return r;
    std::array<char, 4096> buf{};
    std::size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (split) {
        std::ifstream in(errFile);
        std::stringstream s;
        s << in.rdbuf();
        r.err = s.str();
        fs::remove(errFile);
    }
    return r;
}

// One run of the tool with its own peak resident memory and wall time.
struct MeasuredRun {
    int code = -1;
    long peakKiB = 0;
    double seconds = 0.0;
};

inline MeasuredRun zpapiMeasured(std::vector<std::string> args) {
    args.insert(args.begin(), ZPAPI_TOOL);
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

inline std::vector<std::uint8_t> readBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const fs::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A w x h 8-bit grey PGM filled with one level (a finger-less capture).
inline void writeFlatPgm(const fs::path& p, int w, int h, std::uint8_t level) {
    const std::string header = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<std::uint8_t> bytes(header.begin(), header.end());
    bytes.resize(bytes.size() + static_cast<std::size_t>(w) * h, level);
    writeBytes(p, bytes);
}

// A scratch folder holding synthetic fingers (fingers 101.., impressions
// 1..), made once per test suite with the tool's own generator.
class SyntheticFingers {
  public:
    explicit SyntheticFingers(const std::string& name) {
        dir_ = fs::temp_directory_path() / ("zpapi-" + name + "-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~SyntheticFingers() { fs::remove_all(dir_); }
    // Seed 3 makes three fingers whose four impressions all enrol.
    int make(int fingers = 3, int impressions = 4) const {
        return zpapi("synth --quiet --fingers " + std::to_string(fingers) + " --impressions " +
                     std::to_string(impressions) + " --seed 3 -o " + (dir_ / "fingers").string())
            .code;
    }
    std::string finger(int f, int i) const {
        return (dir_ / "fingers" / (std::to_string(f) + "_" + std::to_string(i) + ".png")).string();
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    const fs::path& dir() const { return dir_; }

  private:
    fs::path dir_;
};

}  // namespace zptool
