// The metadata document text, byte for byte.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char kGlobalTail[] =
    "\"core:version\":\"1.0.0\",\"core:description\":\"kestrix synvox\","
    "\"core:author\":\"kestrix synvox\"}";

// The document as a string; "<null>" when none was made.
std::string meta(int32_t sample_type, int32_t big_endian, double fs, double fc, double t0,
                 const wfm_segment *segments = nullptr, uint64_t num_segments = 0) {
    char *text = wfm_sigmf_meta_json(sample_type, big_endian, segments, num_segments, fs, fc, t0);
    if (!text) return "<null>";
    std::string s(text);
    std::free(text);
    return s;
}

// The document with only a datatype and optional capture members.
std::string plain(const std::string &datatype, const std::string &capture_tail = "") {
    return "{\"global\":{\"core:datatype\":\"" + datatype + "\"," + kGlobalTail +
           ",\"captures\":[{\"core:sample_start\":0" + capture_tail + "}],\"annotations\":[]}";
}

TEST(MetaJson, sidecar_example) {
    EXPECT_EQ(meta(WFM_CI16, 0, 2.4e6, 1.2e9, 1700000000.25),
              "{\"global\":{\"core:datatype\":\"ci16_le\",\"core:sample_rate\":2400000,"
              "\"core:version\":\"1.0.0\",\"core:description\":\"kestrix synvox\","
              "\"core:author\":\"kestrix synvox\"},\"captures\":[{\"core:sample_start\":0,"
              "\"core:datetime\":\"2023-11-14T22:13:20.250000Z\","
              "\"core:frequency\":1200000000}],\"annotations\":[]}");
}

TEST(MetaJson, all_zero_ci8_document) {
    EXPECT_EQ(meta(WFM_CI8, 0, 0, 0, 0),
              "{\"global\":{\"core:datatype\":\"ci8\",\"core:version\":\"1.0.0\","
              "\"core:description\":\"kestrix synvox\",\"core:author\":\"kestrix synvox\"},"
              "\"captures\":[{\"core:sample_start\":0}],\"annotations\":[]}");
}

TEST(MetaJson, datatype_names_type_and_byte_order) {
    const struct {
        int32_t sample_type, big_endian;
        const char *want;
    } cases[] = {
        {WFM_CF32, 0, "cf32_le"}, {WFM_CF32, 1, "cf32_be"}, {WFM_CF64, 0, "cf64_le"},
        {WFM_CF64, -3, "cf64_be"}, {WFM_CI32, 0, "ci32_le"}, {WFM_CI32, 1, "ci32_be"},
        {WFM_CI16, 2, "ci16_be"}, {WFM_CI8, 1, "ci8"},
    };
    for (const auto &c : cases) EXPECT_EQ(meta(c.sample_type, c.big_endian, 0, 0, 0), plain(c.want));
}

TEST(MetaJson, sample_type_outside_the_table_gives_null) {
    for (int32_t st : {-1, 5, 1000}) EXPECT_EQ(meta(st, 0, 1e6, 0, 0), "<null>");
}

TEST(MetaJson, numbers_print_as_integers_within_and_beyond_32_bits) {
    EXPECT_EQ(meta(WFM_CI8, 0, 0, 2.4e9, 0), plain("ci8", ",\"core:frequency\":2400000000"));
    EXPECT_EQ(meta(WFM_CI8, 0, 0, -1.5e6, 0), plain("ci8", ",\"core:frequency\":-1500000"));
    EXPECT_EQ(meta(WFM_CI8, 0, 0, 433.92e6 + 0.5, 0), plain("ci8", ",\"core:frequency\":433920000.5"));
}

TEST(MetaJson, datetime_truncates_and_is_left_out_when_not_expressible) {
    const struct {
        double t0;
        const char *want;  // nullptr: no datetime member
    } cases[] = {
        {1700000000.25, "2023-11-14T22:13:20.250000Z"},
        {1700000000.1, "2023-11-14T22:13:20.099999Z"},
        {-0.5, "1969-12-31T23:59:59.500000Z"},
        {1.0, "1970-01-01T00:00:01.000000Z"},
        {253402300799.0, "9999-12-31T23:59:59.000000Z"},
        {-1e-17, nullptr},  // the fraction rounds up to a whole second
        {kNaN, nullptr},
        {kInf, nullptr},
        {-kInf, nullptr},
        {1e16, nullptr},   // a nine-digit year overflows the date text
        {1e17, nullptr},   // the year does not fit broken-down time
        {1e19, nullptr},   // beyond a signed 64-bit time
        {-1e19, nullptr},
        {0.0, nullptr},
    };
    for (const auto &c : cases) {
        std::string tail = c.want ? std::string(",\"core:datetime\":\"") + c.want + "\"" : "";
        EXPECT_EQ(meta(WFM_CI8, 0, 0, 0, c.t0), plain("ci8", tail)) << c.t0;
    }
}

TEST(MetaJson, sample_rate_comes_from_fs_or_one_shared_segment_rate) {
    std::vector<wfm_segment> same(3), mixed(3);
    for (auto &s : same) s.fs = 2.4e6;
    for (auto &s : mixed) s.fs = 2.4e6;
    mixed[2].fs = 1e6;
    auto global = [](const std::string &doc) { return doc.substr(0, doc.find("\"captures\"")); };
    const std::string with_rate = "{\"global\":{\"core:datatype\":\"ci16_le\","
                                  "\"core:sample_rate\":2400000," + std::string(kGlobalTail) + ",";
    const std::string without = "{\"global\":{\"core:datatype\":\"ci16_le\"," +
                                std::string(kGlobalTail) + ",";
    EXPECT_EQ(global(meta(WFM_CI16, 0, 0, 0, 0, same.data(), 3)), with_rate);
    EXPECT_EQ(global(meta(WFM_CI16, 0, 0, 0, 0, mixed.data(), 3)), without);
    EXPECT_EQ(global(meta(WFM_CI16, 0, 2.4e6, 0, 0, mixed.data(), 3)), with_rate);
    EXPECT_EQ(global(meta(WFM_CI16, 0, 0, 0, 0, nullptr, 3)), without);
    EXPECT_EQ(global(meta(WFM_CI16, 0, 0, 0, 0, same.data(), 0)), without);
}

TEST(MetaJson, numbers_ignore_a_decimal_comma_locale) {
    wfm_test::DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale installed or generated";
    EXPECT_EQ(meta(WFM_CI8, 0, 0, 433.92e6 + 0.5, 0), plain("ci8", ",\"core:frequency\":433920000.5"));
}

}  // namespace
