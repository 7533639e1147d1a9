// SSE2 block converters, for x86-64 processors without AVX2: 2 samples per
// step, the rest of a block through the scalar reference.  The steps are
// those of convert_avx2.cpp on 128-bit vectors, with the same argument for
// matching the reference: the reference's own single- and double-precision
// operations lane by lane, maxps/minps operand order chosen for the NaN
// rules of the meter and the clamp, and a peak folded from NaN-free lanes.
#include "sample_convert.h"

#if defined(__x86_64__)

#include <emmintrin.h>

#include "convert_driver.h"

namespace wfm {

namespace {

struct Meter {
    __m128 peak;
    __m128i clips;
};

template <bool Track>
inline __m128 gain_and_meter_v(const float *in, __m128 gain, Meter &m) {
    const __m128 g = _mm_mul_ps(_mm_loadu_ps(in), gain);
    const __m128 a = _mm_and_ps(g, _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF)));
    const __m128 i_lanes = _mm_castsi128_ps(_mm_set_epi32(0, -1, 0, -1));
    const __m128 swapped = _mm_shuffle_ps(a, a, _MM_SHUFFLE(2, 3, 0, 1));
    m.peak = _mm_max_ps(_mm_and_ps(_mm_max_ps(a, swapped), i_lanes), m.peak);
    if constexpr (Track)
        m.clips = _mm_sub_epi32(m.clips, _mm_castps_si128(_mm_cmpgt_ps(a, _mm_set1_ps(1.0f))));
    return g;
}

inline __m128i quantise(__m128 g, double scale) {
    __m128 c = _mm_min_ps(_mm_set1_ps(1.0f), g);
    c = _mm_max_ps(_mm_set1_ps(-1.0f), c);
    c = _mm_and_ps(c, _mm_cmpord_ps(g, g));
    const __m128d s = _mm_set1_pd(scale);
    const __m128i lo = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(c), s));
    const __m128i hi = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(c, c)), s));
    return _mm_unpacklo_epi64(lo, hi);
}

inline __m128i swap16(__m128i v) { return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)); }

inline __m128i swap32(__m128i v) {
    v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)), _MM_SHUFFLE(2, 3, 0, 1));
    return swap16(v);
}

inline __m128i swap64(__m128i v) { return swap32(_mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1))); }

template <int SampleType, bool BigEndian>
inline void store_step(uint8_t *out, __m128 g) {
    auto *o = reinterpret_cast<__m128i *>(out);
    if constexpr (SampleType == WFM_CF32) {
        __m128i v = _mm_castps_si128(g);
        if constexpr (BigEndian) v = swap32(v);
        _mm_storeu_si128(o, v);
    } else if constexpr (SampleType == WFM_CF64) {
        __m128i lo = _mm_castpd_si128(_mm_cvtps_pd(g));
        __m128i hi = _mm_castpd_si128(_mm_cvtps_pd(_mm_movehl_ps(g, g)));
        if constexpr (BigEndian) {
            lo = swap64(lo);
            hi = swap64(hi);
        }
        _mm_storeu_si128(o, lo);
        _mm_storeu_si128(o + 1, hi);
    } else {
        __m128i v = quantise(g, SCALE[SampleType]);
        if constexpr (SampleType == WFM_CI32) {
            if constexpr (BigEndian) v = swap32(v);
            _mm_storeu_si128(o, v);
        } else if constexpr (SampleType == WFM_CI16) {
            // The values lie within +-32767, so the saturating pack is exact.
            v = _mm_packs_epi32(v, v);
            if constexpr (BigEndian) v = swap16(v);
            _mm_storel_epi64(o, v);
        } else {
            v = _mm_packs_epi32(v, v);
            const int four = _mm_cvtsi128_si32(_mm_packs_epi16(v, v));
            __builtin_memcpy(out, &four, 4);
        }
    }
}

// The step functions of this instruction set, for the shared block loop.
struct Sse2 {
    using Vec = __m128;
    using Meter = wfm::Meter;
    static constexpr uint64_t kStep = 2;  // samples
    static Vec splat(float gain) { return _mm_set1_ps(gain); }
    static Meter start(float peak) { return Meter{_mm_set1_ps(peak), _mm_setzero_si128()}; }
    template <bool Track>
    static Vec gain_and_meter(const float *in, Vec gain, Meter &m) {
        return gain_and_meter_v<Track>(in, gain, m);
    }
    template <int SampleType, bool BigEndian>
    static void store(uint8_t *out, Vec g) {
        store_step<SampleType, BigEndian>(out, g);
    }
    static uint64_t take_clips(Meter &m) {
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i *>(lanes), m.clips);
        uint64_t sum = 0;
        for (uint32_t c : lanes) sum += c;
        m.clips = _mm_setzero_si128();
        return sum;
    }
    static float peak(const Meter &m) {
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, m.peak);
        float pk = lanes[0];
        for (float v : lanes)
            if (v > pk) pk = v;
        return pk;
    }
};

}  // namespace

extern const ConvertBlockFn CONVERT_BLOCK_SSE2[kNumSampleTypes] = {
    drive_block<Sse2, WFM_CF32>, drive_block<Sse2, WFM_CF64>, drive_block<Sse2, WFM_CI32>,
    drive_block<Sse2, WFM_CI16>, drive_block<Sse2, WFM_CI8>};

}  // namespace wfm

#endif  // __x86_64__
