// Filing keywords in a blue capture: main-header text or extended record.
#include <cstdio>
#include <cstring>
#include <string>

#include "test_support.h"
#include "wfm_internal.h"
#include "wfm_writer.h"

using wfm_test::Bytes;
using wfm_test::expect_bytes;
using wfm_test::FaultStream;

namespace {

// An open blue capture on a memory stream.
struct Capture {
    FaultStream stream;
    FILE *file = nullptr;
    WfmWriter *w = nullptr;

    explicit Capture(double fc, int file_type = WFM_BLUE, int big_endian = 0) {
        file = stream.open();
        w = wfm_writer_open(file, file_type, WFM_CI16, big_endian, 0, 1e6, fc, 0.0);
    }
    ~Capture() {
        wfm_writer_close(w);
        std::fclose(file);
    }
    std::string main_text() const { return std::string(w->main_kw, w->main_kw_len); }
    Bytes ext() const { return Bytes(w->ext_buf, w->ext_buf + w->ext_len); }
};

}  // namespace

TEST(Keywords, open_files_a_centre_frequency_in_both_stores) {
    Capture c(1.2e9);
    ASSERT_NE(c.w, nullptr);
    EXPECT_EQ(c.main_text(), std::string("FREQ=1200000000\0", 16));
    EXPECT_EQ(c.w->ext_len, 24u);
    EXPECT_EQ(c.w->ext_cap, 256u);
    EXPECT_TRUE(expect_bytes(c.ext(), 0, {0x18, 0x00, 0x00, 0x00, 0x10, 0x00, 0x04, 0x44}));

    Capture none(0.0);
    EXPECT_EQ(none.w->main_kw_len, 0u);
    EXPECT_EQ(none.w->ext_len, 0u);
    EXPECT_EQ(none.w->ext_buf, nullptr);
}

TEST(Keywords, main_header_takes_an_entry_that_ends_exactly_at_92_bytes) {
    Capture c(1.2e9);
    const std::string v67(67, 'c');
    ASSERT_EQ(wfm_writer_add_keyword(c.w, "CREATOR", 'A', v67.data(), 67), 0);
    EXPECT_EQ(c.w->main_kw_len, 92u);
    EXPECT_EQ(c.main_text(), std::string("FREQ=1200000000\0CREATOR=", 24) + v67 + '\0');
    EXPECT_EQ(c.w->ext_len, 24u);
    // Full: the next main-header keyword becomes an extended record.
    ASSERT_EQ(wfm_writer_add_keyword(c.w, "VER", 'A', "1", 1), 0);
    EXPECT_EQ(c.w->main_kw_len, 92u);
    EXPECT_EQ(c.w->ext_len, 40u);
    EXPECT_TRUE(expect_bytes(c.ext(), 24, {0x10, 0x00, 0x00, 0x00, 0x0f, 0x00, 0x03, 'A',
                                           '1', 'V', 'E', 'R', 0x00, 0x00, 0x00, 0x00}));
}

TEST(Keywords, main_header_entry_one_byte_too_long_becomes_an_extended_record) {
    Capture c(1.2e9);
    const std::string v68(68, 'c');
    ASSERT_EQ(wfm_writer_add_keyword(c.w, "CREATOR", 'A', v68.data(), 68), 0);
    EXPECT_EQ(c.w->main_kw_len, 16u);
    ASSERT_EQ(c.w->ext_len, 24u + 88u);
    EXPECT_TRUE(expect_bytes(c.ext(), 24, {0x58, 0x00, 0x00, 0x00, 0x14, 0x00, 0x07, 'A'}));
}

TEST(Keywords, routing_follows_the_tag_list_and_the_type) {
    const struct {
        const char *tag;
        int type;
        bool main;
    } rows[] = {
        {"VER", 'A', true},          {"CREATOR", 'A', true},  {"IO", 'A', true},
        {"PACKET", 'A', true},       {"PKT_BYTE_COUNT", 'A', true}, {"TC_PREC", 'A', true},
        {"TC_PREC", 'B', false},     {"VER", 'B', false},     {"ver", 'A', false},
        {"FREQ", 'A', false},        {"COMMENT", 'A', false}, {"VERSION", 'A', false},
    };
    for (const auto &r : rows) {
        Capture c(0.0);
        ASSERT_EQ(wfm_writer_add_keyword(c.w, r.tag, r.type, "1", 1), 0) << r.tag;
        if (r.main) {
            EXPECT_EQ(c.main_text(), std::string(r.tag) + "=1" + '\0') << r.tag;
            EXPECT_EQ(c.w->ext_len, 0u) << r.tag;
        } else {
            EXPECT_EQ(c.w->main_kw_len, 0u) << r.tag;
            ASSERT_GE(c.w->ext_len, 16u) << r.tag;
            EXPECT_EQ(c.w->ext_buf[7], r.type) << r.tag;
        }
    }
}

TEST(Keywords, main_header_value_is_copied_unchanged) {
    Capture c(0.0);
    ASSERT_EQ(wfm_writer_add_keyword(c.w, "IO", 'A', "a=\0b", 4), 0);
    EXPECT_EQ(c.main_text(), std::string("IO=a=\0b\0", 8));
}

TEST(Keywords, extended_records_follow_the_capture_byte_order) {
    Capture c(0.0, WFM_BLUE, 1);
    const int32_t tc[] = {1, -2};
    ASSERT_EQ(wfm_writer_add_keyword(c.w, "TC_PREC", 'L', tc, 2), 0);
    EXPECT_EQ(c.ext(), (Bytes{0x00, 0x00, 0x00, 0x18, 0x00, 0x10, 0x07, 0x4c, 0x00, 0x00, 0x00, 0x01,
                              0xff, 0xff, 0xff, 0xfe, 'T', 'C', '_', 'P', 'R', 'E', 'C', 0x00}));
}

TEST(Keywords, refused_keywords_store_nothing) {
    const std::string tag256(256, 't');
    const double d = 1.0;
    const struct {
        const char *what;
        const char *tag;
        int type;
        const void *value;
        uint64_t count;
    } rows[] = {
        {"type Q", "GAIN", 'Q', &d, 1},
        {"lower-case type", "GAIN", 'a', "x", 1},
        {"count 0", "GAIN", 'A', "x", 0},
        {"null tag", nullptr, 'A', "x", 1},
        {"null value", "GAIN", 'A', nullptr, 1},
        {"empty tag", "", 'A', "x", 1},
        {"256-byte tag", tag256.c_str(), 'A', "x", 1},
        {"value of 2^31 bytes", "GAIN", 'B', &d, uint64_t{1} << 31},
        {"record of 2^31 bytes", "GAIN", 'D', &d, (uint64_t{1} << 28) - 1},
        {"value bytes wrap to 0", "GAIN", 'D', &d, uint64_t{1} << 61},
        {"main tag with a huge count", "VER", 'A', "x", UINT64_MAX - 1},
    };
    for (const auto &r : rows) {
        Capture c(1.2e9);
        EXPECT_EQ(wfm_writer_add_keyword(c.w, r.tag, r.type, r.value, r.count), -1) << r.what;
        EXPECT_EQ(c.w->main_kw_len, 16u) << r.what;
        EXPECT_EQ(c.w->ext_len, 24u) << r.what;
        EXPECT_EQ(c.w->ext_cap, 256u) << r.what;
    }
    EXPECT_EQ(wfm_writer_add_keyword(nullptr, "VER", 'A', "1", 1), -1);
}

TEST(Keywords, other_containers_refuse_keywords) {
    for (int type : {WFM_RAW, WFM_CSV, WFM_SIGMF}) {
        Capture c(1.2e9, type);
        ASSERT_NE(c.w, nullptr);
        EXPECT_EQ(wfm_writer_add_keyword(c.w, "VER", 'A', "1", 1), -1) << type;
        EXPECT_EQ(wfm_writer_add_keyword(c.w, "COMMENT", 'A', "x", 1), -1) << type;
        EXPECT_EQ(c.w->main_kw_len, 0u);
        EXPECT_EQ(c.w->ext_len, 0u);
    }
}

TEST(Keywords, extended_buffer_grows_by_doubling_from_256) {
    Capture c(0.0);
    const std::string v(284, 'x');  // 8 + 7 + 284 rounds to 304
    ASSERT_EQ(wfm_writer_add_keyword(c.w, "COMMENT", 'A', v.data(), v.size()), 0);
    EXPECT_EQ(c.w->ext_cap, 512u);
    EXPECT_EQ(c.w->ext_len, 304u);
    ASSERT_EQ(wfm_writer_add_keyword(c.w, "COMMENT", 'A', v.data(), v.size()), 0);
    EXPECT_EQ(c.w->ext_cap, 1024u);
    const std::string big(2000, 'y');
    ASSERT_EQ(wfm_writer_add_keyword(c.w, "COMMENT", 'A', big.data(), big.size()), 0);
    EXPECT_EQ(c.w->ext_cap, 4096u);
    EXPECT_EQ(c.w->ext_len, 304u + 304u + 2016u);
    // Same tag twice is stored twice.
    EXPECT_EQ(std::memcmp(c.w->ext_buf + 304, c.w->ext_buf, 304), 0);
}
