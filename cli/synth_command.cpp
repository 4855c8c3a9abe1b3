#include "synth_command.h"

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "png_io.h"
#include "synth/synth.h"

namespace zpcli {
namespace {

namespace synth = zp::synth;

constexpr int kFirstFinger = 101;  // finger ids start here, as in the FVC sets
constexpr int kMaxFingers = 899;   // ids stay three digits
constexpr int kMaxImpressions = 99;

const char kUsage[] =
    "usage: zpapi synth --fingers N --impressions K --seed S -o DIR [--master] [--class NAME] [--quiet]\n"
    "\n"
    "Writes synthetic fingerprints made from the seed: for each finger FFF (101, 102, ...)\n"
    "and impression I (1 to K), DIR/FFF_I.png (256 x 384, 8-bit grey, 500 dpi, dark\n"
    "ridges on a bright background) and DIR/FFF_I.json with its ground-truth minutiae.\n"
    "The same options always give the same files.\n"
    "\n"
    "options:\n"
    "  --fingers N       number of fingers, 1 to 899 (default 1)\n"
    "  --impressions K   impressions per finger, 1 to 99 (default 8)\n"
    "  --seed S          seed of the set, a whole number 0 to 2^64-1 (default 1)\n"
    "  -o, --output DIR  output folder, created when missing (required)\n"
    "  --master          also write each master fingerprint as FFF_master.png/.json\n"
    "  --class NAME      make every finger of one pattern class: arch, tented-arch,\n"
    "                    left-loop, right-loop or whorl (default: drawn per finger)\n"
    "  --quiet           no progress on stderr\n"
    "  -h, --help        this help\n";

struct Options {
    int fingers = 1;
    int impressions = 8;
    std::uint64_t seed = 1;
    std::string output;
    bool master = false;
    bool quiet = false;
    bool forceClass = false;
    synth::PatternClass patternClass = synth::PatternClass::Arch;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "zpapi synth: %s\n(see 'zpapi synth --help')\n", message.c_str());
    return 2;
}

bool parseWhole(const char* text, std::uint64_t max, std::uint64_t& value) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max) return false;
    value = v;
    return true;
}

bool parseClass(const std::string& name, synth::PatternClass& out) {
    const struct {
        const char* name;
        synth::PatternClass value;
    } table[] = {{"arch", synth::PatternClass::Arch},
                 {"tented-arch", synth::PatternClass::TentedArch},
                 {"left-loop", synth::PatternClass::LeftLoop},
                 {"right-loop", synth::PatternClass::RightLoop},
                 {"whorl", synth::PatternClass::Whorl}};
    for (const auto& entry : table)
        if (name == entry.name) {
            out = entry.value;
            return true;
        }
    return false;
}

// 0 parsed, 1 help shown, 2 usage error reported.
int parseOptions(int argc, char** argv, Options& o) {
    bool haveOutput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const char* text = nullptr;
        std::uint64_t number = 0;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 1;
        } else if (arg == "--fingers") {
            if (!value(&text)) return usageError("--fingers needs a number");
            if (!parseWhole(text, kMaxFingers, number) || number == 0)
                return usageError("--fingers must be a whole number from 1 to 899, not '" + std::string(text) + "'");
            o.fingers = static_cast<int>(number);
        } else if (arg == "--impressions") {
            if (!value(&text)) return usageError("--impressions needs a number");
            if (!parseWhole(text, kMaxImpressions, number) || number == 0)
                return usageError("--impressions must be a whole number from 1 to 99, not '" + std::string(text) + "'");
            o.impressions = static_cast<int>(number);
        } else if (arg == "--seed") {
            if (!value(&text)) return usageError("--seed needs a number");
            if (!parseWhole(text, UINT64_MAX, number))
                return usageError("--seed must be a whole number from 0 to 18446744073709551615, not '" + std::string(text) + "'");
            o.seed = number;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(&text)) return usageError(arg + " needs a folder");
            if (*text == '\0') return usageError(arg + " needs a folder, not an empty name");
            o.output = text;
            haveOutput = true;
        } else if (arg == "--master") {
            o.master = true;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--class") {
            if (!value(&text)) return usageError("--class needs a name");
            if (!parseClass(text, o.patternClass))
                return usageError("unknown pattern class '" + std::string(text) +
                                  "' (arch, tented-arch, left-loop, right-loop, whorl)");
            o.forceClass = true;
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }
    if (!haveOutput) return usageError("missing output folder (-o DIR)");
    return 0;
}

void appendNumber(std::string& out, double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", v);
    out += buffer;
}

std::string groundTruthJson(int finger, const char* impression, std::uint64_t seed, synth::PatternClass pc, int width,
                            int height, const std::vector<synth::SingularPoint>& points,
                            const std::vector<synth::Minutia>& minutiae) {
    std::string j = "{\n";
    j += "  \"finger\": " + std::to_string(finger) + ",\n";
    j += std::string("  \"impression\": ") + impression + ",\n";
    j += "  \"seed\": " + std::to_string(seed) + ",\n";
    j += "  \"class\": \"" + std::string(synth::patternClassName(pc)) + "\",\n";
    j += "  \"width\": " + std::to_string(width) + ",\n";
    j += "  \"height\": " + std::to_string(height) + ",\n";
    j += "  \"dpi\": " + std::to_string(synth::kDpi) + ",\n";
    j += "  \"singular_points\": [";
    for (std::size_t i = 0; i < points.size(); ++i) {
        j += i == 0 ? "\n    " : ",\n    ";
        j += std::string("{\"kind\": \"") + (points[i].kind == synth::SingularKind::Core ? "core" : "delta") + "\", \"x\": ";
        appendNumber(j, points[i].x);
        j += ", \"y\": ";
        appendNumber(j, points[i].y);
        j += "}";
    }
    j += points.empty() ? "],\n" : "\n  ],\n";
    j += "  \"minutiae\": [";
    for (std::size_t i = 0; i < minutiae.size(); ++i) {
        j += i == 0 ? "\n    " : ",\n    ";
        j += "{\"x\": ";
        appendNumber(j, minutiae[i].x);
        j += ", \"y\": ";
        appendNumber(j, minutiae[i].y);
        j += ", \"direction\": ";
        appendNumber(j, minutiae[i].direction);
        j += ", \"type\": " + std::to_string(static_cast<int>(minutiae[i].type)) + "}";
    }
    j += minutiae.empty() ? "]\n" : "\n  ]\n";
    j += "}\n";
    return j;
}

bool writeText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "zpapi synth: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "zpapi synth: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool writeImage(const std::string& path, int width, int height, const std::vector<std::uint8_t>& pixels) {
    std::string error;
    if (writePngGrey(path, width, height, pixels.data(), &error)) return true;
    std::fprintf(stderr, "zpapi synth: cannot write %s\n", error.c_str());
    return false;
}

}  // namespace

int runSynthCommand(int argc, char** argv) {
    Options o;
    const int parsed = parseOptions(argc, argv, o);
    if (parsed == 1) return 0;
    if (parsed != 0) return parsed;

    std::error_code ec;
    std::filesystem::create_directories(o.output, ec);
    if (ec || !std::filesystem::is_directory(o.output)) {
        std::fprintf(stderr, "zpapi synth: cannot create output folder %s: %s\n", o.output.c_str(),
                     ec ? ec.message().c_str() : "a file of that name exists");
        return 1;
    }

    for (int f = 0; f < o.fingers; ++f) {
        const int id = kFirstFinger + f;
        const std::uint64_t seed = synth::fingerSeed(o.seed, id);
        const synth::MasterFingerprint master = o.forceClass ? synth::makeMaster(seed, o.patternClass) : synth::makeMaster(seed);
        if (!o.quiet)
            std::fprintf(stderr, "zpapi synth: finger %d (%d of %d), %s, %zu minutiae\n", id, f + 1, o.fingers,
                         std::string(synth::patternClassName(master.patternClass)).c_str(), master.minutiae.size());
        const std::string base = o.output + "/" + std::to_string(id) + "_";
        if (o.master) {
            if (!writeImage(base + "master.png", master.width, master.height, synth::renderMaster(master))) return 1;
            if (!writeText(base + "master.json", groundTruthJson(id, "\"master\"", o.seed, master.patternClass, master.width,
                                                                  master.height, master.singularPoints, master.minutiae)))
                return 1;
        }
        for (int k = 1; k <= o.impressions; ++k) {
            const synth::Impression imp = synth::makeImpression(master, synth::impressionSeed(seed, k));
            const std::string name = base + std::to_string(k);
            if (!writeImage(name + ".png", imp.width, imp.height, imp.pixels)) return 1;
            if (!writeText(name + ".json", groundTruthJson(id, std::to_string(k).c_str(), o.seed, master.patternClass,
                                                            imp.width, imp.height, imp.singularPoints, imp.minutiae)))
                return 1;
        }
    }
    if (!o.quiet)
        std::fprintf(stderr, "zpapi synth: wrote %d fingers x %d impressions to %s\n", o.fingers, o.impressions,
                     o.output.c_str());
    return 0;
}

}  // namespace zpcli
