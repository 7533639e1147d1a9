// The 512-byte header block and the detached header file.
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

using wfm_test::Bytes;
using wfm_test::expect_bytes;
using wfm_test::FaultStream;

namespace {

struct Args {
    unsigned sample_type = WFM_CF32;
    int big_endian = 0;
    uint64_t total = 1024;
    int detached = 0;
    double fs = 2.4e6;
    double fc = 1.2e9;
    double data_start = 512.0;
    double t0 = 0.0;
};

// The block as written to a memory stream; empty when the call failed.
Bytes hcb(const Args &a) {
    FaultStream fs;
    FILE *f = fs.open();
    int rc = wfm_blue_write_hcb(f, a.sample_type, a.big_endian, a.total, a.detached, a.fs, a.fc,
                                a.data_start, a.t0);
    std::fclose(f);
    return rc == 0 ? fs.data : Bytes{};
}

// 512 zero bytes with the given fields laid over them.
Bytes block(const std::vector<std::pair<size_t, Bytes>> &fields) {
    Bytes b(512, 0);
    for (const auto &[off, bytes] : fields) std::copy(bytes.begin(), bytes.end(), b.begin() + off);
    return b;
}

Bytes text(const std::string &s) { return Bytes(s.begin(), s.end()); }

// The keyword text field with its NUL.
Bytes keyword(const std::string &s) {
    Bytes b = text(s);
    b.push_back(0);
    return b;
}

}  // namespace

TEST(BlueHeader, little_endian_block_matches_every_field) {
    const Bytes want = block({
        {0, text("BLUEEEEIEEEI")},
        {32, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x40}},  // data_start 512
        {40, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc0, 0x40}},  // data_size 8192
        {48, {0xe8, 0x03, 0x00, 0x00}},                          // type 1000
        {52, text("CF")},
        {160, {0x10, 0x00, 0x00, 0x00}},
        {164, keyword("FREQ=1200000000")},
        {264, {0x96, 0x36, 0x2f, 0x61, 0x47, 0xf6, 0x9b, 0x3e}},  // 1 / 2.4e6
        {272, {0x01, 0x00, 0x00, 0x00}},
    });
    EXPECT_EQ(hcb(Args{}), want);
}

TEST(BlueHeader, big_endian_block_reverses_every_number) {
    Args a;
    a.big_endian = 1;
    const Bytes want = block({
        {0, text("BLUEIEEEIEEE")},
        {32, {0x40, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {40, {0x40, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {48, {0x00, 0x00, 0x03, 0xe8}},
        {52, text("CF")},
        {160, {0x00, 0x00, 0x00, 0x10}},
        {164, keyword("FREQ=1200000000")},
        {264, {0x3e, 0x9b, 0xf6, 0x47, 0x61, 0x2f, 0x36, 0x96}},
        {272, {0x00, 0x00, 0x00, 0x01}},
    });
    EXPECT_EQ(hcb(a), want);
    a.big_endian = 7;  // any non-zero flag
    EXPECT_EQ(hcb(a), want);
}

TEST(BlueHeader, unset_values_leave_their_fields_zero) {
    Args a;
    a.fc = 0;
    a.fs = 0;
    a.t0 = 0;
    a.total = 0;
    Bytes b = hcb(a);
    ASSERT_EQ(b.size(), 512u);
    EXPECT_TRUE(expect_bytes(b, 40, {0, 0, 0, 0, 0, 0, 0, 0}));  // data_size
    EXPECT_TRUE(expect_bytes(b, 56, {0, 0, 0, 0, 0, 0, 0, 0}));  // timecode, not J1950 of 1970
    EXPECT_EQ(Bytes(b.begin() + 160, b.begin() + 256), Bytes(96, 0));  // keylength, keywords
    EXPECT_TRUE(expect_bytes(b, 264, {0, 0, 0, 0, 0, 0, 0, 0}));  // xdelta
    EXPECT_TRUE(expect_bytes(b, 272, {1, 0, 0, 0}));
}

TEST(BlueHeader, start_time_becomes_j1950_seconds) {
    Args a;
    a.t0 = 1700000000.0;
    EXPECT_TRUE(expect_bytes(hcb(a), 56, {0x00, 0x00, 0x00, 0xd0, 0x51, 0x5e, 0xe1, 0x41}));
    a.big_endian = 1;
    EXPECT_TRUE(expect_bytes(hcb(a), 56, {0x41, 0xe1, 0x5e, 0x51, 0xd0, 0x00, 0x00, 0x00}));
}

TEST(BlueHeader, format_code_and_data_size_follow_the_sample_type) {
    const struct {
        unsigned type;
        const char *format;
        Bytes data_size;  // total 100
    } rows[] = {
        {WFM_CF32, "CF", {0, 0, 0, 0, 0, 0, 0x89, 0x40}},  // 800
        {WFM_CF64, "CD", {0, 0, 0, 0, 0, 0, 0x99, 0x40}},  // 1600
        {WFM_CI32, "CL", {0, 0, 0, 0, 0, 0, 0x89, 0x40}},  // 800
        {WFM_CI16, "CI", {0, 0, 0, 0, 0, 0, 0x79, 0x40}},  // 400
        {WFM_CI8, "CB", {0, 0, 0, 0, 0, 0, 0x69, 0x40}},   // 200
    };
    for (const auto &r : rows) {
        Args a;
        a.sample_type = r.type;
        a.total = 100;
        Bytes b = hcb(a);
        ASSERT_EQ(b.size(), 512u) << r.format;
        EXPECT_EQ(std::string(b.begin() + 52, b.begin() + 54), r.format);
        EXPECT_EQ(Bytes(b.begin() + 40, b.begin() + 48), r.data_size) << r.format;
    }
}

TEST(BlueHeader, huge_total_gives_the_true_size_rather_than_a_wrapped_one) {
    Args a;
    a.total = UINT64_MAX;  // 2^64 samples of 8 bytes: 2^67
    EXPECT_TRUE(expect_bytes(hcb(a), 40, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x44}));
}

TEST(BlueHeader, detached_flag_and_data_start_are_taken_as_given) {
    Args a;
    a.detached = 7;
    a.data_start = 0.0;
    Bytes b = hcb(a);
    EXPECT_TRUE(expect_bytes(b, 12, {1, 0, 0, 0}));
    EXPECT_TRUE(expect_bytes(b, 32, {0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(BlueHeader, centre_frequency_text_is_seventeen_significant_digits) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double fc;
        const char *text;
    } rows[] = {
        {1.2e9, "FREQ=1200000000"},
        {-1.5, "FREQ=-1.5"},
        {0.1, "FREQ=0.10000000000000001"},
        {1e-5, "FREQ=1.0000000000000001e-05"},
        {1e300, "FREQ=1.0000000000000001e+300"},
        {-2.2250738585072014e-308, "FREQ=-2.2250738585072014e-308"},
        {inf, "FREQ=inf"},
        {std::numeric_limits<double>::quiet_NaN(), "FREQ=nan"},
    };
    for (const auto &r : rows) {
        Args a;
        a.fc = r.fc;
        Bytes b = hcb(a);
        const std::string want = r.text;
        const uint8_t n = static_cast<uint8_t>(want.size() + 1);
        EXPECT_TRUE(expect_bytes(b, 160, {n, 0, 0, 0})) << want;
        Bytes kw(b.begin() + 164, b.begin() + 256);
        Bytes expected = keyword(want);
        expected.resize(92, 0);
        EXPECT_EQ(kw, expected) << want;
    }
}

TEST(BlueHeader, centre_frequency_text_ignores_a_decimal_comma_locale) {
    Bytes b;
    {
        wfm_test::DecimalCommaLocale comma;
        if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma available";
        Args a;
        a.fc = 0.1;
        b = hcb(a);
    }
    EXPECT_TRUE(expect_bytes(b, 164, {'F', 'R', 'E', 'Q', '=', '0', '.', '1'}));
}

TEST(BlueHeader, refused_stream_or_type_writes_nothing) {
    EXPECT_EQ(wfm_blue_write_hcb(nullptr, 0, 0, 1, 0, 1.0, 1.0, 512.0, 0.0), -1);
    FaultStream fs;
    FILE *f = fs.open();
    EXPECT_EQ(wfm_blue_write_hcb(f, 5, 0, 1, 0, 1.0, 1.0, 512.0, 0.0), -1);
    EXPECT_EQ(wfm_blue_write_hcb(f, static_cast<unsigned>(-1), 0, 1, 0, 1.0, 1.0, 512.0, 0.0), -1);
    std::fclose(f);
    EXPECT_TRUE(fs.data.empty());
}

TEST(BlueHeader, short_write_is_a_failure) {
    FaultStream fs;
    fs.accept_limit = 511;
    FILE *f = fs.open();
    setvbuf(f, nullptr, _IONBF, 0);
    EXPECT_EQ(wfm_blue_write_hcb(f, 0, 0, 1, 0, 1.0, 1.0, 512.0, 0.0), -1);
    std::fclose(f);
}

TEST(DetachedHeader, file_holds_exactly_one_block) {
    wfm_test::TempDir dir;
    const std::string path = dir.file("cap.hdr");
    ASSERT_EQ(write_blue_header(path.c_str(), WFM_CI16, 1, 1000, 1, 1e6, 0.0, 0.0, 0.0), 0);
    Bytes b = wfm_test::read_file(path);
    const Bytes want = block({
        {0, text("BLUEIEEEIEEE")},
        {12, {0x00, 0x00, 0x00, 0x01}},
        {40, {0x40, 0xaf, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00}},  // 4000
        {48, {0x00, 0x00, 0x03, 0xe8}},
        {52, text("CI")},
        {264, {0x3e, 0xb0, 0xc6, 0xf7, 0xa0, 0xb5, 0xed, 0x8d}},  // 1e-6
        {272, {0x00, 0x00, 0x00, 0x01}},
    });
    EXPECT_EQ(b, want);
}

TEST(DetachedHeader, refused_type_creates_or_truncates_no_file) {
    wfm_test::TempDir dir;
    const std::string fresh = dir.file("new.hdr");
    EXPECT_EQ(write_blue_header(fresh.c_str(), 5, 0, 1, 1, 1.0, 0.0, 0.0, 0.0), -1);
    EXPECT_FALSE(wfm_test::file_exists(fresh));

    const std::string old = dir.file("old.hdr");
    {
        std::FILE *f = std::fopen(old.c_str(), "wb");
        std::fputs("keep me", f);
        std::fclose(f);
    }
    EXPECT_EQ(write_blue_header(old.c_str(), 5, 0, 1, 1, 1.0, 0.0, 0.0, 0.0), -1);
    EXPECT_EQ(wfm_test::read_text(old), "keep me");
}

TEST(DetachedHeader, unopenable_path_fails) {
    wfm_test::TempDir dir;
    EXPECT_EQ(write_blue_header(dir.file("no/such/dir.hdr").c_str(), 0, 0, 1, 1, 1.0, 0.0, 0.0, 0.0), -1);
    EXPECT_EQ(write_blue_header(nullptr, 0, 0, 1, 1, 1.0, 0.0, 0.0, 0.0), -1);
}
