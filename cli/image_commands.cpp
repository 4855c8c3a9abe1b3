// version, detect, extract, info, match, show, convert.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "core/records.h"
#include "core/rules.h"
#include "cli_common.h"
#include "commands.h"
#include "minutia_formats.h"
#include "output_paths.h"
#include "png_io.h"

namespace zpcli {
namespace {

struct Common {
    bool json = false;
    int dpi = 500;
};

void addCommon(CLI::App* cmd, Common& c) {
    cmd->add_flag("--json", c.json, "Print one JSON document on stdout instead of a table");
    cmd->add_option("--dpi", c.dpi, "Resolution of the input images; resampled to 500 dpi")
        ->check(CLI::Range(100, 2000));
}

void printJson(const Json& j) { std::cout << j.dump(2) << "\n"; }

// A message without the leading "PATH: " that names the input already in
// the table's first column.
std::string withoutPath(const std::string& message, const std::string& path) {
    const std::string prefix = path + ": ";
    return message.starts_with(prefix) ? message.substr(prefix.size()) : message;
}

// Runs each(input) on every input of a batch command, whatever happens to
// the others. each returns the input's JSON entry (and prints its table row)
// or throws InputError; a failure becomes {key: input, "error": message}, a
// table row and a line on stderr. Returns the document {plural: n, "failed": f, "results": [...]}.
template <class Each>
Json runBatch(const std::vector<std::string>& inputs, const char* key, const char* plural, const char* label, bool json,
              Each each) {
    Json results = Json::array();
    std::size_t failed = 0;
    Progress progress(label, inputs.size());
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        try {
            results.push_back(each(inputs[k]));
        } catch (const InputError& e) {
            ++failed;
            results.push_back({{key, inputs[k]}, {"error", e.message}});
            std::fprintf(stderr, "zpapi: %s\n", e.message.c_str());
            if (!json) std::printf("%-32s error: %s\n", inputs[k].c_str(), withoutPath(e.message, inputs[k]).c_str());
        }
        progress.step(k + 1);
    }
    if (failed > 0 && !json)
        std::fprintf(stderr, "zpapi: %zu of %zu %s failed\n", failed, inputs.size(), plural);
    return {{plural, inputs.size()}, {"failed", failed}, {"results", results}};
}

// Exit code of a batch: 2 when an input failed, else 1 when some answer was
// negative, else 0.
int batchExit(const Json& doc, std::size_t negative) {
    if (doc["failed"].get<std::size_t>() > 0) return kExitBadInput;
    return negative > 0 ? kExitNegative : kExitOk;
}

void addVersion(CLI::App& app) {
    struct Opts {
        bool json = false;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("version", "Print the library version");
    cmd->add_flag("--json", opts->json, "Print one JSON document on stdout");
    cmd->callback([opts] {
        char version[ZP_VERSION_SIZE];
        ZPVersion(version);
        if (opts->json) printJson({{"version", version}});
        else std::printf("%s\n", version);
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
        const bool json = opts->common.json;
        std::size_t negative = 0;
        if (!json) std::printf("%-32s %7s %9s %17s  %s\n", "image", "quality", "centre", "extent x / y", "answer");
        const Json doc = runBatch(opts->images, "image", "images", "detecting", json, [&](const std::string& path) {
            std::vector<std::uint8_t> image = loadSensorImageOrThrow(path, opts->common.dpi, json);
            const Detection d = detectFinger(image);
            const bool finger = ZPFingerDetect(image.data(), opts->threshold) == 1;
            negative += finger ? 0 : 1;
            Json j = {{"image", path}, {"finger", finger}, {"quality", d.found ? d.desc.quality : 0}};
            if (d.found) {
                j["centre"] = {d.desc.centreX, d.desc.centreY};
                j["extent"] = {{"left", d.desc.left}, {"right", d.desc.right}, {"top", d.desc.top}, {"bottom", d.desc.bottom}};
            }
            if (json) return j;
            if (d.found) {
                std::printf("%-32s %7d %4d,%-4d %3d-%-3d / %3d-%-3d  %s\n", path.c_str(), d.desc.quality, d.desc.centreX,
                            d.desc.centreY, d.desc.left, d.desc.right, d.desc.top, d.desc.bottom,
                            finger ? "finger" : "quality too low");
            } else {
                std::printf("%-32s %7s %9s %17s  %s\n", path.c_str(), "-", "-", "-", "no finger");
            }
            return j;
        });
        if (json) printJson(doc);
        exitCode = batchExit(doc, negative);
    });
}

// The marked skeleton of the working window as a PNG.
void writeSkeleton(const std::string& path, const Extraction& e) {
    const std::vector<std::uint8_t> pic = skeletonPicture(e);
    std::string error;
    if (!writePngGrey(path, zp::kWindowWidth, zp::kWindowHeight, pic.data(), &error)) throw InputError{error};
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
    cmd->add_option("-o,--output", opts->out,
                    "Template file, or folder for many (default: beside each image); images from different folders "
                    "that share a name go to OUT/FOLDER/NAME.zpt");
    cmd->add_option("--threshold", opts->threshold, "Least quality score accepted");
    cmd->add_option("--min-yield", opts->minYield, "Least candidate yield accepted (percent)");
    cmd->add_option("--skeleton", opts->skeleton, "Write the marked skeleton of the working window as PNG (one image only)");
    addCommon(cmd, opts->common);
    cmd->callback([opts, &exitCode] {
        const bool json = opts->common.json;
        if (opts->images.size() > 1 && !opts->skeleton.empty()) throw InputError{"--skeleton takes one image only"};
        // Every destination is known, and checked for clashes, before anything is written.
        const std::vector<std::string> outputs = templateOutputPaths(opts->images, opts->out);
        std::size_t next = 0;
        std::size_t negative = 0;
        if (!json) std::printf("%-32s %8s %6s %7s  %s\n", "image", "minutiae", "yield", "quality", "result");
        const Json doc = runBatch(opts->images, "image", "images", "extracting", json, [&](const std::string& path) {
            const std::string& written = outputs[next++];
            const Extraction e =
                extract(loadSensorImageOrThrow(path, opts->common.dpi, json), opts->threshold, opts->minYield);
            const bool ok = e.result == ZP_EXTRACT_OK;
            negative += ok ? 0 : 1;
            if (ok) {
                const std::filesystem::path folder = std::filesystem::path(written).parent_path();
                std::error_code ec;
                if (!folder.empty()) std::filesystem::create_directories(folder, ec);
                writeTemplateFile(written, e.templ);
            }
            if (!opts->skeleton.empty() && e.result != ZP_EXTRACT_NO_FINGER) writeSkeleton(opts->skeleton, e);
            Json j = {{"image", path}, {"result", e.result}, {"message", extractResultText(e.result)}};
            if (ok) {
                j["template"] = written;
                j["minutiae"] = templateCount(e.templ);
                j["yield"] = templateYield(e.templ);
                j["quality"] = templateQuality(e.templ);
            }
            if (json) return j;
            if (ok) {
                std::printf("%-32s %8d %5d%% %7d  %s\n", path.c_str(), templateCount(e.templ), templateYield(e.templ),
                            templateQuality(e.templ), written.c_str());
            } else {
                std::printf("%-32s %8s %6s %7s  %s\n", path.c_str(), "-", "-", "-", extractResultText(e.result));
            }
            return j;
        });
        if (json) printJson(doc);
        exitCode = batchExit(doc, negative);
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
    cmd->add_flag("--json", opts->json, "Print one JSON document on stdout instead of a table");
    cmd->callback([opts, &exitCode] {
        const Json doc = runBatch(opts->templates, "template", "templates", "decoding", opts->json, [&](const std::string& path) {
            const Template t = readTemplateFile(path);
            const std::string rejection = templateRejection(t);
            if (!rejection.empty()) throw InputError{path + ": template rejected: " + rejection};
            const std::vector<std::string> oddities = templateOddities(t);
            Json j = {{"template", path}, {"accepted", true}};
            j.update(templateJson(t));
            j["warnings"] = oddities;
            if (opts->json) return j;
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
            return j;
        });
        if (opts->json) printJson(doc);
        exitCode = batchExit(doc, 0);
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

// Digits 0-9 in a 3 x 5 pixel font, a row of three bits per line.
constexpr std::array<std::array<std::uint8_t, 5>, 10> kDigits = {{{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7},
                                                                  {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7},
                                                                  {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7},
                                                                  {7, 5, 7, 1, 7}}};

// Writes a number at (x, y) with pixels of size px.
void drawNumber(std::vector<std::uint8_t>& rgb, int w, int h, int x, int y, int px, int number, const std::uint8_t* colour) {
    const std::string text = std::to_string(number);
    for (std::size_t c = 0; c < text.size(); ++c) {
        const auto& glyph = kDigits[static_cast<std::size_t>(text[c] - '0')];
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (glyph[static_cast<std::size_t>(row)] & (4 >> col))
                    for (int k = 0; k < px * px; ++k) {
                        const int xx = x + (static_cast<int>(c) * 4 + col) * px + k % px;
                        const int yy = y + row * px + k / px;
                        if (xx >= 0 && yy >= 0 && xx < w && yy < h)
                            std::copy(colour, colour + 3, rgb.begin() + (static_cast<std::size_t>(yy) * w + xx) * 3);
                    }
    }
}

// The capture with the working windows that gave templates, each a
// rectangle labelled with its window number (what enroll --windows keeps).
// Answers the number of windows drawn.
std::size_t showWindows(const std::string& path, const std::string& out, int dpi, int windows, int scale, bool json) {
    GreyImage image;
    std::string note;
    std::string error;
    if (!loadCapture(path, dpi, image, note, error)) throw InputError{error};
    std::string fitted;
    std::int32_t centred = 0;
    const std::vector<WindowExtraction> made = extractWindows(fitWindows(image, windows, fitted), centred, true);
    const int s = scale;
    const int w = image.width * s;
    const int h = image.height * s;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::fill_n(rgb.begin() + (static_cast<std::size_t>(y) * w + x) * 3, 3,
                        static_cast<std::uint8_t>(128 + image.pixels[static_cast<std::size_t>(y / s) * image.width + x / s] / 2));
    // One colour per window number.
    static const std::uint8_t kColours[][3] = {{40, 120, 255}, {230, 30, 30},  {20, 170, 40},
                                               {200, 120, 0},  {150, 40, 200}, {0, 160, 170},
                                               {220, 0, 140},  {110, 110, 0},  {90, 90, 90}};
    Json list = Json::array();
    for (const WindowExtraction& m : made) {
        const std::uint8_t* colour = kColours[static_cast<std::size_t>(m.window) % std::size(kColours)];
        const int x0 = m.rect.x * s, y0 = m.rect.y * s;
        const int x1 = (m.rect.x + m.rect.width) * s - 1, y1 = (m.rect.y + m.rect.height) * s - 1;
        for (int t = 0; t < s; ++t) {
            drawLine(rgb, w, h, x0 + t, y0 + t, x1 - t, y0 + t, colour);
            drawLine(rgb, w, h, x1 - t, y0 + t, x1 - t, y1 - t, colour);
            drawLine(rgb, w, h, x1 - t, y1 - t, x0 + t, y1 - t, colour);
            drawLine(rgb, w, h, x0 + t, y1 - t, x0 + t, y0 + t, colour);
        }
        drawNumber(rgb, w, h, x0 + 3 * s + m.window * 7 * s, y0 + 3 * s, 2 * s, m.window, colour);
        list.push_back({{"window", m.window},
                        {"rect", {m.rect.x, m.rect.y, m.rect.width, m.rect.height}},
                        {"minutiae", templateCount(m.templ)}});
    }
    if (!writePngRgb(out, w, h, rgb.data(), &error)) throw InputError{error};
    if (json) {
        printJson({{"image", path}, {"output", out}, {"width", image.width}, {"height", image.height}, {"windows", list}});
    } else {
        std::printf("%s: %zu windows drawn on the %d x %d capture (window 0 centred):", out.c_str(), made.size(),
                    image.width, image.height);
        for (const WindowExtraction& m : made)
            std::printf(" %d at (%d, %d)", m.window, m.rect.x, m.rect.y);
        std::printf("\n");
    }
    return made.size();
}

void addShow(CLI::App& app, int& exitCode) {
    struct Opts {
        std::string image;
        std::string out;
        int scale = 2;
        int windows = 0;
        Common common;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("show", "Draw the working window, skeleton and minutiae on an image (PNG)");
    cmd->add_option("image", opts->image, "Image file")->required();
    cmd->add_option("-o,--output", opts->out, "PNG file to write")->required();
    cmd->add_option("--scale", opts->scale, "Enlargement factor")->check(CLI::Range(1, 8));
    cmd->add_option("--windows", opts->windows,
                    "Draw instead the whole capture with the working windows of up to N windows that give a template, "
                    "labelled with their numbers (what enroll --windows N keeps of it)")
        ->check(CLI::Range(1, kMaxWindows));
    addCommon(cmd, opts->common);
    cmd->callback([opts, &exitCode] {
        if (opts->windows > 0) {
            const std::size_t drawn =
                showWindows(opts->image, opts->out, opts->common.dpi, opts->windows, opts->scale, opts->common.json);
            exitCode = drawn > 0 ? kExitOk : kExitNegative;
            return;
        }
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
            const int X0 = x0 * s, Y0 = y0 * s, X1 = (x0 + zp::kWindowWidth) * s - 1, Y1 = (y0 + zp::kWindowHeight) * s - 1;
            drawLine(rgb, w, h, X0, Y0, X1, Y0, kWindow);
            drawLine(rgb, w, h, X1, Y0, X1, Y1, kWindow);
            drawLine(rgb, w, h, X1, Y1, X0, Y1, kWindow);
            drawLine(rgb, w, h, X0, Y1, X0, Y0, kWindow);
            if (e.result == ZP_EXTRACT_OK || e.result == ZP_EXTRACT_NO_TEMPLATE) {
                for (int y = 0; y < zp::kWindowHeight; ++y) {
                    for (int x = 0; x < zp::kWindowWidth; ++x) {
                        if (e.workImage[y * zp::kWindowWidth + x] == 0) continue;
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
                       {"message", extractResultText(e.result)},
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
        bool json = false;
    };
    auto opts = std::make_shared<Opts>();
    auto* cmd = app.add_subcommand("convert", "Export a template's minutiae to a standard record format");
    cmd->add_option("template", opts->templ, "Template file (.zpt)")->required();
    cmd->add_option("--to", opts->to, "iso19794-2, ansi378, xyt or json")
        ->required()
        ->check(CLI::IsMember({"iso19794-2", "ansi378", "xyt", "json"}));
    cmd->add_option("-o,--output", opts->out, "Output file (default: standard output for text formats)");
    cmd->add_flag("--json", opts->json, "Print one JSON document on stdout saying what was written (needs -o)");
    cmd->callback([opts, &exitCode] {
        if (opts->json && opts->out.empty()) throw InputError{"--json reports on standard output: give -o FILE for the record"};
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
            writeFileAtomically(opts->out, bytes);
        }
        if (opts->json) {
            printJson({{"template", opts->templ}, {"format", opts->to}, {"output", opts->out}, {"bytes", bytes.size()},
                       {"minutiae", templateCount(t)}});
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
