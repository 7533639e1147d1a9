// CSV text against the C library's own formatting: "%0.9f" for cf32,
// "%0.17g" for cf64 and "%ld" of the packed values for the integer types,
// byte for byte, in any locale; and the count and meter of a failed write.
#include <algorithm>
#include <bit>
#include <clocale>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

using wfm_test::Bytes;
using wfm_test::FaultStream;

namespace {

Bytes capture(int file_type, int sample_type, const std::vector<float> &iq, float gain = 1.0f) {
    FaultStream fs;
    FILE *f = fs.open();
    WfmWriter *w = wfm_writer_open(f, file_type, sample_type, 0, 0, 0, 0, 0);
    EXPECT_NE(w, nullptr);
    wfm_writer_set_gain(w, gain);
    EXPECT_EQ(wfm_writer_write(w, iq.data(), iq.size() / 2), iq.size() / 2);
    EXPECT_EQ(wfm_writer_close(w), 0);
    std::fclose(f);
    return fs.data;
}

std::string as_text(const Bytes &b) { return std::string(b.begin(), b.end()); }

// Values that stress the formatters: ties at the last printed digit (odd
// multiples of 2^-10 end in a 5 at the tenth decimal; m * 2^-k gives ties
// at the seventeenth significant digit), powers of two, the extremes and
// random bit patterns.
std::vector<float> text_values() {
    std::vector<float> v = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 0.1f, -0.3f, 1e10f, 1e30f, -1e38f,
                            std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                            std::numeric_limits<float>::denorm_min(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::infinity(),
                            std::bit_cast<float>(0x7FC00000u), std::bit_cast<float>(0xFFC00000u),
                            1099511627776.0f, 1.8446744e19f, 1.8446746e19f, 0.0000000005f,
                            -0.0000000015f, 0.9999999995f, 999999.9999f};
    for (int k = 1; k < 4096; k += 2) {
        v.push_back(std::ldexp(static_cast<float>(k), -10));
        v.push_back(-std::ldexp(static_cast<float>(k), -10));
    }
    for (int e = -149; e <= 127; e++) {
        for (int m : {1, 3, 5, 7, 11, 999, 12345, 8388607, 16777215}) {
            float x = std::ldexp(static_cast<float>(m), e);
            if (std::isfinite(x) && x != 0.0f) v.push_back(e % 2 ? x : -x);
        }
    }
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; i++) v.push_back(std::bit_cast<float>(static_cast<uint32_t>(rng())));
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 20000; i++) v.push_back(unit(rng));
    if (v.size() % 2) v.push_back(0.25f);
    return v;
}

std::string printf_lines(const char *format, const std::vector<double> &values) {
    std::string s;
    char line[256];
    for (size_t i = 0; i + 1 < values.size(); i += 2) {
        std::snprintf(line, sizeof line, format, values[i], values[i + 1]);
        s += line;
    }
    return s;
}

std::string printf_lines(const std::vector<long> &values) {
    std::string s;
    char line[64];
    for (size_t i = 0; i + 1 < values.size(); i += 2) {
        std::snprintf(line, sizeof line, "%ld,%ld\n", values[i], values[i + 1]);
        s += line;
    }
    return s;
}

// What printf makes of the values, for each wire type; the integer lines
// hold the numbers of the packed capture of the same block.
std::string expected_text(int sample_type, const std::vector<float> &iq, float gain) {
    if (sample_type == WFM_CF32 || sample_type == WFM_CF64) {
        std::vector<double> d;
        for (float x : iq) d.push_back(static_cast<double>(x * gain));
        return printf_lines(sample_type == WFM_CF32 ? "%0.9f,%0.9f\n" : "%0.17g,%0.17g\n", d);
    }
    Bytes packed = capture(WFM_RAW, sample_type, iq, gain);
    std::vector<long> n;
    for (size_t i = 0; i < iq.size(); i++) {
        if (sample_type == WFM_CI32) {
            int32_t v;
            std::memcpy(&v, packed.data() + 4 * i, 4);
            n.push_back(v);
        } else if (sample_type == WFM_CI16) {
            int16_t v;
            std::memcpy(&v, packed.data() + 2 * i, 2);
            n.push_back(v);
        } else {
            n.push_back(static_cast<int8_t>(packed[i]));
        }
    }
    return printf_lines(n);
}

TEST(CsvText, every_wire_type_matches_printf_byte_for_byte) {
    const std::vector<float> values = text_values();
    for (int st : {WFM_CF32, WFM_CF64, WFM_CI32, WFM_CI16, WFM_CI8}) {
        for (float gain : {1.0f, 0.7f}) {
            const std::string want = expected_text(st, values, gain);
            const std::string got = as_text(capture(WFM_CSV, st, values, gain));
            ASSERT_EQ(got.size(), want.size()) << "type " << st << " gain " << gain;
            for (size_t i = 0; i < want.size(); i++) {
                if (got[i] != want[i]) {
                    const size_t from = want.rfind('\n', i) == std::string::npos ? 0 : want.rfind('\n', i) + 1;
                    FAIL() << "type " << st << " gain " << gain << ": got \""
                           << got.substr(from, want.find('\n', i) - from) << "\", want \""
                           << want.substr(from, want.find('\n', i) - from) << "\"";
                }
            }
        }
    }
}

TEST(CsvText, text_is_the_same_under_a_decimal_comma_locale) {
    const std::vector<float> values = text_values();
    std::vector<std::string> in_c;
    for (int st : {WFM_CF32, WFM_CF64, WFM_CI16}) in_c.push_back(expected_text(st, values, 1.0f));
    wfm_test::DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale installed or generated";
    size_t i = 0;
    for (int st : {WFM_CF32, WFM_CF64, WFM_CI16})
        EXPECT_TRUE(as_text(capture(WFM_CSV, st, values, 1.0f)) == in_c[i++]) << "type " << st;
}

// A stream that takes only limit bytes: the count is the lines that landed
// whole, and the meter covers those and the line that failed, wherever the
// limit falls.
TEST(CsvText, failed_write_counts_whole_lines_and_meters_the_failed_one) {
    const size_t samples = 5000;  // several batches of text
    std::vector<float> iq(2 * samples);
    for (size_t i = 0; i < samples; i++) {
        iq[2 * i] = static_cast<float>(i + 1) / 4096.0f;  // grows: the peak names the sample
        iq[2 * i + 1] = -0.5f;
    }
    const std::string text = expected_text(WFM_CI16, iq, 1.0f);
    std::vector<size_t> line_end;
    for (size_t i = 0; i < text.size(); i++)
        if (text[i] == '\n') line_end.push_back(i + 1);

    for (size_t limit : {size_t{0}, size_t{5}, line_end[0], line_end[2999], line_end[2999] + 3,
                         text.size() / 2, text.size() - 1}) {
        FaultStream fs;
        fs.accept_limit = limit;
        FILE *f = fs.open();
        std::setvbuf(f, nullptr, _IONBF, 0);
        WfmWriter *w = wfm_writer_open(f, WFM_CSV, WFM_CI16, 0, 0, 0, 0, 0);
        wfm_writer_track_clipping(w, 1);
        const uint64_t n = wfm_writer_write(w, iq.data(), samples);
        size_t whole = 0;
        while (whole < line_end.size() && line_end[whole] <= limit) whole++;
        const size_t metered = whole + 1;  // the failed line's sample too
        EXPECT_EQ(n, whole) << "limit " << limit;
        EXPECT_EQ(wfm_writer_peak(w), std::max(0.5, static_cast<double>(iq[2 * (metered - 1)])))
            << "limit " << limit;
        const size_t over = metered > 4096 ? metered - 4096 : 0;  // I beyond 1.0
        EXPECT_DOUBLE_EQ(wfm_writer_get_clip_fraction(w),
                         whole ? static_cast<double>(over) / (2.0 * whole) : 0.0)
            << "limit " << limit;
        EXPECT_EQ(wfm_writer_close(w), -1);
        std::fclose(f);
        EXPECT_EQ(as_text(fs.data), text.substr(0, limit));
    }
}

}  // namespace
