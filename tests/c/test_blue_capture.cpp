// A blue capture end to end: the header written at open, the patches and
// the extended header written at close, and streams that cannot seek.
#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

using wfm_test::Bytes;
using wfm_test::expect_bytes;
using wfm_test::FaultStream;
using wfm_test::TempDir;

namespace {

std::vector<float> constant_samples(uint64_t n, float i, float q) {
    std::vector<float> v;
    for (uint64_t k = 0; k < n; k++) {
        v.push_back(i);
        v.push_back(q);
    }
    return v;
}

bool write_samples(WfmWriter *w, const std::vector<float> &v) {
    return wfm_writer_write(w, v.data(), v.size() / 2) == v.size() / 2;
}

Bytes zeros(size_t n) { return Bytes(n, 0); }

Bytes slice(const Bytes &b, size_t off, size_t n) {
    return off + n <= b.size() ? Bytes(b.begin() + off, b.begin() + off + n) : Bytes{};
}

}  // namespace

// cf32, fs 2.4e6, fc 1.2e9, 1024 samples of (0.5, -0.25), one COMMENT.
TEST(BlueCapture, finished_file_matches_every_field_in_both_orders) {
    for (int be = 0; be <= 1; be++) {
        SCOPED_TRACE(be ? "big endian" : "little endian");
        TempDir dir;
        const std::string path = dir.file("cap.blue");
        WfmWriter *w = wfm_writer_create(path.c_str(), WFM_BLUE, WFM_CF32, be, 1024, true, 2.4e6,
                                         1.2e9, 0.0, 0.0);
        ASSERT_NE(w, nullptr);
        ASSERT_TRUE(write_samples(w, constant_samples(1024, 0.5f, -0.25f)));
        ASSERT_EQ(wfm_writer_add_keyword(w, "COMMENT", 'A', "demo", 4), 0);
        ASSERT_EQ(wfm_writer_close(w), 0);

        const Bytes f = wfm_test::read_file(path);
        ASSERT_EQ(f.size(), 8752u);
        EXPECT_FALSE(wfm_test::file_exists(path + ".sigmf-meta"));
        EXPECT_TRUE(expect_bytes(f, 0, {'B', 'L', 'U', 'E'}));
        if (!be) {
            EXPECT_TRUE(expect_bytes(f, 4, {'E', 'E', 'E', 'I', 'E', 'E', 'E', 'I'}));
            EXPECT_TRUE(expect_bytes(f, 24, {0x11, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 32, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x40}));
            EXPECT_TRUE(expect_bytes(f, 40, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xc0, 0x40}));
            EXPECT_TRUE(expect_bytes(f, 48, {0xe8, 0x03, 0x00, 0x00, 'C', 'F', 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 160, {0x10, 0x00, 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 264, {0x96, 0x36, 0x2f, 0x61, 0x47, 0xf6, 0x9b, 0x3e}));
            EXPECT_TRUE(expect_bytes(f, 272, {0x01, 0x00, 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 512, {0x00, 0x00, 0x00, 0x3f, 0x00, 0x00, 0x80, 0xbe}));
            EXPECT_TRUE(expect_bytes(f, 8696, {0x00, 0x00, 0x00, 0x3f, 0x00, 0x00, 0x80, 0xbe}));
            EXPECT_TRUE(expect_bytes(f, 8704, {0x18, 0x00, 0x00, 0x00, 0x10, 0x00, 0x04, 0x44,
                                               0x00, 0x00, 0x00, 0x00, 0xa3, 0xe1, 0xd1, 0x41,
                                               'F', 'R', 'E', 'Q', 0x00, 0x00, 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 8728, {0x18, 0x00, 0x00, 0x00, 0x14, 0x00, 0x07, 0x41}));
        } else {
            EXPECT_TRUE(expect_bytes(f, 4, {'I', 'E', 'E', 'E', 'I', 'E', 'E', 'E'}));
            EXPECT_TRUE(expect_bytes(f, 24, {0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x30}));
            EXPECT_TRUE(expect_bytes(f, 32, {0x40, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 40, {0x40, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 48, {0x00, 0x00, 0x03, 0xe8, 'C', 'F', 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 160, {0x00, 0x00, 0x00, 0x10}));
            EXPECT_TRUE(expect_bytes(f, 264, {0x3e, 0x9b, 0xf6, 0x47, 0x61, 0x2f, 0x36, 0x96}));
            EXPECT_TRUE(expect_bytes(f, 272, {0x00, 0x00, 0x00, 0x01}));
            EXPECT_TRUE(expect_bytes(f, 512, {0x3f, 0x00, 0x00, 0x00, 0xbe, 0x80, 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 8696, {0x3f, 0x00, 0x00, 0x00, 0xbe, 0x80, 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 8704, {0x00, 0x00, 0x00, 0x18, 0x00, 0x10, 0x04, 0x44,
                                               0x41, 0xd1, 0xe1, 0xa3, 0x00, 0x00, 0x00, 0x00,
                                               'F', 'R', 'E', 'Q', 0x00, 0x00, 0x00, 0x00}));
            EXPECT_TRUE(expect_bytes(f, 8728, {0x00, 0x00, 0x00, 0x18, 0x00, 0x14, 0x07, 0x41}));
        }
        EXPECT_EQ(slice(f, 12, 12), zeros(12));   // detached, protected, pipe
        EXPECT_EQ(slice(f, 54, 106), zeros(106));  // flagmask .. outbytes, timecode 0
        EXPECT_TRUE(expect_bytes(f, 164, {'F', 'R', 'E', 'Q', '=', '1', '2', '0', '0', '0', '0',
                                          '0', '0', '0', '0', 0x00}));
        EXPECT_EQ(slice(f, 180, 84), zeros(84));  // rest of keywords, xstart
        EXPECT_EQ(slice(f, 276, 236), zeros(236));
        EXPECT_TRUE(expect_bytes(f, 8736, {'d', 'e', 'm', 'o', 'C', 'O', 'M', 'M', 'E', 'N', 'T',
                                           0x00, 0x00, 0x00, 0x00, 0x00}));
    }
}

TEST(BlueCapture, data_size_is_declared_at_open_and_corrected_at_close) {
    const struct {
        int type;
        uint64_t total, written;
        Bytes declared, final_size;
    } rows[] = {
        {WFM_CI16, 100, 40, {0, 0, 0, 0, 0, 0, 0x79, 0x40}, {0, 0, 0, 0, 0, 0, 0x64, 0x40}},  // 400, 160
        {WFM_CI16, 0, 0, zeros(8), zeros(8)},
        {WFM_CF64, 0, 3, zeros(8), {0, 0, 0, 0, 0, 0, 0x48, 0x40}},  // 0, 48
    };
    for (const auto &r : rows) {
        TempDir dir;
        const std::string path = dir.file("cap.blue");
        WfmWriter *w = wfm_writer_create(path.c_str(), WFM_BLUE, r.type, 0, r.total, false, 1e6,
                                         0.0, 0.0, 0.0);
        ASSERT_NE(w, nullptr);
        if (r.written) {
            ASSERT_TRUE(write_samples(w, constant_samples(r.written, 0.1f, 0.2f)));
        }
        ASSERT_EQ(wfm_writer_flush(w), 0);
        EXPECT_EQ(slice(wfm_test::read_file(path), 40, 8), r.declared) << r.total;
        ASSERT_EQ(wfm_writer_close(w), 0);
        const Bytes f = wfm_test::read_file(path);
        EXPECT_EQ(slice(f, 40, 8), r.final_size) << r.total;
        // fc 0 and no keywords: no keyword text and no extended header.
        EXPECT_EQ(f.size(), 512 + r.written * (r.type == WFM_CI16 ? 4 : 16));
        EXPECT_EQ(slice(f, 24, 8), zeros(8));
        EXPECT_EQ(slice(f, 160, 96), zeros(96));
    }
}

TEST(BlueCapture, extended_header_starts_on_the_next_block_boundary) {
    TempDir dir;
    const std::string path = dir.file("cap.blue");
    // 50 ci8 samples end 100 bytes past offset 512.
    WfmWriter *w = wfm_writer_create(path.c_str(), WFM_BLUE, WFM_CI8, 0, 50, false, 1e6, 1.2e9,
                                     0.0, 0.0);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(write_samples(w, constant_samples(50, 1.0f, -1.0f)));
    ASSERT_EQ(wfm_writer_close(w), 0);
    const Bytes f = wfm_test::read_file(path);
    ASSERT_EQ(f.size(), 1048u);
    EXPECT_TRUE(expect_bytes(f, 24, {0x02, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(expect_bytes(f, 610, {0x7f, 0x81}));
    EXPECT_EQ(slice(f, 612, 412), zeros(412));
    EXPECT_TRUE(expect_bytes(f, 1024, {0x18, 0x00, 0x00, 0x00, 0x10, 0x00, 0x04, 0x44}));
}

TEST(BlueCapture, main_header_keywords_added_later_reach_the_header_at_close) {
    TempDir dir;
    const std::string path = dir.file("cap.blue");
    WfmWriter *w = wfm_writer_create(path.c_str(), WFM_BLUE, WFM_CI16, 1, 0, false, 1e6, 1.2e9,
                                     0.0, 0.0);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(wfm_writer_add_keyword(w, "VER", 'A', "1", 1), 0);
    ASSERT_EQ(wfm_writer_flush(w), 0);
    EXPECT_TRUE(expect_bytes(wfm_test::read_file(path), 160, {0x00, 0x00, 0x00, 0x10}));
    ASSERT_EQ(wfm_writer_close(w), 0);
    const Bytes f = wfm_test::read_file(path);
    EXPECT_TRUE(expect_bytes(f, 160, {0x00, 0x00, 0x00, 0x16, 'F', 'R', 'E', 'Q', '=', '1', '2',
                                      '0', '0', '0', '0', '0', '0', '0', '0', 0x00, 'V', 'E', 'R',
                                      '=', '1', 0x00}));
    EXPECT_EQ(slice(f, 186, 70), zeros(70));
    // Only the FREQ record went to the extended header.
    EXPECT_TRUE(expect_bytes(f, 24, {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x18}));
    EXPECT_EQ(f.size(), 536u);
}

TEST(BlueCapture, stream_that_cannot_seek_keeps_the_declared_header) {
    FaultStream pipe;
    pipe.seekable = false;
    FILE *f = pipe.open();
    WfmWriter *w = wfm_writer_open(f, WFM_BLUE, WFM_CI16, 0, 4, 1e6, 1.2e9, 0.0);
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(write_samples(w, constant_samples(10, 0.0f, 0.0f)));
    ASSERT_EQ(wfm_writer_add_keyword(w, "COMMENT", 'A', "demo", 4), 0);
    EXPECT_EQ(wfm_writer_close(w), 0);
    EXPECT_FALSE(pipe.closed);  // the caller's stream stays open
    std::fclose(f);
    ASSERT_EQ(pipe.data.size(), 552u);  // header and samples only
    EXPECT_EQ(slice(pipe.data, 24, 8), zeros(8));
    EXPECT_TRUE(expect_bytes(pipe.data, 40, {0, 0, 0, 0, 0, 0, 0x30, 0x40}));  // 16: total 4
    EXPECT_TRUE(expect_bytes(pipe.data, 160, {0x10, 0x00, 0x00, 0x00}));
}

TEST(BlueCapture, open_refuses_a_stream_not_at_its_start) {
    FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("xyz", f);
    EXPECT_EQ(wfm_writer_open(f, WFM_BLUE, WFM_CI16, 0, 0, 1e6, 0.0, 0.0), nullptr);
    EXPECT_EQ(ftello(f), 3);  // nothing was written
    // Other containers have nothing to patch and take it.
    WfmWriter *raw = wfm_writer_open(f, WFM_RAW, WFM_CI16, 0, 0, 1e6, 0.0, 0.0);
    EXPECT_NE(raw, nullptr);
    EXPECT_EQ(wfm_writer_close(raw), 0);
    std::fclose(f);
}

TEST(BlueCapture, close_reports_a_failed_finalisation_step) {
    // 10 ci16 samples and fc 1.2e9.  Close then seeks to 40, the end, 160,
    // the end, the end, reads the position, seeks to 24 and the end; it
    // writes the data size, keylength, the keywords, 472 padding bytes and
    // the records.  Counts are relative to the calls made before close.
    const struct {
        const char *what;
        void (*arm)(FaultStream &);
        int result;
    } rows[] = {
        {"nothing fails", [](FaultStream &) {}, 0},
        {"data size write fails", [](FaultStream &s) { s.fail_write_at = s.writes + 1; }, -1},
        {"seek to keylength fails", [](FaultStream &s) { s.fail_seek_at = s.seeks + 3; }, -1},
        {"end position cannot be read", [](FaultStream &s) { s.fail_tell = true; }, -1},
        {"a padding byte fails", [](FaultStream &s) { s.fail_write_at = s.writes + 4; }, -1},
        {"records do not fit", [](FaultStream &s) { s.accept_limit = 1024 + 10; }, -1},
        {"seek to the ext fields fails", [](FaultStream &s) { s.fail_seek_at = s.seeks + 7; }, -1},
    };
    for (const auto &r : rows) {
        FaultStream s;
        FILE *f = s.open();
        setvbuf(f, nullptr, _IONBF, 0);
        WfmWriter *w = wfm_writer_open(f, WFM_BLUE, WFM_CI16, 0, 0, 1e6, 1.2e9, 0.0);
        ASSERT_NE(w, nullptr) << r.what;
        ASSERT_TRUE(write_samples(w, constant_samples(10, 0.0f, 0.0f))) << r.what;
        r.arm(s);
        EXPECT_EQ(wfm_writer_close(w), r.result) << r.what;
        std::fclose(f);
        if (r.result == 0) {
            EXPECT_EQ(s.data.size(), 1048u);
        }
    }
}

// A sparse file whose end lies near 1 TiB: the block index of the extended
// header must fit the signed 32-bit field.
TEST(BlueCapture, extended_header_beyond_the_block_index_range_is_refused) {
    const struct {
        uint64_t end;
        int result;
        Bytes ext_fields;
        uint64_t size_after;
    } rows[] = {
        {(uint64_t{1} << 40) - 512, 0, {0xff, 0xff, 0xff, 0x7f, 0x18, 0x00, 0x00, 0x00}, (uint64_t{1} << 40) - 512 + 24},
        {(uint64_t{1} << 40) - 511, -1, zeros(8), (uint64_t{1} << 40) - 511},
    };
    for (const auto &r : rows) {
        TempDir dir;
        const std::string path = dir.file("big.blue");
        FILE *f = std::fopen(path.c_str(), "w+b");
        ASSERT_NE(f, nullptr);
        WfmWriter *w = wfm_writer_open(f, WFM_BLUE, WFM_CI8, 0, 0, 1e6, 1.2e9, 0.0);
        ASSERT_NE(w, nullptr);
        // Stretch the file behind the writer's back.
        if (fseeko(f, static_cast<off_t>(r.end - 1), SEEK_SET) != 0 || std::fputc(0, f) == EOF ||
            std::fflush(f) != 0) {
            wfm_writer_close(w);
            std::fclose(f);
            GTEST_SKIP() << "no sparse file of 1 TiB here";
        }
        EXPECT_EQ(wfm_writer_close(w), r.result);
        std::fclose(f);
        EXPECT_EQ(wfm_test::read_range(path, 24, 8), r.ext_fields);
        EXPECT_EQ(std::filesystem::file_size(path), r.size_after);
    }
}
