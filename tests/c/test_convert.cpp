// Wire bytes and CSV text of every sample type, through the C interface.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

using wfm_test::Bytes;
using wfm_test::FaultStream;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::nanf("");

// The bytes a writer on a caller's stream hands over for one block.
Bytes written(int file_type, int sample_type, int big_endian, const std::vector<float> &iq,
              float gain = 1.0f) {
    FaultStream fs;
    FILE *f = fs.open();
    WfmWriter *w = wfm_writer_open(f, file_type, sample_type, big_endian, 0, 0, 0, 0);
    EXPECT_NE(w, nullptr);
    if (gain != 1.0f) wfm_writer_set_gain(w, gain);
    EXPECT_EQ(wfm_writer_write(w, iq.data(), iq.size() / 2), iq.size() / 2);
    EXPECT_EQ(wfm_writer_close(w), 0);
    std::fclose(f);
    return fs.data;
}

std::string text(const Bytes &b) { return std::string(b.begin(), b.end()); }

struct PackedCase {
    const char *name;
    int sample_type;
    int big_endian;
    std::vector<float> iq;
    Bytes want;
};

const PackedCase kPacked[] = {
    // ci16: full scale is 32767 both ways; -32768 never occurs.
    {"ci16_le_full_scale", WFM_CI16, 0, {1.0f, -1.0f}, {0xFF, 0x7F, 0x01, 0x80}},
    {"ci16_be_full_scale", WFM_CI16, 1, {1.0f, -1.0f}, {0x7F, 0xFF, 0x80, 0x01}},
    {"ci16_le_clamps_below_minus_one", WFM_CI16, 0, {-1.5f, 0.5f}, {0x01, 0x80, 0xFF, 0x3F}},
    {"ci16_be_clamps_below_minus_one", WFM_CI16, 1, {-1.5f, 0.5f}, {0x80, 0x01, 0x3F, 0xFF}},
    {"ci16_le_truncates_toward_zero", WFM_CI16, 0, {-0.5f, 0.25f}, {0x01, 0xC0, 0xFF, 0x1F}},
    {"ci16_le_nan_is_zero_inf_is_full_scale", WFM_CI16, 0, {kNaN, kInf}, {0x00, 0x00, 0xFF, 0x7F}},
    {"ci16_be_minus_inf_is_minus_full_scale", WFM_CI16, 1, {-kInf, 0.0f}, {0x80, 0x01, 0x00, 0x00}},
    // ci32
    {"ci32_le_full_scale", WFM_CI32, 0, {1.0f, -1.0f},
     {0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80}},
    {"ci32_be_full_scale", WFM_CI32, 1, {1.0f, -1.0f},
     {0x7F, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x01}},
    {"ci32_le_half_truncates", WFM_CI32, 0, {0.5f, -0.5f},
     {0xFF, 0xFF, 0xFF, 0x3F, 0x01, 0x00, 0x00, 0xC0}},
    {"ci32_le_clamps_and_infinities", WFM_CI32, 0, {2.0f, -kInf},
     {0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80}},
    {"ci32_be_nan_and_inf", WFM_CI32, 1, {kNaN, kInf},
     {0x00, 0x00, 0x00, 0x00, 0x7F, 0xFF, 0xFF, 0xFF}},
    // ci8: one byte, so both orders agree.
    {"ci8_le_clamps", WFM_CI8, 0, {1.0f, -2.0f}, {0x7F, 0x81}},
    {"ci8_be_clamps", WFM_CI8, 1, {1.0f, -2.0f}, {0x7F, 0x81}},
    {"ci8_nan_is_zero", WFM_CI8, 0, {kNaN, 0.5f}, {0x00, 0x3F}},
    {"ci8_infinities", WFM_CI8, 1, {kInf, -kInf}, {0x7F, 0x81}},
    // cf32 and cf64: no clamping; non-finite values pass through.
    {"cf32_le_unclamped", WFM_CF32, 0, {0.5f, -2.0f},
     {0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00, 0xC0}},
    {"cf32_be_unclamped", WFM_CF32, 1, {0.5f, -2.0f},
     {0x3F, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00}},
    {"cf32_le_inf_and_nan", WFM_CF32, 0, {kInf, kNaN},
     {0x00, 0x00, 0x80, 0x7F, 0x00, 0x00, 0xC0, 0x7F}},
    {"cf64_le_widens_exactly", WFM_CF64, 0, {1.0f, 0.1f},
     {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,
      0x00, 0x00, 0x00, 0xA0, 0x99, 0x99, 0xB9, 0x3F}},
    {"cf64_be_widens_exactly", WFM_CF64, 1, {1.0f, 0.1f},
     {0x3F, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x3F, 0xB9, 0x99, 0x99, 0xA0, 0x00, 0x00, 0x00}},
    {"cf64_le_unclamped_and_minus_inf", WFM_CF64, 0, {-2.0f, -kInf},
     {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0xFF}},
};

class PackedBytes : public ::testing::TestWithParam<PackedCase> {};

TEST_P(PackedBytes, raw_capture_holds_the_wire_bytes) {
    const PackedCase &c = GetParam();
    Bytes got = written(WFM_RAW, c.sample_type, c.big_endian, c.iq);
    EXPECT_EQ(got.size(), c.want.size());
    EXPECT_EQ(wfm_test::hex(got.data(), got.size()), wfm_test::hex(c.want.data(), c.want.size()));
}

INSTANTIATE_TEST_SUITE_P(WireTypes, PackedBytes, ::testing::ValuesIn(kPacked),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(PackedBytes, sigmf_and_raw_share_the_packed_layout_across_blocks) {
    FaultStream fs;
    FILE *f = fs.open();
    WfmWriter *w = wfm_writer_open(f, WFM_SIGMF, WFM_CI16, 0, 0, 0, 0, 0);
    const float a[] = {1.0f, -1.0f};
    const float b[] = {0.5f, 0.0f, -0.5f, 0.0f};
    EXPECT_EQ(wfm_writer_write(w, a, 1), 1u);
    EXPECT_EQ(wfm_writer_write(w, b, 2), 2u);
    EXPECT_EQ(wfm_writer_write(w, a, 1), 1u);  // smaller block reuses the buffer
    EXPECT_EQ(wfm_writer_close(w), 0);
    std::fclose(f);
    EXPECT_TRUE(wfm_test::expect_bytes(fs.data, 0,
                                       {0xFF, 0x7F, 0x01, 0x80, 0xFF, 0x3F, 0x00, 0x00,
                                        0x01, 0xC0, 0x00, 0x00, 0xFF, 0x7F, 0x01, 0x80}));
    EXPECT_EQ(fs.data.size(), 16u);
}

TEST(PackedBytes, gain_applies_before_quantising) {
    // 0.8 * 0.5 = 0.4 in single precision; 0.4f * 32767 truncates to 13106.
    Bytes got = written(WFM_RAW, WFM_CI16, 0, {0.8f, 0.0f}, 0.5f);
    EXPECT_TRUE(wfm_test::expect_bytes(got, 0, {0x32, 0x33, 0x00, 0x00}));
    // A negative gain flips the sign; floats pass unclamped.
    got = written(WFM_RAW, WFM_CF32, 1, {0.25f, -1.0f}, -4.0f);
    EXPECT_TRUE(wfm_test::expect_bytes(got, 0, {0xBF, 0x80, 0x00, 0x00, 0x40, 0x80, 0x00, 0x00}));
}

struct CsvCase {
    const char *name;
    int sample_type;
    int big_endian;
    std::vector<float> iq;
    const char *want;
};

const CsvCase kCsv[] = {
    {"cf32_nine_decimals", WFM_CF32, 0, {0.5f, -0.25f}, "0.500000000,-0.250000000\n"},
    {"cf32_large_and_signed_zero", WFM_CF32, 0, {1e10f, -0.0f},
     "10000000000.000000000,-0.000000000\n"},
    {"cf32_non_finite", WFM_CF32, 1, {kInf, -kInf}, "inf,-inf\n"},
    {"cf64_seventeen_digits", WFM_CF64, 0, {0.1f, 0.0f}, "0.10000000149011612,0\n"},
    {"cf64_exponent_form", WFM_CF64, 1, {1e30f, -0.3f},
     "1.0000000150474662e+30,-0.30000001192092896\n"},
    {"ci16_quantised_values", WFM_CI16, 0, {0.5f, -1.0f}, "16383,-32767\n"},
    {"ci16_ignores_byte_order", WFM_CI16, 1, {0.5f, -1.0f}, "16383,-32767\n"},
    {"ci32_clamped", WFM_CI32, 0, {1.0f, -2.0f}, "2147483647,-2147483647\n"},
    {"ci8_nan_and_truncation", WFM_CI8, 0, {kNaN, -0.5f}, "0,-63\n"},
    {"ci8_infinities", WFM_CI8, 0, {kInf, -kInf}, "127,-127\n"},
};

class CsvLines : public ::testing::TestWithParam<CsvCase> {};

TEST_P(CsvLines, csv_capture_holds_one_line_per_sample) {
    const CsvCase &c = GetParam();
    EXPECT_EQ(text(written(WFM_CSV, c.sample_type, c.big_endian, c.iq)), c.want);
}

INSTANTIATE_TEST_SUITE_P(WireTypes, CsvLines, ::testing::ValuesIn(kCsv),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(CsvLines, several_samples_give_several_lines) {
    EXPECT_EQ(text(written(WFM_CSV, WFM_CI8, 0, {1.0f, 0.0f, 0.0f, -1.0f, 0.25f, 0.75f})),
              "127,0\n0,-127\n31,95\n");
}

TEST(CsvLines, text_ignores_a_decimal_comma_locale) {
    wfm_test::DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale installed or generated";
    ASSERT_EQ(std::localeconv()->decimal_point[0], ',');
    EXPECT_EQ(text(written(WFM_CSV, WFM_CF32, 0, {0.5f, -0.25f})), "0.500000000,-0.250000000\n");
    EXPECT_EQ(text(written(WFM_CSV, WFM_CF64, 0, {0.1f, 1.5f})), "0.10000000149011612,1.5\n");
}

}  // namespace
