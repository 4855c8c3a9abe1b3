#include "synth_command.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "png_io.h"
#include "synth/synth.h"
#include "tool_output.h"

namespace zpcli {
namespace {

namespace synth = zp::synth;

constexpr int kFirstFinger = 101;  // finger ids start here, as in the FVC sets
constexpr int kMaxFingers = 9899;  // ids 101 to 9999
constexpr int kMaxImpressions = 99;

struct Options {
    int fingers = 1;
    int impressions = 8;
    std::string seed = "1";
    std::string output;
    bool master = false;
    bool json = false;
    std::string patternClass;  // empty: drawn per finger
    std::string canvas;                          // --canvas WxH as given; its check reads the size
    int canvasWidth = synth::kImpressionWidth;
    int canvasHeight = synth::kImpressionHeight;
};

// Largest canvas --canvas draws.
constexpr int kMaxCanvas = 1024;

// Pattern classes by their option names.
const std::map<std::string, synth::PatternClass> kClasses = {{"arch", synth::PatternClass::Arch},
                                                             {"tented-arch", synth::PatternClass::TentedArch},
                                                             {"left-loop", synth::PatternClass::LeftLoop},
                                                             {"right-loop", synth::PatternClass::RightLoop},
                                                             {"whorl", synth::PatternClass::Whorl}};

// Positions and angles to a tenth, as the ground truth has always been written.
double tenth(double v) { return std::round(v * 10.0) / 10.0; }

std::string groundTruthJson(int finger, const nlohmann::ordered_json& impression, std::uint64_t seed,
                            synth::PatternClass pc, int width, int height,
                            const std::vector<synth::SingularPoint>& points,
                            const std::vector<synth::Minutia>& minutiae) {
    nlohmann::ordered_json singular = nlohmann::ordered_json::array();
    for (const synth::SingularPoint& p : points)
        singular.push_back({{"kind", p.kind == synth::SingularKind::Core ? "core" : "delta"}, {"x", tenth(p.x)}, {"y", tenth(p.y)}});
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const synth::Minutia& m : minutiae)
        list.push_back({{"x", tenth(m.x)}, {"y", tenth(m.y)}, {"direction", tenth(m.direction)},
                        {"type", static_cast<int>(m.type)}});
    const nlohmann::ordered_json j = {{"finger", finger},
                                      {"impression", impression},
                                      {"seed", seed},
                                      {"class", std::string(synth::patternClassName(pc))},
                                      {"width", width},
                                      {"height", height},
                                      {"dpi", synth::kDpi},
                                      {"singular_points", singular},
                                      {"minutiae", list}};
    return j.dump(2) + "\n";
}

void writeImage(const std::string& path, int width, int height, const std::vector<std::uint8_t>& pixels) {
    std::string error;
    if (!writePngGrey(path, width, height, pixels.data(), &error)) throw InputError{error};
}

void run(const Options& o, int& exitCode) {
    std::error_code ec;
    std::filesystem::create_directories(o.output, ec);
    if (ec || !std::filesystem::is_directory(o.output)) {
        throw InputError{"cannot create output folder " + o.output + ": " +
                         (ec ? ec.message() : std::string("a file of that name exists"))};
    }
    const std::uint64_t setSeed = std::stoull(o.seed);  // checked by the option
    const bool lines = !o.json && !quiet() && isatty(STDERR_FILENO) == 0;  // a terminal gets the bar instead
    Progress progress("synth", static_cast<std::size_t>(o.fingers));
    std::size_t files = 0;
    for (int f = 0; f < o.fingers; ++f) {
        const int id = kFirstFinger + f;
        const std::uint64_t seed = synth::fingerSeed(setSeed, id);
        const synth::MasterFingerprint master =
            o.patternClass.empty() ? synth::makeMaster(seed) : synth::makeMaster(seed, kClasses.at(o.patternClass));
        if (lines)
            std::fprintf(stderr, "zpapi synth: finger %d (%d of %d), %s, %zu minutiae\n", id, f + 1, o.fingers,
                         std::string(synth::patternClassName(master.patternClass)).c_str(), master.minutiae.size());
        const std::string base = o.output + "/" + std::to_string(id) + "_";
        if (o.master) {
            writeImage(base + "master.png", master.width, master.height, synth::renderMaster(master));
            writeFileAtomically(base + "master.json", groundTruthJson(id, "master", setSeed, master.patternClass, master.width,
                                                                      master.height, master.singularPoints, master.minutiae));
            files += 2;
        }
        for (int k = 1; k <= o.impressions; ++k) {
            const synth::ImpressionParameters drawn =
                synth::impressionParameters(master, synth::impressionSeed(seed, k));
            const synth::Impression imp =
                synth::makeImpression(master, synth::onCanvas(drawn, o.canvasWidth, o.canvasHeight));
            const std::string name = base + std::to_string(k);
            writeImage(name + ".png", imp.width, imp.height, imp.pixels);
            writeFileAtomically(name + ".json", groundTruthJson(id, k, setSeed, master.patternClass, imp.width, imp.height,
                                                                imp.singularPoints, imp.minutiae));
            files += 2;
        }
        progress.step(static_cast<std::size_t>(f + 1));
    }
    if (o.json) {
        std::cout << nlohmann::ordered_json({{"output", o.output},
                                             {"seed", setSeed},
                                             {"fingers", o.fingers},
                                             {"impressions", o.impressions},
                                             {"master", o.master},
                                             {"files", files}})
                         .dump(2)
                  << "\n";
    } else if (!quiet()) {
        std::fprintf(stderr, "zpapi synth: wrote %d fingers x %d impressions to %s\n", o.fingers, o.impressions,
                     o.output.c_str());
    }
    exitCode = 0;
}

}  // namespace

void addSynthCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<Options>();
    auto* cmd = app.add_subcommand(
        "synth",
        "Make synthetic fingerprints with known minutiae: for each finger FFF (101, 102, ...) and impression I, "
        "DIR/FFF_I.png (256 x 384, 8-bit grey, 500 dpi, dark ridges on a bright background) and DIR/FFF_I.json with "
        "its ground-truth minutiae. The same options always give the same files.");
    cmd->add_option("--fingers", o->fingers, "Number of fingers, 1 to 9899")
        ->check(CLI::Range(1, kMaxFingers))
        ->capture_default_str();
    cmd->add_option("--impressions", o->impressions, "Impressions per finger, 1 to 99")
        ->check(CLI::Range(1, kMaxImpressions))
        ->capture_default_str();
    cmd->add_option("--seed", o->seed, "Seed of the set, a whole number 0 to 2^64-1")
        ->check(CLI::Validator(
            [](const std::string& v) {
                errno = 0;
                char* end = nullptr;
                const bool digits = !v.empty() && v.find_first_not_of("0123456789") == std::string::npos;
                std::strtoull(v.c_str(), &end, 10);
                return digits && errno == 0 && *end == '\0' ? std::string() : "not a whole number 0 to 2^64-1: " + v;
            },
            "UINT64", "seed"))
        ->capture_default_str();
    cmd->add_option("-o,--output", o->output, "Output folder, created when missing")
        ->required()
        ->check(CLI::Validator([](const std::string& v) { return v.empty() ? std::string("an empty folder name") : std::string(); },
                               "DIR", "not empty"));
    cmd->add_flag("--master", o->master, "Also write each master fingerprint as FFF_master.png/.json");
    std::vector<std::string> classes;
    for (const auto& [name, value] : kClasses) classes.push_back(name);
    cmd->add_option("--class", o->patternClass, "Make every finger of one pattern class (default: drawn per finger)")
        ->check(CLI::IsMember(classes));
    cmd->add_option("--canvas", o->canvas,
                    "WxH: draw each impression on a larger sensor (256x384 up to " + std::to_string(kMaxCanvas) + "x" +
                        std::to_string(kMaxCanvas) + "), showing more of the finger")
        ->check(CLI::Validator(
            // A size that passes is kept as read.
            [o](const std::string& v) {
                int w = 0;
                int h = 0;
                char tail = 0;
                const bool ok = std::sscanf(v.c_str(), "%dx%d%c", &w, &h, &tail) == 2 && w >= synth::kImpressionWidth &&
                                h >= synth::kImpressionHeight && w <= kMaxCanvas && h <= kMaxCanvas;
                if (!ok)
                    return "expected WxH from 256x384 to " + std::to_string(kMaxCanvas) + "x" +
                           std::to_string(kMaxCanvas) + ": " + v;
                o->canvasWidth = w;
                o->canvasHeight = h;
                return std::string();
            },
            "WxH", "canvas"));
    cmd->add_flag("--json", o->json, "Print one JSON document on stdout saying what was written");
    cmd->callback([o, &exitCode] { run(*o, exitCode); });
}

int runSynthCommand(int argc, char** argv) {
    CLI::App app{"zpapi"};
    app.require_subcommand(1);
    int exitCode = 0;
    addSynthCommand(app, exitCode);
    addQuietFlags(app);
    std::vector<const char*> args = {"zpapi"};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    try {
        app.parse(static_cast<int>(args.size()), args.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    } catch (const InputError& e) {
        std::fprintf(stderr, "zpapi synth: %s\n", e.message.c_str());
        return 2;
    }
    return exitCode;
}

}  // namespace zpcli
