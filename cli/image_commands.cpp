// version, detect, extract, info, match, show, convert.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "api/records.h"
#include "cli_common.h"
#include "commands.h"
#include "minutia_formats.h"
#include "png_io.h"

namespace zpcli {
namespace {

struct Common {
    bool json = false;
    int dpi = 500;
};

void addCommon(CLI::App* cmd, Common& c) {
    cmd->add_flag("--json", c.json, "Print JSON instead of a table");
    cmd->add_option("--dpi", c.dpi, "Resolution of the input images; resampled to 500 dpi")
        ->check(CLI::Range(100, 2000));
}

void printJson(const Json& j) { std::cout << j.dump(2) << "\n"; }

std::string defaultTemplatePath(const std::string& image, const std::string& outDir, bool many) {
    std::filesystem::path p(image);
    if (!outDir.empty() && (many || std::filesystem::is_directory(outDir))) {
        return (std::filesystem::path(outDir) / p.stem()).string() + ".zpt";
    }
    if (!outDir.empty()) return outDir;
    return (p.parent_path() / p.stem()).string() + ".zpt";
}

void addVersion(CLI::App& app) {
    auto* cmd = app.add_subcommand("version", "Print the library version");
    cmd->callback([] {
        char version[ZP_VERSION_SIZE];
        ZPVersion(version);
        std::printf("%s\n", version);
    });
}

void addDetect(CLI::App& app, int& exitCode) {
    struct Opts {
        std::vector<std::string> images;
        int threshold = 0;
        Common common;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("detect", "Is there a finger, and how much of the sensor does it cover");
    cmd->add_option("images", opts->images, "Image files")->required();
    cmd->add_option("--threshold", opts->threshold, "Least quality score (0..100) that counts as a finger");
    addCommon(cmd, opts->common);
    cmd->callback([opts, &exitCode] {
        Json out = Json::array();
        bool allFound = true;
        if (!opts->common.json) std::printf("%-32s %7s %9s %17s  %s\n", "image", "quality", "centre", "extent x / y", "answer");
        for (const std::string& path : opts->images) {
            std::vector<std::uint8_t> image = loadSensorImageOrThrow(path, opts->common.dpi, opts->common.json);
            const Detection d = detectFinger(image);
            const bool finger = ZPFingerDetect(image.data(), opts->threshold) == 1;
            allFound = allFound && finger;
            if (opts->common.json) {
                Json j = {{"image", path}, {"finger", finger}, {"quality", d.found ? d.desc.quality : 0}};
                if (d.found) {
                    j["centre"] = {d.desc.centreX, d.desc.centreY};
                    j["extent"] = {{"left", d.desc.left}, {"right", d.desc.right}, {"top", d.desc.top}, {"bottom", d.desc.bottom}};
                }
                out.push_back(j);
            } else if (d.found) {
                std::printf("%-32s %7d %4d,%-4d %3d-%-3d / %3d-%-3d  %s\n", path.c_str(), d.desc.quality, d.desc.centreX,
                            d.desc.centreY, d.desc.left, d.desc.right, d.desc.top, d.desc.bottom,
                            finger ? "finger" : "quality too low");
            } else {
                std::printf("%-32s %7s %9s %17s  %s\n", path.c_str(), "-", "-", "-", "no finger");
            }
        }
        if (opts->common.json) printJson(out);
        exitCode = allFound ? kExitOk : kExitNegative;
    });
}

void addExtract(CLI::App& app, int& exitCode) {
    struct Opts {
        std::vector<std::string> images;
        std::string out;
        std::string skeleton;
        int threshold = 0;
        int minYield = 0;
        Common common;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("extract", "Extract 256-byte templates (.zpt) from images");
    cmd->add_option("images", opts->images, "Image files")->required();
    cmd->add_option("-o,--output", opts->out, "Template file, or folder for many (default: beside each image)");
    cmd->add_option("--threshold", opts->threshold, "Least quality score accepted");
    cmd->add_option("--min-yield", opts->minYield, "Least candidate yield accepted (percent)");
    cmd->add_option("--skeleton", opts->skeleton, "Write the marked skeleton of the working window as PNG (one image only)");
    addCommon(cmd, opts->common);
    cmd->callback([opts, &exitCode] {
        const bool many = opts->images.size() > 1;
        if (many && !opts->skeleton.empty()) throw InputError{"--skeleton takes one image only"};
        if (many && !opts->out.empty()) std::filesystem::create_directories(opts->out);
        Json out = Json::array();
        bool allOk = true;
        Progress progress("extracting", opts->images.size());
        if (!opts->common.json) std::printf("%-32s %8s %6s %7s  %s\n", "image", "minutiae", "yield", "quality", "result");
        for (std::size_t k = 0; k < opts->images.size(); ++k) {
            const std::string& path = opts->images[k];
            const Extraction e = extract(loadSensorImageOrThrow(path, opts->common.dpi, opts->common.json), opts->threshold,
                                         opts->minYield);
            const bool ok = e.result == ZP_EXTRACT_OK;
            allOk = allOk && ok;
            std::string written;
            if (ok) {
                written = defaultTemplatePath(path, opts->out, many);
                writeTemplateFile(written, e.templ);
            }
            if (!opts->skeleton.empty() && e.result != ZP_EXTRACT_NO_FINGER) {
                // The image buffer holds the 232 x 280 window: 0 background,
                // 1 skeleton, 2 and 3 the extractor's marks.
                std::vector<std::uint8_t> pic(232 * 280);
                for (std::size_t i = 0; i < pic.size(); ++i) pic[i] = e.workImage[i] == 0 ? 255 : e.workImage[i] == 1 ? 0 : 128;
                std::string error;
                if (!writePngGrey(opts->skeleton, 232, 280, pic.data(), &error)) throw InputError{error};
            }
            if (opts->common.json) {
                Json j = {{"image", path}, {"result", e.result}, {"message", extractResultText(e.result)}};
                if (ok) {
                    j["template"] = written;
                    j["minutiae"] = templateCount(e.templ);
                    j["yield"] = templateYield(e.templ);
                    j["quality"] = templateQuality(e.templ);
                }
                out.push_back(j);
            } else if (ok) {
                std::printf("%-32s %8d %5d%% %7d  %s\n", path.c_str(), templateCount(e.templ), templateYield(e.templ),
                            templateQuality(e.templ), written.c_str());
            } else {
                std::printf("%-32s %8s %6s %7s  %s\n", path.c_str(), "-", "-", "-", extractResultText(e.result));
            }
            progress.step(k + 1);
        }
        if (opts->common.json) printJson(out);
        exitCode = allOk ? kExitOk : kExitNegative;
    });
}

void addInfo(CLI::App& app, int& exitCode) {
    struct Opts {
        std::vector<std::string> templates;
        bool json = false;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("info", "Decode templates: header and minutiae");
    cmd->add_option("templates", opts->templates, "Template files (.zpt)")->required();
    cmd->add_flag("--json", opts->json, "Print JSON");
    cmd->callback([opts, &exitCode] {
        Json out = Json::array();
        bool allAccepted = true;
        for (const std::string& path : opts->templates) {
            const Template t = readTemplateFile(path);
            const std::string rejection = templateRejection(t);
            const std::vector<std::string> oddities = rejection.empty() ? templateOddities(t) : std::vector<std::string>{};
            allAccepted = allAccepted && rejection.empty();
            if (opts->json) {
                Json j = {{"template", path}, {"accepted", rejection.empty()}};
                if (!rejection.empty()) j["reason"] = rejection;
                else {
                    j.update(templateJson(t));
                    j["warnings"] = oddities;
                }
                out.push_back(j);
                continue;
            }
            if (!rejection.empty()) {
                std::printf("%s: rejected: %s\n", path.c_str(), rejection.c_str());
                continue;
            }
            std::printf("%s: accepted\n  minutiae %d, candidate yield %d%%, quality %d, stored size %d x %d, class code %d\n",
                        path.c_str(), templateCount(t), templateYield(t), templateQuality(t), t[11] | (t[12] << 8),
                        t[13] | (t[14] << 8), t[15]);
            for (const std::string& w : oddities) std::printf("  warning: %s\n", w.c_str());
            std::printf("  %3s %5s %5s %9s  %s\n", "#", "x", "y", "direction", "type");
            int i = 0;
            for (const PixelMinutia& m : templateMinutiae(t)) {
                std::printf("  %3d %5d %5d %9d  %s\n", i++, m.x, m.y, m.direction,
                            m.type == 1 ? "ending" : m.type == 2 ? "bifurcation" : "other");
            }
        }
        if (opts->json) printJson(out);
        exitCode = allAccepted ? kExitOk : kExitBadInput;
    });
}

void addMatch(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string a;
        std::string b;
        int level = 3;
        Common common;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("match", "Compare two fingers (images or templates) at a security level");
    cmd->add_option("first", opts->a, "Image or template")->required();
    cmd->add_option("second", opts->b, "Image or template")->required();
    cmd->add_option("--level", opts->level, "Security level 1 (lenient) to 5 (strict)")->check(CLI::Range(1, 5));
    addCommon(cmd, opts->common);
    cmd->callback([opts, &exitCode] {
        const Template a = templateFromPath(opts->a, opts->common.dpi, opts->common.json);
        const Template b = templateFromPath(opts->b, opts->common.dpi, opts->common.json);
        Workspace ws;
        const std::int32_t score = matchScore(a, b, ws);
        const bool same = ZPMatch(a.data(), b.data(), ws.data(), opts->level) == 1;
        const std::int32_t threshold = levelThreshold(opts->level);
        if (opts->common.json) {
            printJson({{"first", opts->a}, {"second", opts->b}, {"score", score}, {"level", opts->level},
                       {"threshold", threshold}, {"match", same}});
        } else {
            std::printf("score %d, level %d threshold %d: %s\n", score, opts->level, threshold, same ? "match" : "no match");
        }
        exitCode = same ? kExitOk : kExitNegative;
    });
}

// Draws a line of colour rgb on an RGB picture.
void drawLine(std::vector<std::uint8_t>& rgb, int w, int h, int x0, int y0, int x1, int y1, const std::uint8_t* colour) {
    const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    for (int s = 0; s <= steps; ++s) {
        const int x = steps ? x0 + (x1 - x0) * s / steps : x0;
        const int y = steps ? y0 + (y1 - y0) * s / steps : y0;
        if (x < 0 || y < 0 || x >= w || y >= h) continue;
        std::copy(colour, colour + 3, rgb.begin() + (static_cast<std::size_t>(y) * w + x) * 3);
    }
}

void addShow(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string image;
        std::string out;
        int scale = 2;
        Common common;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("show", "Draw the working window, skeleton and minutiae on an image (PNG)");
    cmd->add_option("image", opts->image, "Image file")->required();
    cmd->add_option("-o,--output", opts->out, "PNG file to write")->required();
    cmd->add_option("--scale", opts->scale, "Enlargement factor")->check(CLI::Range(1, 8));
    addCommon(cmd, opts->common);
    cmd->callback([opts, &exitCode] {
        std::vector<std::uint8_t> image = loadSensorImageOrThrow(opts->image, opts->common.dpi, opts->common.json);
        const Detection d = detectFinger(image);
        const Extraction e = extract(image, 0, 0);
        const int s = opts->scale;
        const int w = ZP_IMAGE_WIDTH * s;
        const int h = ZP_IMAGE_HEIGHT * s;
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                // The grey image, lightened so that the drawing stands out.
                const std::uint8_t v = static_cast<std::uint8_t>(128 + image[(y / s) * ZP_IMAGE_WIDTH + x / s] / 2);
                std::fill_n(rgb.begin() + (static_cast<std::size_t>(y) * w + x) * 3, 3, v);
            }
        }
        static const std::uint8_t kWindow[3] = {40, 120, 255};
        static const std::uint8_t kSkeleton[3] = {20, 20, 20};
        static const std::uint8_t kEnding[3] = {230, 30, 30};
        static const std::uint8_t kBifurcation[3] = {20, 170, 40};
        if (d.found) {
            std::int32_t x0 = 0;
            std::int32_t y0 = 0;
            windowOrigin(d.desc.centreX, d.desc.centreY, x0, y0);
            const int X0 = x0 * s, Y0 = y0 * s, X1 = (x0 + 232) * s - 1, Y1 = (y0 + 280) * s - 1;
            drawLine(rgb, w, h, X0, Y0, X1, Y0, kWindow);
            drawLine(rgb, w, h, X1, Y0, X1, Y1, kWindow);
            drawLine(rgb, w, h, X1, Y1, X0, Y1, kWindow);
            drawLine(rgb, w, h, X0, Y1, X0, Y0, kWindow);
            if (e.result == ZP_EXTRACT_OK || e.result == ZP_EXTRACT_NO_TEMPLATE) {
                for (int y = 0; y < 280; ++y) {
                    for (int x = 0; x < 232; ++x) {
                        if (e.workImage[y * 232 + x] == 0) continue;
                        for (int k = 0; k < s; ++k) {
                            for (int l = 0; l < s; ++l) {
                                const std::size_t at = (static_cast<std::size_t>((y0 + y) * s + k) * w + (x0 + x) * s + l) * 3;
                                std::copy(kSkeleton, kSkeleton + 3, rgb.begin() + at);
                            }
                        }
                    }
                }
            }
            if (e.result == ZP_EXTRACT_OK) {
                for (const PixelMinutia& m : templateMinutiae(e.templ)) {
                    const std::uint8_t* colour = m.type == 2 ? kBifurcation : kEnding;
                    const int cx = (x0 + m.x) * s + s / 2;
                    const int cy = (y0 + m.y) * s + s / 2;
                    const int r = 3 * s;
                    for (int a = 0; a < 360; a += 5) {
                        const double rad = a * M_PI / 180.0;
                        drawLine(rgb, w, h, cx + static_cast<int>(r * std::cos(rad)), cy + static_cast<int>(r * std::sin(rad)),
                                 cx + static_cast<int>(r * std::cos(rad + 0.09)), cy + static_cast<int>(r * std::sin(rad + 0.09)), colour);
                    }
                    const double dir = m.direction * M_PI / 180.0;
                    drawLine(rgb, w, h, cx + static_cast<int>(r * std::cos(dir)), cy + static_cast<int>(r * std::sin(dir)),
                             cx + static_cast<int>(3 * r * std::cos(dir)), cy + static_cast<int>(3 * r * std::sin(dir)), colour);
                }
            }
        }
        std::string error;
        if (!writePngRgb(opts->out, w, h, rgb.data(), &error)) throw InputError{error};
        if (opts->common.json) {
            printJson({{"image", opts->image}, {"output", opts->out}, {"result", e.result},
                       {"minutiae", e.result == ZP_EXTRACT_OK ? templateCount(e.templ) : 0}});
        } else {
            std::printf("%s: %s, %d minutiae drawn; window in blue, endings red, bifurcations green\n", opts->out.c_str(),
                        extractResultText(e.result), e.result == ZP_EXTRACT_OK ? templateCount(e.templ) : 0);
        }
        exitCode = e.result == ZP_EXTRACT_OK ? kExitOk : kExitNegative;
    });
}

void addConvert(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string templ;
        std::string to;
        std::string out;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("convert", "Export a template's minutiae to a standard record format");
    cmd->add_option("template", opts->templ, "Template file (.zpt)")->required();
    cmd->add_option("--to", opts->to, "iso19794-2, ansi378, xyt or json")
        ->required()
        ->check(CLI::IsMember({"iso19794-2", "ansi378", "xyt", "json"}));
    cmd->add_option("-o,--output", opts->out, "Output file (default: standard output for text formats)");
    cmd->callback([opts, &exitCode] {
        const Template t = readTemplateFile(opts->templ);
        const std::string why = templateRejection(t);
        if (!why.empty()) throw InputError{opts->templ + ": template rejected: " + why};
        std::string bytes;
        bool binary = false;
        if (opts->to == "iso19794-2" || opts->to == "ansi378") {
            const std::vector<std::uint8_t> rec = opts->to == "ansi378" ? toAnsi378(t) : toIso19794_2(t);
            bytes.assign(rec.begin(), rec.end());
            binary = true;
        } else if (opts->to == "xyt") {
            bytes = toXyt(t);
        } else {
            bytes = templateJson(t).dump(2) + "\n";
        }
        if (opts->out.empty() && binary) throw InputError{"--to " + opts->to + " writes a binary record: give -o FILE"};
        if (opts->out.empty()) {
            std::cout << bytes;
        } else {
            std::ofstream out(opts->out, std::ios::binary | std::ios::trunc);
            out << bytes;
            if (!out) throw InputError{opts->out + ": cannot be written"};
        }
        exitCode = kExitOk;
    });
}

}  // namespace

void addImageCommands(CLI::App& app, int& exitCode) {
    addVersion(app);
    addDetect(app, exitCode);
    addExtract(app, exitCode);
    addInfo(app, exitCode);
    addMatch(app, exitCode);
    addShow(app, exitCode);
    addConvert(app, exitCode);
}

}  // namespace zpcli
