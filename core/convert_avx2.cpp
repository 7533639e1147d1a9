// AVX2 block converters: 4 samples per step, the rest of a block through the
// scalar reference.
//
// Same results as the reference, step by step:
// - Gain: one single-precision product per component, as in the reference.
// - Peak: in the I lane of each sample, max(|I'|, |Q'|) is |I'| > |Q'| ?
//   |I'| : |Q'| (vmaxps returns its second operand unless the first is
//   strictly greater, NaN included); the Q lanes are zeroed and the running
//   maximum follows the same rule, so a NaN never enters it.  The maximum of
//   non-NaN values does not depend on order, so folding the lanes gives the
//   reference's peak.
// - Clamp: min(1, x) then max(-1, x) keep a NaN (both return the second
//   operand for it), which the mask of ordered lanes then zeroes.
// - Integer types: widening, the double product with the scale and
//   truncation are the reference's own operations, lane by lane.
#include "sample_convert.h"

#if defined(__x86_64__)

#include <immintrin.h>

#pragma GCC push_options
#pragma GCC target("avx2")

#include "convert_driver.h"

namespace wfm {

namespace {

struct Meter {
    __m256 peak;
    __m256i clips;
};

template <bool Track>
inline __m256 gain_and_meter_v(const float *in, __m256 gain, Meter &m) {
    const __m256 g = _mm256_mul_ps(_mm256_loadu_ps(in), gain);
    const __m256 a = _mm256_and_ps(g, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
    const __m256 i_lanes = _mm256_castsi256_ps(_mm256_set1_epi64x(0xFFFFFFFF));
    const __m256 larger = _mm256_and_ps(_mm256_max_ps(a, _mm256_permute_ps(a, 0xB1)), i_lanes);
    m.peak = _mm256_max_ps(larger, m.peak);
    if constexpr (Track) {
        const __m256 over = _mm256_cmp_ps(a, _mm256_set1_ps(1.0f), _CMP_GT_OQ);
        m.clips = _mm256_sub_epi32(m.clips, _mm256_castps_si256(over));
    }
    return g;
}

inline __m256 clamp_unit(__m256 g) {
    __m256 c = _mm256_min_ps(_mm256_set1_ps(1.0f), g);
    c = _mm256_max_ps(_mm256_set1_ps(-1.0f), c);
    return _mm256_and_ps(c, _mm256_cmp_ps(g, g, _CMP_ORD_Q));
}

// Truncated products of the 8 clamped components with the scale: the low
// four in lo, the high four in hi.
inline void quantise(__m256 g, double scale, __m128i &lo, __m128i &hi) {
    const __m256 c = clamp_unit(g);
    const __m256d s = _mm256_set1_pd(scale);
    lo = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(c)), s));
    hi = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(c, 1)), s));
}

template <int Size>
inline __m128i swap_control() {
    if constexpr (Size == 2)
        return _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    else if constexpr (Size == 4)
        return _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    else
        return _mm_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
}

template <int Size>
inline __m256i swap_control256() {
    return _mm256_broadcastsi128_si256(swap_control<Size>());
}

template <int SampleType, bool BigEndian>
inline void store_step(uint8_t *out, __m256 g) {
    if constexpr (SampleType == WFM_CF32) {
        __m256i v = _mm256_castps_si256(g);
        if constexpr (BigEndian) v = _mm256_shuffle_epi8(v, swap_control256<4>());
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), v);
    } else if constexpr (SampleType == WFM_CF64) {
        __m256i lo = _mm256_castpd_si256(_mm256_cvtps_pd(_mm256_castps256_ps128(g)));
        __m256i hi = _mm256_castpd_si256(_mm256_cvtps_pd(_mm256_extractf128_ps(g, 1)));
        if constexpr (BigEndian) {
            lo = _mm256_shuffle_epi8(lo, swap_control256<8>());
            hi = _mm256_shuffle_epi8(hi, swap_control256<8>());
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 32), hi);
    } else {
        __m128i lo, hi;
        quantise(g, SCALE[SampleType], lo, hi);
        if constexpr (SampleType == WFM_CI32) {
            __m256i v = _mm256_set_m128i(hi, lo);
            if constexpr (BigEndian) v = _mm256_shuffle_epi8(v, swap_control256<4>());
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), v);
        } else if constexpr (SampleType == WFM_CI16) {
            // The values lie within +-32767, so the saturating pack is exact.
            __m128i v = _mm_packs_epi32(lo, hi);
            if constexpr (BigEndian) v = _mm_shuffle_epi8(v, swap_control<2>());
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v);
        } else {
            const __m128i w = _mm_packs_epi32(lo, hi);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packs_epi16(w, w));
        }
    }
}

// The step functions of this instruction set, for the shared block loop.
struct Avx2 {
    using Vec = __m256;
    using Meter = wfm::Meter;
    static constexpr uint64_t kStep = 4;  // samples
    static Vec splat(float gain) { return _mm256_set1_ps(gain); }
    static Meter start(float peak) { return Meter{_mm256_set1_ps(peak), _mm256_setzero_si256()}; }
    template <bool Track>
    static Vec gain_and_meter(const float *in, Vec gain, Meter &m) {
        return gain_and_meter_v<Track>(in, gain, m);
    }
    template <int SampleType, bool BigEndian>
    static void store(uint8_t *out, Vec g) {
        store_step<SampleType, BigEndian>(out, g);
    }
    static uint64_t take_clips(Meter &m) {
        alignas(32) uint32_t lanes[8];
        _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), m.clips);
        uint64_t sum = 0;
        for (uint32_t c : lanes) sum += c;
        m.clips = _mm256_setzero_si256();
        return sum;
    }
    static float peak(const Meter &m) {
        alignas(32) float lanes[8];
        _mm256_store_ps(lanes, m.peak);
        float pk = lanes[0];
        for (float v : lanes)
            if (v > pk) pk = v;
        return pk;
    }
};

}  // namespace

extern const ConvertBlockFn CONVERT_BLOCK_AVX2[kNumSampleTypes] = {
    drive_block<Avx2, WFM_CF32>, drive_block<Avx2, WFM_CF64>, drive_block<Avx2, WFM_CI32>,
    drive_block<Avx2, WFM_CI16>, drive_block<Avx2, WFM_CI8>};

}  // namespace wfm

#pragma GCC pop_options

#endif  // __x86_64__
