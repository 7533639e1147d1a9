// Keyed draws: the worked values, the key layout, the fused final step and
// the bounds, including bounds that doubles cannot hold exactly.
#include <gtest/gtest.h>

#include <cstdint>

#include "wfm_writer.h"

namespace {

TEST(KeyedDraw, reproduces_the_worked_values) {
    EXPECT_EQ(wfm_draw_samples(1, 0, 0, 0, 0x10, 1000, 2000), 1303u);
    EXPECT_EQ(wfm_draw_range(1, 0, 0, 0, 0, 0x10, 0.0, 1.0), 0.3030721297717507);
    EXPECT_EQ(wfm_draw_range(1, 0, 0, 0, 0, 0x10, -5.0, 5.0), -1.9692787022824931);
    EXPECT_EQ(wfm_draw_samples(42, 0, 0, 0, 0x10, 1000, 2000), 1691u);
    EXPECT_EQ(wfm_draw_samples(42, 0, 1, 0, 0x10, 1000, 2000), 1848u);
}

// lo + m * step with one rounding; a separate multiply and add gives
// 1.4160562662468195 for this draw.
TEST(KeyedDraw, range_uses_a_single_rounding) {
    EXPECT_EQ(wfm_draw_range(10, 0, 0, 0, 0, 0x10, -5.0, 5.0), 1.416056266246819);
}

// Fields that land on the same key bits give the same draw, and bits past
// bit 63 drop out; this pins each field's position relative to the others.
TEST(KeyedDraw, key_fields_combine_at_their_bit_positions) {
    struct Coords {
        uint64_t sub, rep, segment, item;
        uint32_t tag;
    };
    struct Case {
        const char *what;
        Coords a, b;
    };
    const Case cases[] = {
        {"item bit 16 is tag bit 8", {0, 0, 0, 1, 0}, {0, 0, 0, 0, 0x100}},
        {"sub bit 32 is item bit 16", {1, 0, 0, 0, 0}, {0, 0, 0, 0x10000, 0}},
        {"segment bit 40 is sub bit 32", {0, 0, 1, 0, 0}, {0x100, 0, 0, 0, 0}},
        {"rep bit 48 is segment bit 40", {0, 1, 0, 0, 0}, {0, 0, 0x100, 0, 0}},
        {"rep keeps its low 16 bits", {0, 0x10001, 0, 0, 0x10}, {0, 1, 0, 0, 0x10}},
        {"segment keeps its low 24 bits", {0, 0, 0x1000002, 0, 0}, {0, 0, 2, 0, 0}},
        {"overlapping fields cancel", {0x100, 0, 1, 0, 0}, {0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        double a = wfm_draw_range(7, c.a.sub, c.a.rep, c.a.segment, c.a.item, c.a.tag, 0.0, 1.0);
        double b = wfm_draw_range(7, c.b.sub, c.b.rep, c.b.segment, c.b.item, c.b.tag, 0.0, 1.0);
        EXPECT_EQ(a, b);
    }
}

TEST(KeyedDraw, range_with_item_zero_shares_the_samples_uniform) {
    for (uint32_t seed : {1u, 42u, 0xFFFFFFFFu}) {
        double u = wfm_draw_range(seed, 3, 2, 5, 0, 0x20, 0.0, 1.0);
        // u = m * 2^-53 exactly; bounds 0 and 2^52 make the samples draw
        // m * 0.5 + 0.5 without rounding, so it truncates to (m + 1) / 2.
        uint64_t m = static_cast<uint64_t>(u * 0x1p53);
        EXPECT_EQ(wfm_draw_samples(seed, 3, 2, 5, 0x20, 0, uint64_t{1} << 52), (m + 1) / 2)
            << seed;
    }
}

TEST(KeyedDraw, equal_bounds_give_that_value) {
    const uint64_t values[] = {0, 7, (uint64_t{1} << 53) + 1, UINT64_MAX - 1, UINT64_MAX};
    for (uint64_t v : values)
        for (uint64_t rep = 0; rep < 4; rep++)
            EXPECT_EQ(wfm_draw_samples(3, 0, rep, 0, 0x10, v, v), v) << v;
}

TEST(KeyedDraw, results_stay_between_the_bounds_in_either_order) {
    struct Case {
        uint64_t lo, hi;
    };
    const Case cases[] = {
        {10, 20},
        {20, 10},
        {0, UINT64_MAX},
        {UINT64_MAX, 0},
        {UINT64_MAX - 1000, UINT64_MAX},
        {(uint64_t{1} << 53) + 1, (uint64_t{1} << 53) + 3},
    };
    for (const Case &c : cases) {
        uint64_t low = c.lo < c.hi ? c.lo : c.hi, high = c.lo < c.hi ? c.hi : c.lo;
        for (uint64_t rep = 0; rep < 2000; rep++) {
            uint64_t v = wfm_draw_samples(9, 0, rep, 0, 0x10, c.lo, c.hi);
            ASSERT_GE(v, low) << c.lo << ".." << c.hi << " rep " << rep;
            ASSERT_LE(v, high) << c.lo << ".." << c.hi << " rep " << rep;
        }
    }
}

// Rounding to the nearest integer: the two bounds each get half a bin.
TEST(KeyedDraw, bounds_come_up_half_as_often_as_inner_values) {
    uint64_t hits[3] = {0, 0, 0};
    const uint64_t n = 20000;
    for (uint64_t rep = 0; rep < n; rep++) {
        uint64_t v = wfm_draw_samples(5, rep >> 16, rep, 0, 0x10, 0, 2);
        ASSERT_LE(v, 2u);
        hits[v]++;
    }
    EXPECT_NEAR(static_cast<double>(hits[0]) / n, 0.25, 0.02);
    EXPECT_NEAR(static_cast<double>(hits[1]) / n, 0.50, 0.02);
    EXPECT_NEAR(static_cast<double>(hits[2]) / n, 0.25, 0.02);
}

}  // namespace
