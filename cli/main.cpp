// zpapi: command-line front end of the library.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "zpapi.h"

namespace {

// Concentric ridges of a 9-pixel period inside an oval contact area on a
// bright background: a finger-like test pattern that needs no data files.
std::vector<std::uint8_t> ringPattern() {
    std::vector<std::uint8_t> image(ZP_IMAGE_SIZE, 230);
    for (int y = 0; y < ZP_IMAGE_HEIGHT; ++y) {
        for (int x = 0; x < ZP_IMAGE_WIDTH; ++x) {
            const double dx = (x - 128.0) / 100.0;
            const double dy = (y - 192.0) / 150.0;
            if (dx * dx + dy * dy > 1.0) continue;
            const double r = std::hypot(x - 128.0, y - 170.0);
            image[y * ZP_IMAGE_WIDTH + x] =
                static_cast<std::uint8_t>(128.0 + 90.0 * std::cos(2.0 * M_PI * r / 9.0));
        }
    }
    return image;
}

int usage(FILE* out) {
    std::fputs(
        "usage: zpapi COMMAND\n"
        "commands:\n"
        "  version   print the library version\n"
        "  demo      detect a finger on a built-in test pattern\n",
        out);
    return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage(stderr);
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) return usage(stdout);
    if (std::strcmp(command, "version") == 0) {
        char version[ZP_VERSION_SIZE];
        ZPVersion(version);
        std::printf("%s\n", version);
        return 0;
    }
    if (std::strcmp(command, "demo") == 0) {
        const std::vector<std::uint8_t> image = ringPattern();
        for (int threshold : {0, 50, 90}) {
            const int found = ZPFingerDetect(image.data(), threshold);
            std::printf("finger detect, threshold %2d: %s\n", threshold, found ? "finger" : "no finger");
        }
        return 0;
    }
    std::fprintf(stderr, "zpapi: unknown command '%s'\n", command);
    return usage(stderr);
}
