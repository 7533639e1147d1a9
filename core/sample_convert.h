// The per-sample step of every capture (gain, meter, quantiser) and the block
// converters of the packed wire forms built on it.
//
// The functions here are the scalar definition of the output.  Vectorised
// converters (convert_sse2.cpp, convert_avx2.cpp, convert_avx512.cpp) sit
// beside them with the signature ConvertBlockFn and produce the same bytes,
// peak and clip count for every input; convert_dispatch.cpp picks one table
// for the running CPU.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "wfm_internal.h"

namespace wfm {

// One sample after gain.
struct GainedPair {
    float i;
    float q;
};

// Gain, peak and clip counter of one sample, in that order.  The peak takes
// |I'| when it is strictly the larger, else |Q'|, and only a strictly larger
// value replaces it: a NaN in I' leaves Q' to be metered, a NaN in Q' meters
// nothing.  Clips are components strictly beyond full scale.
inline GainedPair gain_and_meter(const float *sample, float gain, bool count_clips, float &peak,
                                 uint64_t &clip) {
    GainedPair g{sample[0] * gain, sample[1] * gain};
    float ai = std::fabs(g.i);
    float aq = std::fabs(g.q);
    float m = ai > aq ? ai : aq;
    if (m > peak) peak = m;
    if (count_clips) clip += static_cast<uint64_t>(ai > 1.0f) + static_cast<uint64_t>(aq > 1.0f);
    return g;
}

// Clamp to [-1, 1] in single precision, scale in double precision, truncate
// toward zero.  NaN gives 0; infinities give +-scale.  The clamp keeps the
// product within +-scale, so the conversion is always in range.
inline int32_t quantise(float x, double scale) {
    if (x > 1.0f) {
        x = 1.0f;
    } else if (x < -1.0f) {
        x = -1.0f;
    } else if (!(x == x)) {
        return 0;
    }
    return static_cast<int32_t>(static_cast<double>(x) * scale);
}

// Stores of one component in the capture's byte order, whatever the host's.
template <typename U>
inline void store_ordered(uint8_t *p, U v, bool big_endian) {
    if (big_endian != (std::endian::native == std::endian::big)) {
        if constexpr (sizeof(U) == 8) v = __builtin_bswap64(v);
        else if constexpr (sizeof(U) == 4) v = __builtin_bswap32(v);
        else v = __builtin_bswap16(v);
    }
    std::memcpy(p, &v, sizeof v);
}

inline void store_u16(uint8_t *p, uint16_t v, bool big_endian) { store_ordered(p, v, big_endian); }
inline void store_u32(uint8_t *p, uint32_t v, bool big_endian) { store_ordered(p, v, big_endian); }
inline void store_u64(uint8_t *p, uint64_t v, bool big_endian) { store_ordered(p, v, big_endian); }

// Converts n interleaved (I, Q) samples from in to the packed wire form at
// out (n * 2 * ELEM bytes), updating *peak and, when track is set and the
// type is an integer type, *clip.
using ConvertBlockFn = void (*)(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                                float gain, bool track, float *peak, uint64_t *clip);

void convert_block_cf32_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                               float gain, bool track, float *peak, uint64_t *clip);
void convert_block_cf64_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                               float gain, bool track, float *peak, uint64_t *clip);
void convert_block_ci32_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                               float gain, bool track, float *peak, uint64_t *clip);
void convert_block_ci16_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                               float gain, bool track, float *peak, uint64_t *clip);
void convert_block_ci8_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                              float gain, bool track, float *peak, uint64_t *clip);

// The reference converters, indexed by sample type code.
inline constexpr ConvertBlockFn CONVERT_BLOCK_SCALAR[kNumSampleTypes] = {
    convert_block_cf32_scalar, convert_block_cf64_scalar, convert_block_ci32_scalar,
    convert_block_ci16_scalar, convert_block_ci8_scalar};

#if defined(__x86_64__)
// Vectorised tables; each needs the CPU features its variant names.
extern const ConvertBlockFn CONVERT_BLOCK_SSE2[kNumSampleTypes];
extern const ConvertBlockFn CONVERT_BLOCK_AVX2[kNumSampleTypes];
extern const ConvertBlockFn CONVERT_BLOCK_AVX512[kNumSampleTypes];
#endif

// The converters wfm_writer_write uses: the fastest variant the CPU runs,
// chosen on first use.
const ConvertBlockFn *convert_table();

// Internal, for tests and the benchmark only; no user setting reaches it.
// The variants built for this architecture, the reference "scalar" first,
// with whether this CPU can run them.
struct ConvertVariant {
    const char *name;
    const ConvertBlockFn *table;
    bool supported;
};
int convert_variant_count();
ConvertVariant convert_variant(int index);
// Makes convert_table() answer the named variant; false (and no change) when
// it is unknown or unsupported here.  nullptr restores the CPU's choice.
bool convert_force_variant(const char *name);

}  // namespace wfm

// The text form of wfm_writer_write (csv_text.cpp): one line per sample.
// Returns the lines that reached the stream whole.
uint64_t wfm_csv_write(WfmWriter *w, const float *data, uint64_t count);
