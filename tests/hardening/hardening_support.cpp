#include "hardening_support.h"

#include <cstdio>

#include "api/zpapi.h"
#include "synth/synth.h"

namespace zphard {

Bytes syntheticImage(int finger, int impression) {
    const std::uint64_t seed = zp::synth::fingerSeed(kSetSeed, finger);
    const zp::synth::MasterFingerprint master = zp::synth::makeMaster(seed);
    return zp::synth::makeImpression(master, zp::synth::impressionSeed(seed, impression)).pixels;
}

std::vector<Bytes> syntheticImages(int fingers, int impressions) {
    std::vector<Bytes> images;
    for (int f = 0; f < fingers; ++f) {
        const std::uint64_t seed = zp::synth::fingerSeed(kSetSeed, f);
        const zp::synth::MasterFingerprint master = zp::synth::makeMaster(seed);
        for (int i = 0; i < impressions; ++i) {
            images.push_back(
                zp::synth::makeImpression(master, zp::synth::impressionSeed(seed, i)).pixels);
        }
    }
    return images;
}

Extraction extract(const Bytes& image) {
    Extraction e;
    e.image = image;
    e.templ.assign(ZP_TEMPLATE_SIZE, 0);
    e.result = ZPFingerExtract(e.image.data(), e.templ.data(), kExtractThreshold, kExtractMinYield);
    return e;
}

namespace {

// SHA-256 round constants: the first 32 bits of the fractional parts of the
// cube roots of the first 64 primes.
constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void compress(std::array<std::uint32_t, 8>& h, const std::uint8_t* block) {
    std::array<std::uint32_t, 64> w{};
    for (int t = 0; t < 16; ++t) {
        w[t] = (std::uint32_t{block[4 * t]} << 24) | (std::uint32_t{block[4 * t + 1]} << 16) |
               (std::uint32_t{block[4 * t + 2]} << 8) | std::uint32_t{block[4 * t + 3]};
    }
    for (int t = 16; t < 64; ++t) {
        const std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = h;
    for (int t = 0; t < 64; ++t) {
        const std::uint32_t s1 = rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25);
        const std::uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + s1 + ch + kRound[t] + w[t];
        const std::uint32_t s0 = rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22);
        const std::uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        const std::uint32_t t2 = s0 + maj;
        v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (int k = 0; k < 8; ++k) h[k] += v[k];
}

}  // namespace

std::string sha256Hex(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::size_t done = 0;
    for (; done + 64 <= size; done += 64) compress(h, data + done);
    // Last blocks: the rest, a 1 bit, zeros, and the length in bits.
    std::array<std::uint8_t, 128> tail{};
    const std::size_t rest = size - done;
    for (std::size_t k = 0; k < rest; ++k) tail[k] = data[done + k];
    tail[rest] = 0x80;
    const std::size_t tailBytes = rest + 9 <= 64 ? 64 : 128;
    const std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
    for (int k = 0; k < 8; ++k) tail[tailBytes - 1 - k] = static_cast<std::uint8_t>(bits >> (8 * k));
    for (std::size_t b = 0; b < tailBytes; b += 64) compress(h, tail.data() + b);
    std::string out;
    char hex[9];
    for (const std::uint32_t word : h) {
        std::snprintf(hex, sizeof(hex), "%08x", word);
        out += hex;
    }
    return out;
}

std::string sha256Hex(const Bytes& bytes) { return sha256Hex(bytes.data(), bytes.size()); }

std::uint64_t fnv1a64(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a offset basis
    for (std::size_t k = 0; k < size; ++k) {
        h ^= data[k];
        h *= 0x100000001b3ULL;  // FNV prime
    }
    return h;
}

}  // namespace zphard
