// Laying plans out into spans: the example plan, the count-then-fill
// protocol, repetitions, signal-less segments and drawn quantities.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "wfm_writer.h"

namespace {

wfm_signal make_signal(uint32_t seed) {
    wfm_signal s{};
    s.kind = 4;
    s.freq_offset = 100000;
    s.snr = 10;
    s.snr_mode = 2;
    s.seed = seed;
    s.sps = 8;
    return s;
}

// Segment 0: one qpsk signal with seed 42, length drawn in [1000, 2000],
// gap 100, twice.  Segment 1: no signals, 500 samples, lead drawn in [50, 60].
struct ExamplePlan {
    wfm_signal signal = make_signal(42);
    wfm_segment segments[2] = {};
    ExamplePlan() {
        wfm_segment &a = segments[0];
        a.signals = &signal;
        a.num_signals = 1;
        a.fs = 2.4e6;
        a.num_samples = 1000;
        a.num_samples_max = 2000;
        a.gap = 100;
        a.flags = WFM_RANDOM_NUM_SAMPLES;
        a.repeat = 2;
        wfm_segment &b = segments[1];
        b.fs = 2.4e6;
        b.num_samples = 500;
        b.lead = 50;
        b.lead_max = 60;
        b.flags = WFM_RANDOM_LEAD;
    }
};

void expect_span(const wfm_span &s, const wfm_span &want) {
    EXPECT_EQ(s.segment, want.segment);
    EXPECT_EQ(s.rep, want.rep);
    EXPECT_EQ(s.start, want.start);
    EXPECT_EQ(s.lead, want.lead);
    EXPECT_EQ(s.length, want.length);
    EXPECT_EQ(s.gap, want.gap);
}

const wfm_span kExampleSpans[3] = {
    {0, 0, 0, 0, 1691, 100},
    {0, 1, 1791, 0, 1848, 100},
    {1, 0, 3739, 51, 500, 0},
};

// A record no composer would write, to see what was left alone.
constexpr wfm_span kUntouched = {~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull};

TEST(ComposeSpans, lays_out_the_example_plan) {
    ExamplePlan plan;
    EXPECT_EQ(wfm_compose_spans(plan.segments, 2, nullptr, 0), 3u);
    wfm_span spans[3];
    ASSERT_EQ(wfm_compose_spans(plan.segments, 2, spans, 3), 3u);
    for (int k = 0; k < 3; k++) {
        SCOPED_TRACE(k);
        expect_span(spans[k], kExampleSpans[k]);
    }
}

TEST(ComposeSpans, short_capacity_writes_only_the_first_spans_and_still_counts_all) {
    ExamplePlan plan;
    for (uint64_t capacity : {0u, 1u, 2u}) {
        SCOPED_TRACE(capacity);
        wfm_span spans[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
        EXPECT_EQ(wfm_compose_spans(plan.segments, 2, spans, capacity), 3u);
        for (uint64_t k = 0; k < capacity; k++) expect_span(spans[k], kExampleSpans[k]);
        for (uint64_t k = capacity; k < 4; k++) expect_span(spans[k], kUntouched);
    }
}

TEST(ComposeSpans, empty_plan_gives_no_spans_and_writes_nothing) {
    wfm_span span = kUntouched;
    EXPECT_EQ(wfm_compose_spans(nullptr, 0, &span, 1), 0u);
    ExamplePlan plan;
    EXPECT_EQ(wfm_compose_spans(plan.segments, 0, &span, 1), 0u);
    expect_span(span, kUntouched);
}

TEST(ComposeSpans, repeat_zero_and_one_give_one_span_and_three_gives_three_draws) {
    wfm_signal sig = make_signal(42);
    struct Case {
        uint64_t repeat, spans;
    };
    for (Case c : {Case{0, 1}, Case{1, 1}, Case{3, 3}}) {
        SCOPED_TRACE(c.repeat);
        wfm_segment seg{};
        seg.signals = &sig;
        seg.num_signals = 1;
        seg.num_samples = 1000;
        seg.num_samples_max = 2000;
        seg.flags = WFM_RANDOM_NUM_SAMPLES;
        seg.repeat = c.repeat;
        std::vector<wfm_span> spans(4, kUntouched);
        ASSERT_EQ(wfm_compose_spans(&seg, 1, spans.data(), spans.size()), c.spans);
        uint64_t start = 0;
        for (uint64_t r = 0; r < c.spans; r++) {
            EXPECT_EQ(spans[r].rep, r);
            EXPECT_EQ(spans[r].start, start);
            EXPECT_EQ(spans[r].length, wfm_draw_samples(42, 0, r, 0, 0x10, 1000, 2000));
            start += spans[r].length;
        }
        expect_span(spans[c.spans], kUntouched);
    }
    // The seed-42 draws for repetitions 0, 1 and 2 differ.
    EXPECT_EQ(wfm_draw_samples(42, 0, 0, 0, 0x10, 1000, 2000), 1691u);
    EXPECT_EQ(wfm_draw_samples(42, 0, 1, 0, 0x10, 1000, 2000), 1848u);
    EXPECT_NE(wfm_draw_samples(42, 0, 2, 0, 0x10, 1000, 2000), 1691u);
    EXPECT_NE(wfm_draw_samples(42, 0, 2, 0, 0x10, 1000, 2000), 1848u);
}

// Each quantity draws with its own flag bit as the stream tag, the segment's
// index and the first signal's seed (1 without signals).
TEST(ComposeSpans, draws_are_keyed_by_flag_segment_rep_and_first_signal_seed) {
    wfm_signal sigs[2] = {make_signal(77), make_signal(5)};
    wfm_segment segs[3] = {};
    for (wfm_segment &s : segs) {
        s.num_samples = 10;
        s.num_samples_max = 900;
        s.gap = 20;
        s.gap_max = 800;
        s.lead = 30;
        s.lead_max = 700;
        s.flags = WFM_RANDOM_NUM_SAMPLES | WFM_RANDOM_GAP | WFM_RANDOM_LEAD;
        s.repeat = 2;
    }
    segs[1].signals = sigs;
    segs[1].num_signals = 2;
    wfm_span spans[6];
    ASSERT_EQ(wfm_compose_spans(segs, 3, spans, 6), 6u);
    uint64_t start = 0;
    for (uint64_t k = 0; k < 6; k++) {
        SCOPED_TRACE(k);
        uint64_t i = k / 2, r = k % 2;
        uint32_t seed = i == 1 ? 77 : 1;
        expect_span(spans[k], {i, r, start, wfm_draw_samples(seed, 0, r, i, 0x40, 30, 700),
                               wfm_draw_samples(seed, 0, r, i, 0x10, 10, 900),
                               wfm_draw_samples(seed, 0, r, i, 0x20, 20, 800)});
        start += spans[k].lead + spans[k].length + spans[k].gap;
    }
}

TEST(ComposeSpans, flags_clear_use_the_fixed_values_and_ignore_the_bounds) {
    wfm_segment seg{};
    seg.num_samples = 7;
    seg.num_samples_max = 99;
    seg.gap = 3;
    seg.gap_max = 99;
    seg.lead = 2;
    seg.lead_max = 99;
    seg.flags = 0x0F;  // bits the composer does not read
    seg.repeat = 2;
    wfm_span spans[2];
    ASSERT_EQ(wfm_compose_spans(&seg, 1, spans, 2), 2u);
    expect_span(spans[0], {0, 0, 0, 2, 7, 3});
    expect_span(spans[1], {0, 1, 12, 2, 7, 3});
}

TEST(ComposeSpans, equal_bounds_give_the_value_and_inverted_bounds_stay_between) {
    wfm_segment seg{};
    seg.num_samples = 500;
    seg.num_samples_max = 500;
    seg.gap = 900;
    seg.gap_max = 100;
    seg.flags = WFM_RANDOM_NUM_SAMPLES | WFM_RANDOM_GAP;
    seg.repeat = 50;
    std::vector<wfm_span> spans(50);
    ASSERT_EQ(wfm_compose_spans(&seg, 1, spans.data(), spans.size()), 50u);
    for (const wfm_span &s : spans) {
        EXPECT_EQ(s.length, 500u);
        EXPECT_GE(s.gap, 100u);
        EXPECT_LE(s.gap, 900u);
    }
}

// Counting needs no walk over the repetitions, and a total past 2^64 - 1
// stays at 2^64 - 1 instead of wrapping to a small count.
TEST(ComposeSpans, huge_repeat_counts_are_counted_without_wrapping) {
    wfm_segment segs[2] = {};
    segs[0].repeat = UINT64_MAX;
    segs[1].repeat = 2;
    EXPECT_EQ(wfm_compose_spans(segs, 1, nullptr, 0), UINT64_MAX);
    EXPECT_EQ(wfm_compose_spans(segs, 2, nullptr, 0), UINT64_MAX);
    wfm_span spans[2];
    EXPECT_EQ(wfm_compose_spans(segs, 2, spans, 2), UINT64_MAX);
    EXPECT_EQ(spans[1].rep, 1u);
    segs[0].repeat = uint64_t{1} << 63;
    segs[1].repeat = uint64_t{1} << 62;
    EXPECT_EQ(wfm_compose_spans(segs, 2, nullptr, 0), (uint64_t{3} << 62));
}

}  // namespace
