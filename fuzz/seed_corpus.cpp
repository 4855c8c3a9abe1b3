// Writes the seed corpora of the fuzz targets into OUT/<target>/: images of
// synthetic fingers (and of the real sets beside the checkout, when there),
// whole and in pieces, their extracted templates, and hand-made templates
// that hold whatever the extractor cannot yet give.
//   fuzz_seed_corpus OUT
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "api/zpapi.h"
#include "hardening_support.h"
#include "minutiae/template_format.h"
#ifdef ZPAPI_SEED_REAL_IMAGES
#include "support/real_images.h"
#endif

namespace {

using zphard::Bytes;
namespace fs = std::filesystem;

constexpr int kFingers = 4;
constexpr int kImpressions = 2;
// Rows of an image kept as a short seed; the target tiles it.
constexpr std::size_t kStripBytes = 64 * ZP_IMAGE_WIDTH;

fs::path gOut;
int gWritten = 0;

void write(const std::string& target, const Bytes& bytes) {
    const fs::path dir = gOut / target;
    fs::create_directories(dir);
    char name[32];
    std::snprintf(name, sizeof(name), "seed_%04d", gWritten++);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A template of the extractor's stored size with n minutiae on a spiral,
// alternating types: valid, but made by hand.
Bytes handMade(int n, int quality, int turn) {
    Bytes t(ZP_TEMPLATE_SIZE, 0);
    zp::TemplateHeader header;
    header.yield = 60;
    header.quality = quality;
    header.width = 116;
    header.height = 140;
    std::vector<zp::TemplateMinutia> minutiae;
    for (int k = 0; k < n; ++k) {
        zp::TemplateMinutia m;
        m.x = 10 + (k * 37 + turn * 11) % 96;
        m.y = 10 + (k * 53 + turn * 7) % 120;
        m.direction = (k * 71 + turn * 13) % 360;
        m.type = k % 3 == 0 ? zp::kBifurcation : zp::kRidgeEnding;
        minutiae.push_back(m);
    }
    zp::writeTemplate(t.data(), header, minutiae.data(), n);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 2;
    }
    gOut = argv[1];

    std::vector<Bytes> images = zphard::syntheticImages(kFingers, kImpressions);
#ifdef ZPAPI_SEED_REAL_IMAGES
    for (const char* set : {"fvc2000_db2_b", "fvc2002_db1_b"}) {
        Bytes real = zptest::loadSensorImage(set, 101, 1);
        if (!real.empty()) images.push_back(real);
    }
#endif

    std::vector<Bytes> templates;
    int extracted = 0;
    for (const Bytes& image : images) {
        write("extract", image);
        const zphard::Extraction e = zphard::extract(image);
        if (e.result == ZP_EXTRACT_OK) {
            templates.push_back(e.templ);
            ++extracted;
        }
    }
    // Short pieces of images, from the finger's middle.
    for (std::size_t k = 0; k < 2 && k < images.size(); ++k) {
        const std::size_t from = ZP_IMAGE_SIZE / 2 - kStripBytes / 2;
        write("extract", Bytes(images[k].begin() + static_cast<long>(from),
                               images[k].begin() + static_cast<long>(from + kStripBytes)));
    }
    for (const int n : {0, 1, 3, 12, 30, 50}) templates.push_back(handMade(n, 60 + n, n));

    for (const Bytes& t : templates) write("template_decode", t);
    const Bytes level3 = {3};
    for (std::size_t a = 0; a < templates.size(); ++a) {
        // Each with its successor: pairs of the same finger sit side by side.
        const Bytes& b = templates[(a + 1) % templates.size()];
        write("match", concat({templates[a], b, level3}));
        write("quick_match", concat({Bytes{0}, templates[a], b}));
        write("quick_match", concat({Bytes{1}, templates[a], b, Bytes{0, 0, 0, 0, 0, 0, 0, 1}}));
    }
    for (std::size_t a = 0; a + 2 < templates.size(); a += 2) {
        write("merge", concat({Bytes{4}, templates[a], templates[a + 1], templates[a + 2]}));
    }
    std::printf("%d seeds in %s (%zu images, %d extracted templates)\n", gWritten, gOut.c_str(),
                images.size(), extracted);
    return 0;
}
