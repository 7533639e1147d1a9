// Lays a segment plan out on the sample axis, one span per repetition.
#include <cstdint>

#include "wfm_writer.h"

namespace {

// Stays at UINT64_MAX instead of wrapping, so a count that does not fit is
// never mistaken for a small one.
uint64_t add_saturating(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

uint64_t draw_or_fixed(const wfm_segment &seg, uint32_t bit, uint32_t seed, uint64_t rep,
                       uint64_t index, uint64_t value, uint64_t value_max) {
    if (!(seg.flags & bit)) return value;
    return wfm_draw_samples(seed, 0, rep, index, bit, value, value_max);
}

}  // namespace

uint64_t wfm_compose_spans(const wfm_segment *segments, uint64_t num_segments, wfm_span *out,
                           uint64_t capacity) {
    if (num_segments == 0 || !segments) return 0;
    if (!out) capacity = 0;
    uint64_t start = 0, count = 0;
    for (uint64_t i = 0; i < num_segments; i++) {
        const wfm_segment &seg = segments[i];
        uint64_t reps = seg.repeat == 0 ? 1 : seg.repeat;
        uint32_t seed = seg.num_signals != 0 && seg.signals ? seg.signals[0].seed : 1;
        // Only the spans that are written need their lengths: past capacity
        // the remaining segments just add to the count.
        for (uint64_t r = 0; r < reps && count < capacity && r < capacity - count; r++) {
            uint64_t length = draw_or_fixed(seg, WFM_RANDOM_NUM_SAMPLES, seed, r, i,
                                            seg.num_samples, seg.num_samples_max);
            uint64_t gap = draw_or_fixed(seg, WFM_RANDOM_GAP, seed, r, i, seg.gap, seg.gap_max);
            uint64_t lead = draw_or_fixed(seg, WFM_RANDOM_LEAD, seed, r, i, seg.lead, seg.lead_max);
            out[count + r] = wfm_span{i, r, start, lead, length, gap};
            start += lead + length + gap;
        }
        count = add_saturating(count, reps);
    }
    return count;
}
