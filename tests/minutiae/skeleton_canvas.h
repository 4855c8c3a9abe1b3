// Small skeleton images drawn pixel by pixel for the tracing, cleanup and
// extraction tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace zptest {

struct SkeletonCanvas {
    std::int32_t width;
    std::int32_t height;
    std::vector<std::uint8_t> pixels;

    SkeletonCanvas(std::int32_t w, std::int32_t h)
        : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {}

    std::uint8_t* data() { return pixels.data(); }
    std::uint8_t& at(std::int32_t x, std::int32_t y) {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    std::uint8_t get(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    void set(std::int32_t x, std::int32_t y, std::uint8_t v = 1) { at(x, y) = v; }
    void setAll(std::initializer_list<std::pair<std::int32_t, std::int32_t>> points) {
        for (const auto& p : points) set(p.first, p.second);
    }
    // Straight or 45-degree line from (x0, y0) to (x1, y1), both ends included.
    void line(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
        const std::int32_t sx = x1 > x0 ? 1 : (x1 < x0 ? -1 : 0);
        const std::int32_t sy = y1 > y0 ? 1 : (y1 < y0 ? -1 : 0);
        std::int32_t x = x0;
        std::int32_t y = y0;
        set(x, y);
        while (x != x1 || y != y1) {
            if (x != x1) x += sx;
            if (y != y1) y += sy;
            set(x, y);
        }
    }
    std::int32_t countSet() const {
        std::int32_t c = 0;
        for (std::uint8_t p : pixels) c += p != 0 ? 1 : 0;
        return c;
    }
};

}  // namespace zptest
