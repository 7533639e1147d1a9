// Block converters of the packed wire forms and the packed path of
// wfm_writer_write.
#include "sample_convert.h"

#include <bit>
#include <cstdlib>

namespace wfm {

namespace {

template <typename Int>
void store_int(uint8_t *p, int32_t v, bool big_endian) {
    if constexpr (sizeof(Int) == 4) {
        store_u32(p, static_cast<uint32_t>(v), big_endian);
    } else if constexpr (sizeof(Int) == 2) {
        store_u16(p, static_cast<uint16_t>(v), big_endian);
    } else {
        p[0] = static_cast<uint8_t>(v);
    }
}

template <typename Int>
void convert_block_int(const float *in, uint64_t n, uint8_t *out, bool big_endian, float gain,
                       bool track, float *peak, uint64_t *clip, double scale) {
    float pk = *peak;
    uint64_t cl = *clip;
    for (uint64_t k = 0; k < n; k++) {
        GainedPair g = gain_and_meter(in + 2 * k, gain, track, pk, cl);
        store_int<Int>(out, quantise(g.i, scale), big_endian);
        store_int<Int>(out + sizeof(Int), quantise(g.q, scale), big_endian);
        out += 2 * sizeof(Int);
    }
    *peak = pk;
    *clip = cl;
}

}  // namespace

void convert_block_cf32_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                               float gain, bool, float *peak, uint64_t *) {
    float pk = *peak;
    uint64_t unused = 0;
    for (uint64_t k = 0; k < n; k++) {
        GainedPair g = gain_and_meter(in + 2 * k, gain, false, pk, unused);
        store_u32(out, std::bit_cast<uint32_t>(g.i), big_endian);
        store_u32(out + 4, std::bit_cast<uint32_t>(g.q), big_endian);
        out += 8;
    }
    *peak = pk;
}

void convert_block_cf64_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                               float gain, bool, float *peak, uint64_t *) {
    float pk = *peak;
    uint64_t unused = 0;
    for (uint64_t k = 0; k < n; k++) {
        GainedPair g = gain_and_meter(in + 2 * k, gain, false, pk, unused);
        store_u64(out, std::bit_cast<uint64_t>(static_cast<double>(g.i)), big_endian);
        store_u64(out + 8, std::bit_cast<uint64_t>(static_cast<double>(g.q)), big_endian);
        out += 16;
    }
    *peak = pk;
}

void convert_block_ci32_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                               float gain, bool track, float *peak, uint64_t *clip) {
    convert_block_int<int32_t>(in, n, out, big_endian, gain, track, peak, clip, SCALE[WFM_CI32]);
}

void convert_block_ci16_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                               float gain, bool track, float *peak, uint64_t *clip) {
    convert_block_int<int16_t>(in, n, out, big_endian, gain, track, peak, clip, SCALE[WFM_CI16]);
}

void convert_block_ci8_scalar(const float *in, uint64_t n, uint8_t *out, bool big_endian,
                              float gain, bool track, float *peak, uint64_t *clip) {
    convert_block_int<int8_t>(in, n, out, big_endian, gain, track, peak, clip, SCALE[WFM_CI8]);
}

}  // namespace wfm

extern "C" uint64_t wfm_writer_write(WfmWriter *w, const float *data, uint64_t count) {
    if (!w || (!data && count > 0)) return 0;
    if (w->file_type == WFM_CSV) return wfm_csv_write(w, data, count);
    if (count == 0) return 0;

    const uint64_t sample_bytes = 2 * wfm::ELEM[w->sample_type];
    // A block whose byte size does not fit 64 bits (or a size_t) is refused.
    if (count > UINT64_MAX / sample_bytes || count * sample_bytes > SIZE_MAX) return 0;
    const uint64_t size = count * sample_bytes;

    if (w->conv_cap < size) {
        void *grown = std::realloc(w->conv_buf, static_cast<size_t>(size));
        if (!grown) return 0;
        w->conv_buf = static_cast<unsigned char *>(grown);
        w->conv_cap = size;
    }

    wfm::convert_table()[w->sample_type](data, count, w->conv_buf, w->big_endian != 0, w->gain,
                                       w->track_clipping != 0, &w->peak, &w->clip_count);

    size_t accepted = std::fwrite(w->conv_buf, 1, static_cast<size_t>(size), w->file);
    uint64_t n = accepted / sample_bytes;
    w->samples_written += n;
    return n;
}
