// The level meter, the clip counter and their accessors; refused blocks.
#include <cmath>
#include <limits>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

using wfm_test::FaultStream;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kNegInf = -std::numeric_limits<double>::infinity();

// A writer on a memory stream, closed at scope exit.
struct MemWriter {
    FaultStream fs;
    FILE *f = nullptr;
    WfmWriter *w = nullptr;
    MemWriter(int file_type, int sample_type) {
        f = fs.open();
        w = wfm_writer_open(f, file_type, sample_type, 0, 0, 0, 0, 0);
    }
    uint64_t write(const std::vector<float> &iq) { return wfm_writer_write(w, iq.data(), iq.size() / 2); }
    ~MemWriter() {
        wfm_writer_close(w);
        std::fclose(f);
    }
};

TEST(Meter, fresh_writer_reports_nothing_seen) {
    for (int ft : {WFM_RAW, WFM_CSV}) {
        MemWriter m(ft, WFM_CI16);
        EXPECT_EQ(wfm_writer_get_peak_dbfs(m.w), kNegInf);
        EXPECT_EQ(wfm_writer_peak(m.w), 0.0);
        EXPECT_EQ(wfm_writer_get_clip_fraction(m.w), 0.0);
        EXPECT_EQ(wfm_writer_clip_fraction(m.w), 0.0);
        EXPECT_EQ(wfm_writer_get_clipped(m.w), 0);
    }
}

TEST(Meter, null_record_gives_neutral_values) {
    EXPECT_EQ(wfm_writer_get_peak_dbfs(nullptr), kNegInf);
    EXPECT_EQ(wfm_writer_peak(nullptr), 0.0);
    EXPECT_EQ(wfm_writer_get_clip_fraction(nullptr), 0.0);
    EXPECT_EQ(wfm_writer_clip_fraction(nullptr), 0.0);
    EXPECT_EQ(wfm_writer_get_clipped(nullptr), 0);
    const float s[] = {0.5f, 0.5f};
    EXPECT_EQ(wfm_writer_write(nullptr, s, 1), 0u);
}

TEST(Meter, peak_is_taken_before_clamping_and_clipped_only_for_integer_types) {
    for (int ft : {WFM_RAW, WFM_CSV}) {
        MemWriter i16(ft, WFM_CI16);
        i16.write({0.5f, -2.0f});
        EXPECT_EQ(wfm_writer_peak(i16.w), 2.0);
        EXPECT_DOUBLE_EQ(wfm_writer_get_peak_dbfs(i16.w), 6.020599913279624);
        EXPECT_EQ(wfm_writer_get_clipped(i16.w), 1);

        MemWriter f32(ft, WFM_CF32);
        f32.write({0.5f, -2.0f});
        EXPECT_EQ(wfm_writer_peak(f32.w), 2.0);
        EXPECT_EQ(wfm_writer_get_clipped(f32.w), 0);
    }
}

TEST(Meter, peak_of_exactly_full_scale_is_zero_dbfs_and_not_clipped) {
    MemWriter m(WFM_RAW, WFM_CI8);
    m.write({-1.0f, 1.0f});
    EXPECT_EQ(wfm_writer_get_peak_dbfs(m.w), 0.0);
    EXPECT_EQ(wfm_writer_get_clipped(m.w), 0);
}

TEST(Meter, peak_follows_the_gain) {
    MemWriter m(WFM_RAW, WFM_CI16);
    wfm_writer_set_gain(m.w, 0.5);
    m.write({0.8f, 0.0f});
    EXPECT_EQ(wfm_writer_peak(m.w), static_cast<double>(0.4f));
}

TEST(Meter, nan_in_i_meters_q_and_nan_in_q_meters_nothing) {
    for (int ft : {WFM_RAW, WFM_CSV}) {
        MemWriter m(ft, WFM_CI16);
        m.write({kNaN, 0.5f});
        EXPECT_EQ(wfm_writer_peak(m.w), 0.5);
        m.write({0.75f, kNaN});
        EXPECT_EQ(wfm_writer_peak(m.w), 0.5);
        m.write({kNaN, kNaN, 0.25f, -0.625f});
        EXPECT_EQ(wfm_writer_peak(m.w), 0.625);
    }
}

TEST(Meter, peak_only_grows) {
    MemWriter m(WFM_RAW, WFM_CF32);
    m.write({0.0f, -0.9f, 0.3f, 0.1f});
    m.write({0.2f, 0.2f});
    EXPECT_EQ(wfm_writer_peak(m.w), static_cast<double>(0.9f));
}

TEST(ClipCounter, counts_components_strictly_beyond_full_scale) {
    for (int ft : {WFM_RAW, WFM_CSV}) {
        MemWriter m(ft, WFM_CI16);
        wfm_writer_track_clipping(m.w, 1);
        // Three of eight components beyond +-1; the exact +-1.0 ones are not.
        m.write({1.5f, 0.0f, -1.2f, 1.0f, 0.3f, 2.0f, 1.0f, -1.0f});
        EXPECT_EQ(wfm_writer_get_clip_fraction(m.w), 0.375);
        EXPECT_EQ(wfm_writer_clip_fraction(m.w), 0.375);
    }
}

TEST(ClipCounter, is_off_by_default_and_counts_only_while_on) {
    MemWriter m(WFM_RAW, WFM_CI8);
    m.write({2.0f, 2.0f, 2.0f, 2.0f});
    EXPECT_EQ(wfm_writer_get_clip_fraction(m.w), 0.0);
    wfm_writer_track_clipping(m.w, 7);
    m.write({2.0f, 0.0f, 0.0f, 0.0f});
    // One clip over all eight components written, counted or not.
    EXPECT_EQ(wfm_writer_get_clip_fraction(m.w), 0.125);
    wfm_writer_track_clipping(m.w, 0);
    m.write({2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f, 2.0f});
    EXPECT_EQ(wfm_writer_get_clip_fraction(m.w), 1.0 / 16.0);
}

TEST(ClipCounter, float_types_never_count) {
    for (int st : {WFM_CF32, WFM_CF64}) {
        MemWriter m(WFM_RAW, st);
        wfm_writer_track_clipping(m.w, 1);
        m.write({2.0f, -3.0f});
        EXPECT_EQ(wfm_writer_get_clip_fraction(m.w), 0.0);
    }
}

TEST(WriteBlock, empty_or_null_blocks_change_nothing) {
    MemWriter m(WFM_RAW, WFM_CI16);
    const float s[] = {0.5f, 0.5f};
    EXPECT_EQ(wfm_writer_write(m.w, s, 0), 0u);
    EXPECT_EQ(wfm_writer_write(m.w, nullptr, 0), 0u);
    EXPECT_EQ(wfm_writer_write(m.w, nullptr, 5), 0u);
    EXPECT_EQ(wfm_writer_flush(m.w), 0);
    EXPECT_TRUE(m.fs.data.empty());
    EXPECT_EQ(wfm_writer_peak(m.w), 0.0);

    MemWriter c(WFM_CSV, WFM_CF32);
    EXPECT_EQ(wfm_writer_write(c.w, nullptr, 5), 0u);
    EXPECT_EQ(wfm_writer_write(c.w, nullptr, 0), 0u);
    EXPECT_EQ(wfm_writer_flush(c.w), 0);
    EXPECT_TRUE(c.fs.data.empty());
}

TEST(WriteBlock, block_too_large_to_size_is_refused_without_reading_it) {
    // One sample of real data: a converter that ran would read past it.
    const float s[] = {0.5f, 0.5f};
    struct Case {
        int sample_type;
        uint64_t count;
    } cases[] = {
        {WFM_CF64, UINT64_MAX / 16 + 1},
        {WFM_CI8, UINT64_MAX},
        {WFM_CI16, (UINT64_MAX >> 2) + 1},
    };
    for (const Case &c : cases) {
        MemWriter m(WFM_RAW, c.sample_type);
        wfm_writer_track_clipping(m.w, 1);
        EXPECT_EQ(wfm_writer_write(m.w, s, c.count), 0u);
        EXPECT_EQ(wfm_writer_peak(m.w), 0.0);
        EXPECT_EQ(wfm_writer_flush(m.w), 0);
        EXPECT_TRUE(m.fs.data.empty());
        EXPECT_EQ(wfm_writer_write(m.w, s, 1), 1u);
    }
}

TEST(WriteBlock, failed_buffer_growth_keeps_the_writer_usable) {
    MemWriter m(WFM_RAW, WFM_CI16);
    const float s[] = {1.0f, -1.0f};
    EXPECT_EQ(wfm_writer_write(m.w, s, 1), 1u);
    // 2^60 bytes: the size fits 64 bits but no allocator grants it.
    EXPECT_EQ(wfm_writer_write(m.w, s, uint64_t{1} << 58), 0u);
    EXPECT_EQ(wfm_writer_write(m.w, s, 1), 1u);
    EXPECT_EQ(wfm_writer_close(m.w), 0);
    m.w = nullptr;
    EXPECT_TRUE(wfm_test::expect_bytes(m.fs.data, 0, {0xFF, 0x7F, 0x01, 0x80, 0xFF, 0x7F, 0x01, 0x80}));
    EXPECT_EQ(m.fs.data.size(), 8u);
}

}  // namespace
