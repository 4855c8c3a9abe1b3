// Masters shared by the generator's tests: each is grown once per run.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "synth/synth.h"

namespace synthtest {

inline const zp::synth::MasterFingerprint& master(std::uint64_t seed, zp::synth::PatternClass pc) {
    static std::map<std::pair<std::uint64_t, int>, zp::synth::MasterFingerprint> cache;
    const auto key = std::make_pair(seed, static_cast<int>(pc));
    auto it = cache.find(key);
    if (it == cache.end()) it = cache.emplace(key, zp::synth::makeMaster(seed, pc)).first;
    return it->second;
}

inline int crossingNumberAt(const std::vector<std::uint8_t>& s, int w, int h, int x, int y) {
    static const int ring[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
    auto on = [&](int k) {
        const int xx = x + ring[k % 8][0], yy = y + ring[k % 8][1];
        return xx >= 0 && yy >= 0 && xx < w && yy < h && s[static_cast<std::size_t>(yy) * w + xx] != 0;
    };
    int t = 0;
    for (int k = 0; k < 8; ++k) t += on(k) != on(k + 1);
    return t / 2;
}

}  // namespace synthtest
