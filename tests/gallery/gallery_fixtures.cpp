#include "gallery_fixtures.h"

#include <unistd.h>

#include <array>
#include <atomic>

#include "minutiae/template_format.h"
#include "support/real_images.h"

namespace zptest {

zpg::Template realTemplate(const std::string& set, int finger, int impression) {
    zpg::Template t{};
    std::vector<std::uint8_t> image = loadSensorImage(set, finger, impression);
    if (image.empty() || ZPFingerExtract(image.data(), t.data(), 0, 0) != ZP_EXTRACT_OK) t.fill(0);
    return t;
}

zpg::Template plainTemplate(int seed, int count, int quality) {
    std::array<zp::TemplateMinutia, zp::kMaxMinutiae> m{};
    for (int i = 0; i < count; ++i)
        m[static_cast<std::size_t>(i)] = {10 + (i % 8) * 12 + seed % 5, 10 + (i / 8) * 18, (i * 37 + seed * 11) % 360,
                                          1 + (i + seed) % 2};
    zp::TemplateHeader h;
    h.yield = 50;
    h.quality = quality;
    h.width = 116;
    h.height = 140;
    zpg::Template t{};
    zp::writeTemplate(t.data(), h, m.data(), count);
    return t;
}

TempDir::TempDir() {
    static std::atomic<int> serial{0};
    path_ = std::filesystem::temp_directory_path() /
            ("zpapi-gallery-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace zptest
