// Keyed draws: a stateless uniform number from a key built out of the seed
// and the draw's coordinates, so any draw can be reproduced on its own.
#include <cmath>
#include <cstdint>

#include "wfm_writer.h"

namespace {

constexpr double kTwoPowMinus53 = 0x1p-53;
constexpr double kTwoPow64 = 0x1p64;

// The 53-bit integer m of the uniform u = m * 2^-53: one SplitMix64 output
// step whose state is the key.
uint64_t draw_mantissa(uint32_t seed, uint64_t sub, uint64_t rep, uint64_t segment,
                       uint64_t item, uint32_t stream_tag) {
    uint64_t key = static_cast<uint64_t>(seed) * 0xD1B54A32D192ED03ull;
    key ^= rep << 48;
    key ^= segment << 40;
    key ^= sub << 32;
    key ^= item << 16;
    key ^= static_cast<uint64_t>(stream_tag) << 8;
    uint64_t z = key + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return (z ^ (z >> 31)) >> 11;
}

}  // namespace

uint64_t wfm_draw_samples(uint32_t seed, uint64_t sub, uint64_t rep, uint64_t segment,
                          uint32_t stream_tag, uint64_t lo, uint64_t hi) {
    uint64_t m = draw_mantissa(seed, sub, rep, segment, 0, stream_tag);
    double lo_d = static_cast<double>(lo);
    double hi_d = static_cast<double>(hi);
    double b = lo_d + 0.5;
    double step = (hi_d - lo_d) * kTwoPowMinus53;
    double v = std::fma(static_cast<double>(m), step, b);
    uint64_t r;
    if (!(v > 0.0))
        r = 0;
    else if (v >= kTwoPow64)
        r = UINT64_MAX;
    else
        r = static_cast<uint64_t>(v);
    // Bounds above 2^53 are not exact as doubles; keep the result between
    // the integer bounds the caller gave.
    uint64_t low = lo < hi ? lo : hi;
    uint64_t high = lo < hi ? hi : lo;
    return r < low ? low : r > high ? high : r;
}

double wfm_draw_range(uint32_t seed, uint64_t sub, uint64_t rep, uint64_t segment, uint64_t item,
                      uint32_t stream_tag, double lo, double hi) {
    uint64_t m = draw_mantissa(seed, sub, rep, segment, item, stream_tag);
    double step = (hi - lo) * kTwoPowMinus53;
    return std::fma(static_cast<double>(m), step, lo);
}
