// The text form of a capture: one line "I,Q\n" per sample.  Numbers are
// formatted with std::to_chars, which never consults the C locale.
#include <charconv>

#include "sample_convert.h"

namespace {

// Longest component: "-" + 39 integer digits of FLT_MAX + "." + 9 digits.
constexpr size_t kFieldMax = 64;
constexpr size_t kLineMax = 2 * kFieldMax + 2;

// One component of the line, in the text of the wire type: "%0.9f" for
// cf32, "%0.17g" for cf64, the quantised integer otherwise.
char *format_component(char *first, float x, int32_t sample_type) {
    char *last = first + kFieldMax;
    std::to_chars_result r;
    switch (sample_type) {
        case WFM_CF32:
            r = std::to_chars(first, last, static_cast<double>(x), std::chars_format::fixed, 9);
            break;
        case WFM_CF64:
            r = std::to_chars(first, last, static_cast<double>(x), std::chars_format::general, 17);
            break;
        default:
            r = std::to_chars(first, last,
                              static_cast<int64_t>(wfm::quantise(x, wfm::SCALE[sample_type])));
            break;
    }
    return r.ec == std::errc() ? r.ptr : nullptr;
}

}  // namespace

uint64_t wfm_csv_write(WfmWriter *w, const float *data, uint64_t count) {
    const float gain = w->gain;
    const bool count_clips = w->track_clipping != 0 && wfm::is_integer_type(w->sample_type);
    char line[kLineMax];
    uint64_t n = 0;
    for (; n < count; n++) {
        wfm::GainedPair g = wfm::gain_and_meter(data + 2 * n, gain, count_clips, w->peak,
                                                w->clip_count);
        char *p = format_component(line, g.i, w->sample_type);
        if (!p) break;
        *p++ = ',';
        p = format_component(p, g.q, w->sample_type);
        if (!p) break;
        *p++ = '\n';
        size_t len = static_cast<size_t>(p - line);
        if (std::fwrite(line, 1, len, w->file) != len) break;
    }
    w->samples_written += n;
    return n;
}
