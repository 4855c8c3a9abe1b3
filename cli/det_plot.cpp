#include "det_plot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "png_io.h"

// A tiny vector font of quads; its helpers are static and not all used.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb_easy_font.h>
#pragma GCC diagnostic pop

namespace zpcli {
namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 440;
// Each of the three panels: plot area origin and size.
constexpr int kPanelLeft = 70;
constexpr int kPanelStep = 400;
constexpr int kPlotTop = 60;
constexpr int kPlotSize = 300;
// The DET curve's axes run over these decades of error rate.
constexpr double kLogMin = -4.0;

struct Rgb {
    std::uint8_t r, g, b;
};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kGrid{225, 225, 225};
constexpr Rgb kGrey{140, 140, 140};
constexpr Rgb kGenuine{30, 150, 60};
constexpr Rgb kImpostor{210, 50, 40};
constexpr Rgb kCurve{40, 80, 200};

class Canvas {
  public:
    Canvas() : pixels_(static_cast<std::size_t>(kWidth) * kHeight * 3, 255) {}

    void set(int x, int y, Rgb c, double alpha = 1.0) {
        if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
        std::uint8_t* p = &pixels_[(static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)) * 3];
        const auto mix = [alpha](std::uint8_t old, std::uint8_t now) {
            return static_cast<std::uint8_t>(std::lround(old * (1.0 - alpha) + now * alpha));
        };
        p[0] = mix(p[0], c.r);
        p[1] = mix(p[1], c.g);
        p[2] = mix(p[2], c.b);
    }

    void fill(int x0, int y0, int x1, int y1, Rgb c, double alpha = 1.0) {
        if (x0 > x1) std::swap(x0, x1);
        if (y0 > y1) std::swap(y0, y1);
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) set(x, y, c, alpha);
    }

    // A line `thick` pixels wide; dashed lines skip every other 4 pixels.
    void line(int x0, int y0, int x1, int y1, Rgb c, int thick = 1, bool dashed = false) {
        const int dx = std::abs(x1 - x0);
        const int dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1;
        const int sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        for (int step = 0;; ++step) {
            if (!dashed || (step / 4) % 2 == 0) {
                for (int oy = 0; oy < thick; ++oy)
                    for (int ox = 0; ox < thick; ++ox) set(x0 + ox - thick / 2, y0 + oy - thick / 2, c);
            }
            if (x0 == x1 && y0 == y1) break;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }

    void frame(int x0, int y0, int x1, int y1, Rgb c) {
        line(x0, y0, x1, y0, c);
        line(x1, y0, x1, y1, c);
        line(x1, y1, x0, y1, c);
        line(x0, y1, x0, y0, c);
    }

    // Text with its top-left corner at (x, y), glyphs scaled by `scale`.
    void text(int x, int y, const std::string& s, Rgb c, int scale = 1) {
        std::string copy = s;
        static thread_local std::vector<char> quads(64 * 1024);
        const int n = stb_easy_font_print(0, 0, copy.data(), nullptr, quads.data(), static_cast<int>(quads.size()));
        // Each quad is four vertices of 16 bytes: x, y, z as floats, then colour.
        for (int q = 0; q < n; ++q) {
            float corner[4][2];
            for (int v = 0; v < 4; ++v) {
                std::memcpy(corner[v], &quads[static_cast<std::size_t>((q * 4 + v) * 16)], sizeof(corner[v]));
            }
            const int qx0 = x + static_cast<int>(std::lround(corner[0][0] * scale));
            const int qy0 = y + static_cast<int>(std::lround(corner[0][1] * scale));
            const int qx1 = x + static_cast<int>(std::lround(corner[2][0] * scale)) - 1;
            const int qy1 = y + static_cast<int>(std::lround(corner[2][1] * scale)) - 1;
            fill(qx0, qy0, qx1, qy1, c);
        }
    }

    static int textWidth(const std::string& s, int scale = 1) {
        std::string copy = s;
        return stb_easy_font_width(copy.data()) * scale;
    }

    const std::uint8_t* data() const { return pixels_.data(); }

  private:
    std::vector<std::uint8_t> pixels_;
};

std::string percent(double rate) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f%%", rate * 100.0);
    return buf;
}

// Maps a value in [lo, hi] onto the plot's pixels (y grows downwards).
int toX(int left, double v, double lo, double hi) {
    return left + static_cast<int>(std::lround((std::clamp(v, lo, hi) - lo) / (hi - lo) * kPlotSize));
}
int toY(double v, double lo, double hi) {
    return kPlotTop + kPlotSize - static_cast<int>(std::lround((std::clamp(v, lo, hi) - lo) / (hi - lo) * kPlotSize));
}
double logRate(double rate) { return rate <= 0.0 ? kLogMin : std::max(kLogMin, std::log10(rate)); }

void panelTitle(Canvas& c, int left, const std::string& title) { c.text(left, kPlotTop - 22, title, kBlack, 2); }

void xLabel(Canvas& c, int left, const std::string& label) {
    c.text(left + (kPlotSize - Canvas::textWidth(label)) / 2, kPlotTop + kPlotSize + 22, label, kBlack);
}

void legend(Canvas& c, int x, int y, Rgb colour, const std::string& label) {
    c.fill(x, y + 1, x + 12, y + 6, colour);
    c.text(x + 16, y, label, kBlack);
}

// Linear score axis 0..100 along x with ticks every 10.
void scoreAxis(Canvas& c, int left) {
    for (int s = 0; s <= kMaxScore; s += 10) {
        const int x = toX(left, s, 0, kMaxScore);
        c.line(x, kPlotTop, x, kPlotTop + kPlotSize, kGrid);
        c.line(x, kPlotTop + kPlotSize, x, kPlotTop + kPlotSize + 4, kBlack);
        const std::string label = std::to_string(s);
        c.text(x - Canvas::textWidth(label) / 2, kPlotTop + kPlotSize + 8, label, kBlack);
    }
}

void histogramPanel(Canvas& c, int left, const ScoreList& scores) {
    std::array<double, kMaxScore + 1> genuine{};
    std::array<double, kMaxScore + 1> impostor{};
    for (int s : scores.genuine)
        if (s >= 0) genuine[static_cast<std::size_t>(std::min(s, kMaxScore))] += 1.0;
    for (int s : scores.impostor)
        if (s >= 0) impostor[static_cast<std::size_t>(std::min(s, kMaxScore))] += 1.0;
    double top = 0.0;
    for (int s = 0; s <= kMaxScore; ++s) {
        if (!scores.genuine.empty()) genuine[static_cast<std::size_t>(s)] /= static_cast<double>(scores.genuine.size());
        if (!scores.impostor.empty()) impostor[static_cast<std::size_t>(s)] /= static_cast<double>(scores.impostor.size());
        top = std::max({top, genuine[static_cast<std::size_t>(s)], impostor[static_cast<std::size_t>(s)]});
    }
    top = top > 0.0 ? std::ceil(top * 20.0) / 20.0 : 0.05;  // round up to 5 %
    panelTitle(c, left, "Score distributions");
    scoreAxis(c, left);
    for (int i = 0; i <= 4; ++i) {
        const double v = top * i / 4.0;
        const int y = toY(v, 0, top);
        c.line(left, y, left + kPlotSize, y, kGrid);
        const std::string label = percent(v);
        c.text(left - 6 - Canvas::textWidth(label), y - 3, label, kBlack);
    }
    for (int s = 0; s <= kMaxScore; ++s) {
        const int x0 = toX(left, s - 0.5, -0.5, kMaxScore + 0.5);
        const int x1 = toX(left, s + 0.5, -0.5, kMaxScore + 0.5) - 1;
        const auto index = static_cast<std::size_t>(s);
        if (impostor[index] > 0) c.fill(x0, toY(impostor[index], 0, top), x1, kPlotTop + kPlotSize, kImpostor, 0.55);
        if (genuine[index] > 0) c.fill(x0, toY(genuine[index], 0, top), x1, kPlotTop + kPlotSize, kGenuine, 0.55);
    }
    c.frame(left, kPlotTop, left + kPlotSize, kPlotTop + kPlotSize, kBlack);
    xLabel(c, left, "match score (share of comparisons per score)");
    legend(c, left + kPlotSize - 150, kPlotTop + 8, kGenuine,
           "genuine (" + std::to_string(scores.genuine.size()) + ")");
    legend(c, left + kPlotSize - 150, kPlotTop + 22, kImpostor,
           "impostor (" + std::to_string(scores.impostor.size()) + ")");
}

void ratePanel(Canvas& c, int left, const VerificationMetrics& m) {
    panelTitle(c, left, "FMR and FNMR by threshold");
    scoreAxis(c, left);
    for (int i = 0; i <= 10; i += 2) {
        const int y = toY(i / 10.0, 0, 1);
        c.line(left, y, left + kPlotSize, y, kGrid);
        const std::string label = std::to_string(i * 10) + "%";
        c.text(left - 6 - Canvas::textWidth(label), y - 3, label, kBlack);
    }
    // The five security levels' thresholds.
    for (int level = 1; level <= 5; ++level) {
        const int x = toX(left, level * 10, 0, kMaxScore);
        c.line(x, kPlotTop, x, kPlotTop + kPlotSize, kGrey, 1, true);
        c.text(x + 2, kPlotTop + 3, "L" + std::to_string(level), kGrey);
    }
    for (int t = 0; t < kMaxScore; ++t) {
        const auto a = static_cast<std::size_t>(t);
        c.line(toX(left, t, 0, kMaxScore), toY(m.fmr[a], 0, 1), toX(left, t + 1, 0, kMaxScore), toY(m.fmr[a + 1], 0, 1),
               kImpostor, 2);
        c.line(toX(left, t, 0, kMaxScore), toY(m.fnmr[a], 0, 1), toX(left, t + 1, 0, kMaxScore),
               toY(m.fnmr[a + 1], 0, 1), kGenuine, 2);
    }
    c.frame(left, kPlotTop, left + kPlotSize, kPlotTop + kPlotSize, kBlack);
    xLabel(c, left, "threshold (accept when score >= threshold)");
    legend(c, left + kPlotSize - 80, kPlotTop + 150, kImpostor, "FMR");
    legend(c, left + kPlotSize - 80, kPlotTop + 164, kGenuine, "FNMR");
}

void detPanel(Canvas& c, int left, const VerificationMetrics& m) {
    panelTitle(c, left, "DET curve");
    const char* labels[] = {"0.01%", "0.1%", "1%", "10%", "100%"};
    for (int i = 0; i <= 4; ++i) {
        const double v = kLogMin + i;
        const int x = toX(left, v, kLogMin, 0);
        const int y = toY(v, kLogMin, 0);
        c.line(x, kPlotTop, x, kPlotTop + kPlotSize, kGrid);
        c.line(left, y, left + kPlotSize, y, kGrid);
        c.text(x - Canvas::textWidth(labels[i]) / 2, kPlotTop + kPlotSize + 8, labels[i], kBlack);
        c.text(left - 6 - Canvas::textWidth(labels[i]), y - 3, labels[i], kBlack);
    }
    // FMR = FNMR.
    c.line(toX(left, kLogMin, kLogMin, 0), toY(kLogMin, kLogMin, 0), toX(left, 0, kLogMin, 0), toY(0, kLogMin, 0), kGrey,
           1, true);
    for (int t = 0; t + 1 < kThresholds; ++t) {
        const auto a = static_cast<std::size_t>(t);
        c.line(toX(left, logRate(m.fmr[a]), kLogMin, 0), toY(logRate(m.fnmr[a]), kLogMin, 0),
               toX(left, logRate(m.fmr[a + 1]), kLogMin, 0), toY(logRate(m.fnmr[a + 1]), kLogMin, 0), kCurve, 2);
    }
    const int ex = toX(left, logRate(m.eer), kLogMin, 0);
    const int ey = toY(logRate(m.eer), kLogMin, 0);
    c.fill(ex - 3, ey - 3, ex + 3, ey + 3, kBlack);
    c.text(ex + 6, ey - 10, "EER " + percent(m.eer), kBlack);
    c.frame(left, kPlotTop, left + kPlotSize, kPlotTop + kPlotSize, kBlack);
    xLabel(c, left, "FMR (log scale; 0 drawn at the edge)");
    c.text(left + 6, kPlotTop + 6, "FNMR", kBlack);
}

}  // namespace

bool writeEvaluationPlot(const std::string& path, const std::string& title, const ScoreList& scores,
                         const VerificationMetrics& metrics, std::string* error) {
    Canvas c;
    c.text(12, 10, title, kBlack, 2);
    const std::string summary = "EER " + percent(metrics.eer) + "   FMR100 " + percent(metrics.fmr100.fnmr) +
                                "   FMR1000 " + percent(metrics.fmr1000.fnmr) + "   ZeroFMR " +
                                percent(metrics.zeroFmr.fnmr);
    c.text(kWidth - 12 - Canvas::textWidth(summary, 2), 10, summary, kBlack, 2);
    histogramPanel(c, kPanelLeft, scores);
    ratePanel(c, kPanelLeft + kPanelStep, metrics);
    detPanel(c, kPanelLeft + 2 * kPanelStep, metrics);
    return writePngRgb(path, kWidth, kHeight, c.data(), error);
}

}  // namespace zpcli
