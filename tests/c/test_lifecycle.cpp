// Making, flushing and closing writers: codes, path rules, metadata file
// names, gain from headroom, and the failure paths of a capture.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

using wfm_test::Bytes;
using wfm_test::FaultStream;
using wfm_test::TempDir;

namespace fs = std::filesystem;

namespace {

const char kSidecarExample[] =
    "{\"global\":{\"core:datatype\":\"ci16_le\",\"core:sample_rate\":2400000,\"core:version\":"
    "\"1.0.0\",\"core:description\":\"kestrix synvox\",\"core:author\":\"kestrix synvox\"},"
    "\"captures\":[{\"core:sample_start\":0,\"core:datetime\":\"2023-11-14T22:13:20.250000Z\","
    "\"core:frequency\":1200000000}],\"annotations\":[]}";

std::set<std::string> names_in(const fs::path &dir) {
    std::set<std::string> out;
    for (const auto &e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
}

WfmWriter *create(const std::string &path, int file_type, int sample_type, bool sidecar,
                  double headroom = 0.0) {
    return wfm_writer_create(path.c_str(), file_type, sample_type, 0, 0, sidecar, 0, 0, headroom,
                             0);
}

TEST(Create, invalid_codes_touch_no_file) {
    TempDir dir;
    const std::string path = dir.file("cap.raw");
    const struct {
        int file_type, sample_type;
    } bad[] = {{4, WFM_CI16}, {-1, WFM_CI16}, {WFM_RAW, 5}, {WFM_RAW, -1}, {WFM_SIGMF, 5}};
    for (const auto &c : bad) {
        EXPECT_EQ(create(path, c.file_type, c.sample_type, true), nullptr);
        EXPECT_FALSE(wfm_test::file_exists(path));
    }
    // An existing file is not truncated either.
    { std::ofstream(path) << "keep"; }
    EXPECT_EQ(create(path, WFM_RAW, 9, true), nullptr);
    EXPECT_EQ(wfm_test::read_text(path), "keep");
}

TEST(Create, sigmf_path_must_end_in_sigmf_data) {
    TempDir dir;
    for (const char *name : {"cap.sigmf-dat", "cap.SIGMF-DATA", "cap.sigmf-data.x"}) {
        EXPECT_EQ(create(dir.file(name), WFM_SIGMF, WFM_CI16, true), nullptr) << name;
    }
    EXPECT_TRUE(names_in(dir.path).empty());
}

// Paths shorter than the suffix and the bare suffix, relative to a working
// directory of the test's own.
TEST(Create, bare_sigmf_data_path_is_accepted_and_short_paths_are_not) {
    TempDir dir;
    std::string saved = fs::current_path().string();
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    EXPECT_EQ(create("a.sigmf", WFM_SIGMF, WFM_CI8, false), nullptr);
    EXPECT_EQ(create("sigmf-data", WFM_SIGMF, WFM_CI8, false), nullptr);
    EXPECT_TRUE(names_in(dir.path).empty());
    WfmWriter *w = create(".sigmf-data", WFM_SIGMF, WFM_CI8, false);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(wfm_writer_close(w), 0);
    EXPECT_EQ(names_in(dir.path), (std::set<std::string>{".sigmf-data", ".sigmf-meta"}));
    ASSERT_EQ(chdir(saved.c_str()), 0);
}

struct NamingCase {
    int file_type;
    const char *data;
    bool sidecar;
    const char *meta;  // nullptr: no metadata file
};

TEST(MetadataFile, name_and_presence_follow_the_path_and_container) {
    const NamingCase cases[] = {
        {WFM_SIGMF, "run1.sigmf-data", false, "run1.sigmf-meta"},
        {WFM_SIGMF, "run1.sigmf-data", true, "run1.sigmf-meta"},
        {WFM_RAW, "cap.raw", true, "cap.raw.sigmf-meta"},
        {WFM_RAW, "cap.raw", false, nullptr},
        {WFM_CSV, "x.sigmf-data", true, "x.sigmf-meta"},
        {WFM_CSV, "x.csv", true, "x.csv.sigmf-meta"},
        {WFM_RAW, "noext", true, "noext.sigmf-meta"},
        {WFM_BLUE, "cap.blue", true, nullptr},
        {WFM_BLUE, "cap.sigmf-data", true, nullptr},
    };
    for (const NamingCase &c : cases) {
        SCOPED_TRACE(c.data);
        TempDir dir;
        WfmWriter *w = create(dir.file(c.data), c.file_type, WFM_CI16, c.sidecar);
        ASSERT_NE(w, nullptr);
        const float s[] = {0.5f, -0.5f};
        EXPECT_EQ(wfm_writer_write(w, s, 1), 1u);
        EXPECT_EQ(wfm_writer_close(w), 0);
        std::set<std::string> want{c.data};
        if (c.meta) want.insert(c.meta);
        EXPECT_EQ(names_in(dir.path), want);
    }
}

TEST(MetadataFile, dot_in_a_directory_name_is_not_a_suffix) {
    TempDir dir;
    fs::create_directory(dir.path / "v1.2");
    WfmWriter *w = create(dir.file("v1.2/cap"), WFM_RAW, WFM_CI16, true);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(wfm_writer_close(w), 0);
    EXPECT_EQ(names_in(dir.path / "v1.2"), (std::set<std::string>{"cap", "cap.sigmf-meta"}));
}

TEST(MetadataFile, sidecar_text_is_the_document_of_the_capture) {
    TempDir dir;
    const std::string path = dir.file("cap.raw");
    WfmWriter *w = wfm_writer_create(path.c_str(), WFM_RAW, WFM_CI16, 0, 0, true, 2.4e6, 1.2e9,
                                     0.0, 1700000000.25);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(wfm_writer_close(w), 0);
    EXPECT_EQ(wfm_test::read_text(path + ".sigmf-meta"), kSidecarExample);

    const std::string data = dir.file("rec.sigmf-data");
    w = wfm_writer_create(data.c_str(), WFM_SIGMF, WFM_CF32, 3, 0, false, 0, 0, 0, 0);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(wfm_writer_close(w), 0);
    EXPECT_EQ(wfm_test::read_text(dir.file("rec.sigmf-meta")),
              "{\"global\":{\"core:datatype\":\"cf32_be\",\"core:version\":\"1.0.0\","
              "\"core:description\":\"kestrix synvox\",\"core:author\":\"kestrix synvox\"},"
              "\"captures\":[{\"core:sample_start\":0}],\"annotations\":[]}");
}

// A data path of exactly 1023 bytes: a name cut to 1023 bytes would be the
// data path itself.
TEST(MetadataFile, long_name_is_formed_in_full_and_never_cut) {
    TempDir dir;
    fs::path deep = dir.path;
    while (deep.string().size() < 1023 - 220) deep /= std::string(200, 'd');
    fs::create_directories(deep);
    std::string base = deep.string() + "/";
    for (int file_type : {WFM_RAW, WFM_SIGMF}) {
        std::string data = base;
        const std::string tail = file_type == WFM_SIGMF ? ".sigmf-data" : ".raw";
        data += std::string(1023 - data.size() - tail.size(), 'c') + tail;
        ASSERT_EQ(data.size(), 1023u);
        WfmWriter *w = create(data, file_type, WFM_CI16, true);
        ASSERT_NE(w, nullptr);
        const float s[] = {1.0f, -1.0f};
        EXPECT_EQ(wfm_writer_write(w, s, 1), 1u);
        EXPECT_EQ(wfm_writer_close(w), 0);
        std::string meta = file_type == WFM_SIGMF
                               ? data.substr(0, data.size() - 11) + ".sigmf-meta"
                               : data + ".sigmf-meta";
        EXPECT_TRUE(wfm_test::file_exists(meta));
        EXPECT_TRUE(wfm_test::expect_bytes(wfm_test::read_file(data), 0, {0xFF, 0x7F, 0x01, 0x80}));
        EXPECT_EQ(wfm_test::read_file(data).size(), 4u);
    }
}

TEST(MetadataFile, unopenable_name_fails_close_and_keeps_the_data) {
    TempDir dir;
    const std::string path = dir.file("cap.raw");
    fs::create_directory(path + ".sigmf-meta");
    WfmWriter *w = create(path, WFM_RAW, WFM_CI8, true);
    ASSERT_NE(w, nullptr);
    const float s[] = {1.0f, -1.0f};
    EXPECT_EQ(wfm_writer_write(w, s, 1), 1u);
    EXPECT_EQ(wfm_writer_close(w), -1);
    EXPECT_TRUE(wfm_test::expect_bytes(wfm_test::read_file(path), 0, {0x7F, 0x81}));
}

// The gain is observed as the linear peak of a full-scale component.
TEST(Create, headroom_sets_the_gain) {
    TempDir dir;
    const struct {
        double headroom;
        double gain;
    } cases[] = {
        {0.0, 1.0},
        {6.0, 0.5011872053146362},   // nearest float to 10^-0.3
        {-6.0, 1.9952622652053833},  // nearest float to 10^0.3
        {1000.0, 0.0},               // below the smallest float
    };
    for (const auto &c : cases) {
        WfmWriter *w = create(dir.file("cap.raw"), WFM_RAW, WFM_CF32, false, c.headroom);
        ASSERT_NE(w, nullptr);
        const float s[] = {1.0f, 0.0f};
        wfm_writer_write(w, s, 1);
        EXPECT_EQ(wfm_writer_peak(w), c.gain) << c.headroom;
        EXPECT_EQ(wfm_writer_close(w), 0);
    }
}

TEST(Create, zero_headroom_leaves_samples_bit_for_bit) {
    TempDir dir;
    const std::string path = dir.file("cap.raw");
    WfmWriter *w = create(path, WFM_RAW, WFM_CF32, false, 0.0);
    const float s[] = {0.1f, -0.3f};
    EXPECT_EQ(wfm_writer_write(w, s, 1), 1u);
    EXPECT_EQ(wfm_writer_close(w), 0);
    EXPECT_TRUE(wfm_test::expect_bytes(wfm_test::read_file(path), 0,
                                       {0xCD, 0xCC, 0xCC, 0x3D, 0x9A, 0x99, 0x99, 0xBE}));
}

TEST(NullRecord, close_destroy_flush_and_setters) {
    EXPECT_EQ(wfm_writer_close(nullptr), 0);
    EXPECT_EQ(wfm_writer_destroy(nullptr), 0);
    EXPECT_EQ(wfm_writer_flush(nullptr), -1);
    wfm_writer_set_gain(nullptr, 2.0);
    wfm_writer_track_clipping(nullptr, 1);
}

TEST(Open, refuses_null_stream_and_invalid_codes) {
    EXPECT_EQ(wfm_writer_open(nullptr, WFM_RAW, WFM_CI16, 0, 0, 0, 0, 0), nullptr);
    FaultStream fs;
    FILE *f = fs.open();
    for (auto [ft, st] : {std::pair{4, 0}, {-1, 0}, {0, 5}, {0, -1}})
        EXPECT_EQ(wfm_writer_open(f, ft, st, 0, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(std::fclose(f), 0);
    EXPECT_TRUE(fs.data.empty());
}

TEST(Open, callers_stream_is_flushed_and_left_open_without_metadata) {
    for (int file_type : {WFM_RAW, WFM_SIGMF}) {
        TempDir dir;
        const std::string path = dir.file("own.sigmf-data");
        FILE *f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        WfmWriter *w = wfm_writer_open(f, file_type, WFM_CI8, 0, 0, 1e6, 1e9, 1.0);
        ASSERT_NE(w, nullptr);
        const float s[] = {1.0f, -1.0f};
        EXPECT_EQ(wfm_writer_write(w, s, 1), 1u);
        EXPECT_EQ(wfm_writer_close(w), 0);
        // Flushed: the bytes are in the file while the stream is still open.
        EXPECT_EQ(wfm_test::read_file(path), (Bytes{0x7F, 0x81}));
        EXPECT_EQ(std::fputc(0x55, f), 0x55);
        EXPECT_EQ(std::fclose(f), 0);
        EXPECT_EQ(wfm_test::read_file(path), (Bytes{0x7F, 0x81, 0x55}));
        EXPECT_EQ(names_in(dir.path), (std::set<std::string>{"own.sigmf-data"}));
    }
}

TEST(Flush, makes_written_samples_reach_the_stream) {
    FaultStream fs;
    FILE *f = fs.open();
    WfmWriter *w = wfm_writer_open(f, WFM_RAW, WFM_CI16, 1, 0, 0, 0, 0);
    const float s[] = {1.0f, -1.0f};
    EXPECT_EQ(wfm_writer_write(w, s, 1), 1u);
    EXPECT_EQ(wfm_writer_flush(w), 0);
    EXPECT_EQ(fs.data, (Bytes{0x7F, 0xFF, 0x80, 0x01}));
    EXPECT_EQ(wfm_writer_close(w), 0);
    EXPECT_FALSE(fs.closed);
    std::fclose(f);
}

TEST(ShortWrite, packed_block_counts_whole_samples_and_fails_flush_and_close) {
    FaultStream fs;
    fs.accept_limit = 4096 + 3;  // 1024 ci16 samples and part of the next
    FILE *f = fs.open();
    std::setvbuf(f, nullptr, _IONBF, 0);
    WfmWriter *w = wfm_writer_open(f, WFM_RAW, WFM_CI16, 0, 0, 0, 0, 0);
    std::vector<float> block(2 * 2048, 0.25f);
    block[2 * 2047] = 0.75f;  // in the part that does not land
    EXPECT_EQ(wfm_writer_write(w, block.data(), 2048), 1024u);
    EXPECT_EQ(wfm_writer_peak(w), 0.75);  // the meter saw the whole block
    EXPECT_EQ(wfm_writer_flush(w), -1);
    EXPECT_EQ(wfm_writer_flush(w), -1);
    EXPECT_EQ(wfm_writer_close(w), -1);
    std::fclose(f);
}

TEST(ShortWrite, csv_counts_only_lines_that_landed_whole) {
    FaultStream fs;
    fs.accept_limit = 2 * 25 + 10;  // two 25-byte lines and part of a third
    FILE *f = fs.open();
    std::setvbuf(f, nullptr, _IONBF, 0);
    WfmWriter *w = wfm_writer_open(f, WFM_CSV, WFM_CF32, 0, 0, 0, 0, 0);
    const float s[] = {0.1f, -0.1f, 0.2f, -0.2f, 0.3f, -0.3f, 0.4f, -0.4f};
    EXPECT_EQ(wfm_writer_write(w, s, 4), 2u);
    EXPECT_EQ(wfm_writer_peak(w), static_cast<double>(0.3f));  // the failed line's sample
    EXPECT_EQ(wfm_writer_flush(w), -1);
    EXPECT_EQ(wfm_writer_close(w), -1);
    std::fclose(f);
    EXPECT_EQ(std::string(fs.data.begin(), fs.data.begin() + 50),
              "0.100000001,-0.100000001\n0.200000003,-0.200000003\n");
}

// A file-size limit makes the file system take only part of the data, like a
// full disk: the capture fails and gets no metadata file.
TEST(ShortWrite, created_capture_fails_and_writes_no_metadata_file) {
    TempDir dir;
    const std::string path = dir.file("cap.raw");
    WfmWriter *w = create(path, WFM_RAW, WFM_CI16, true);
    ASSERT_NE(w, nullptr);

    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit lim = saved;
    lim.rlim_cur = 4096;
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);

    std::vector<float> block(2 * 400000, 0.5f);  // beyond the stream buffer
    uint64_t n = wfm_writer_write(w, block.data(), 400000);
    int flush_result = wfm_writer_flush(w);
    int close_result = wfm_writer_close(w);

    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);

    EXPECT_LT(n, 400000u);
    EXPECT_EQ(flush_result, -1);
    EXPECT_EQ(close_result, -1);
    EXPECT_FALSE(wfm_test::file_exists(path + ".sigmf-meta"));
    EXPECT_EQ(fs::file_size(path), 4096u);
}

}  // namespace
