// AVX-512 (F, BW, DQ, VL) block converters: 8 samples per step, the rest of
// a block through the scalar reference.
//
// Same results as the reference, step by step:
// - Gain: one single-precision product per component, as in the reference.
// - Peak: in the I lane of each sample, max(|I'|, |Q'|) is |I'| > |Q'| ?
//   |I'| : |Q'| (vmaxps returns its second operand unless the first is
//   strictly greater, NaN included), and the running maximum is kept per I
//   lane with the same rule, so a NaN never enters it.  The lanes hold no
//   NaN and the maximum of non-NaN values does not depend on order, so
//   folding the lanes gives the reference's peak.
// - Clamp: vrangeps(x, 1.0) with "smaller magnitude, sign of x" is x for
//   |x| <= 1 and +-1 beyond, infinities included; NaN lanes are zeroed by
//   the mask of ordered lanes.  That is the reference's clamp.
// - ci32: widening, the double product with the scale and truncation are
//   the reference's own operations, lane by lane.
// - ci16, ci8: for a clamped float c the reference's double product c * SCALE
//   is exact (24 + 15 significant bits fit in 53), so it truncates the real
//   product.  Here the product is formed in single precision rounded toward
//   zero: the result r lies between the real product and zero, and every
//   integer up to 2^24 is a float, so r never passes the integer the real
//   product truncates to, and truncating r gives that same integer.
#include "sample_convert.h"

#if defined(__x86_64__)

// GCC 12 reports its own _mm512_undefined_* placeholders in these
// intrinsics as maybe-uninitialised; the lanes in question are all written.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512dq,avx512vl")

#include "convert_driver.h"

namespace wfm {

namespace {

constexpr __mmask16 kILanes = 0x5555;
// vrangeps control: minimum of the magnitudes, sign of the first operand.
constexpr int kRangeMinAbsSignOfFirst = 0x02;
struct Meter {
    __m512 peak;
    __m512i clips;
};

// Gains 8 samples and meters them.
template <bool Track>
inline __m512 gain_and_meter_v(const float *in, __m512 gain, Meter &m) {
    const __m512 g = _mm512_mul_ps(_mm512_loadu_ps(in), gain);
    const __m512 a = _mm512_abs_ps(g);
    const __m512 larger = _mm512_max_ps(a, _mm512_permute_ps(a, 0xB1));
    m.peak = _mm512_mask_max_ps(m.peak, kILanes, larger, m.peak);
    if constexpr (Track) {
        const __mmask16 over = _mm512_cmp_ps_mask(a, _mm512_set1_ps(1.0f), _CMP_GT_OQ);
        m.clips = _mm512_mask_sub_epi32(m.clips, over, m.clips, _mm512_set1_epi32(-1));
    }
    return g;
}

inline __m512 clamp_unit(__m512 g) {
    const __mmask16 ordered = _mm512_cmp_ps_mask(g, g, _CMP_ORD_Q);
    return _mm512_maskz_range_ps(ordered, g, _mm512_set1_ps(1.0f), kRangeMinAbsSignOfFirst);
}

// Truncated c * scale for the 16-bit and 8-bit types (see the file comment).
inline __m512i quantise_small(__m512 g, float scale) {
    const __m512 r = _mm512_mul_round_ps(clamp_unit(g), _mm512_set1_ps(scale),
                                         _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    return _mm512_cvttps_epi32(r);
}

// Byte reversal of each 2-, 4- or 8-byte element within 16-byte lanes.
template <int Size>
inline __m512i swap_control() {
    if constexpr (Size == 2)
        return _mm512_broadcast_i32x4(_mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
    else if constexpr (Size == 4)
        return _mm512_broadcast_i32x4(_mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
    else
        return _mm512_broadcast_i32x4(_mm_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8));
}

template <int SampleType, bool BigEndian>
inline void store_step(uint8_t *out, __m512 g) {
    if constexpr (SampleType == WFM_CF32) {
        __m512i v = _mm512_castps_si512(g);
        if constexpr (BigEndian) v = _mm512_shuffle_epi8(v, swap_control<4>());
        _mm512_storeu_si512(out, v);
    } else if constexpr (SampleType == WFM_CF64) {
        __m512i lo = _mm512_castpd_si512(_mm512_cvtps_pd(_mm512_castps512_ps256(g)));
        __m512i hi = _mm512_castpd_si512(_mm512_cvtps_pd(_mm512_extractf32x8_ps(g, 1)));
        if constexpr (BigEndian) {
            lo = _mm512_shuffle_epi8(lo, swap_control<8>());
            hi = _mm512_shuffle_epi8(hi, swap_control<8>());
        }
        _mm512_storeu_si512(out, lo);
        _mm512_storeu_si512(out + 64, hi);
    } else if constexpr (SampleType == WFM_CI32) {
        const __m512 c = clamp_unit(g);
        const __m512d scale = _mm512_set1_pd(SCALE[WFM_CI32]);
        const __m512d lo = _mm512_mul_pd(_mm512_cvtps_pd(_mm512_castps512_ps256(c)), scale);
        const __m512d hi = _mm512_mul_pd(_mm512_cvtps_pd(_mm512_extractf32x8_ps(c, 1)), scale);
        __m512i v = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvttpd_epi32(lo)),
                                       _mm512_cvttpd_epi32(hi), 1);
        if constexpr (BigEndian) v = _mm512_shuffle_epi8(v, swap_control<4>());
        _mm512_storeu_si512(out, v);
    } else if constexpr (SampleType == WFM_CI16) {
        __m256i v = _mm512_cvtepi32_epi16(quantise_small(g, 32767.0f));
        if constexpr (BigEndian)
            v = _mm256_shuffle_epi8(v, _mm512_castsi512_si256(swap_control<2>()));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), v);
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                         _mm512_cvtepi32_epi8(quantise_small(g, 127.0f)));
    }
}

// The step functions of this instruction set, for the shared block loop.
struct Avx512 {
    using Vec = __m512;
    using Meter = wfm::Meter;
    static constexpr uint64_t kStep = 8;  // samples
    static Vec splat(float gain) { return _mm512_set1_ps(gain); }
    static Meter start(float peak) { return Meter{_mm512_set1_ps(peak), _mm512_setzero_si512()}; }
    template <bool Track>
    static Vec gain_and_meter(const float *in, Vec gain, Meter &m) {
        return gain_and_meter_v<Track>(in, gain, m);
    }
    template <int SampleType, bool BigEndian>
    static void store(uint8_t *out, Vec g) {
        store_step<SampleType, BigEndian>(out, g);
    }
    static uint64_t take_clips(Meter &m) {
        const uint64_t sum = static_cast<uint64_t>(_mm512_reduce_add_epi64(_mm512_add_epi64(
            _mm512_cvtepu32_epi64(_mm512_castsi512_si256(m.clips)),
            _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(m.clips, 1)))));
        m.clips = _mm512_setzero_si512();
        return sum;
    }
    static float peak(const Meter &m) {
        return _mm512_reduce_max_ps(m.peak);
    }
};

}  // namespace

extern const ConvertBlockFn CONVERT_BLOCK_AVX512[kNumSampleTypes] = {
    drive_block<Avx512, WFM_CF32>, drive_block<Avx512, WFM_CF64>, drive_block<Avx512, WFM_CI32>,
    drive_block<Avx512, WFM_CI16>, drive_block<Avx512, WFM_CI8>};

}  // namespace wfm

#pragma GCC pop_options
#pragma GCC diagnostic pop

#endif  // __x86_64__
