// Annotations of a segment plan in the metadata document: the example
// plan's text, one object per signal per span, band edges, optional members
// and the sample rate taken from the plan.
#include <gtest/gtest.h>

#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "wfm_writer.h"

namespace {

wfm_signal make_signal(int32_t kind, uint32_t seed) {
    wfm_signal s{};
    s.kind = kind;
    s.freq_offset = 100000;
    s.snr = 10;
    s.snr_mode = 2;
    s.seed = seed;
    s.sps = 8;
    return s;
}

wfm_segment make_segment(const wfm_signal *signals, uint64_t num_signals, uint64_t samples) {
    wfm_segment seg{};
    seg.signals = signals;
    seg.num_signals = num_signals;
    seg.fs = 2.4e6;
    seg.num_samples = samples;
    return seg;
}

// The plan of the planner's worked example: a qpsk signal drawn twice, then
// a signal-less segment with a drawn lead.
struct ExamplePlan {
    wfm_signal signal = make_signal(4, 42);
    wfm_segment segments[2];
    ExamplePlan() {
        segments[0] = make_segment(&signal, 1, 1000);
        segments[0].num_samples_max = 2000;
        segments[0].gap = 100;
        segments[0].flags = WFM_RANDOM_NUM_SAMPLES;
        segments[0].repeat = 2;
        segments[1] = make_segment(nullptr, 0, 500);
        segments[1].lead = 50;
        segments[1].lead_max = 60;
        segments[1].flags = WFM_RANDOM_LEAD;
    }
};

std::string meta(const wfm_segment *segments, uint64_t n, double fs = 0.0, double fc = 0.0) {
    char *text = wfm_sigmf_meta_json(WFM_CI16, 0, segments, n, fs, fc, 0.0);
    if (!text) return "<null>";
    std::string s = text;
    std::free(text);
    return s;
}

// The "annotations" array of the document, parsed; empty on any failure.
struct Annotations {
    cJSON *root = nullptr;
    const cJSON *array = nullptr;
    explicit Annotations(const std::string &text) {
        root = cJSON_Parse(text.c_str());
        array = cJSON_GetObjectItemCaseSensitive(root, "annotations");
    }
    ~Annotations() { cJSON_Delete(root); }
    Annotations(const Annotations &) = delete;
    Annotations &operator=(const Annotations &) = delete;
    int size() const { return cJSON_IsArray(array) ? cJSON_GetArraySize(array) : -1; }
    const cJSON *at(int k) const { return cJSON_GetArrayItem(array, k); }
    double num(int k, const char *key) const {
        return cJSON_GetNumberValue(cJSON_GetObjectItemCaseSensitive(at(k), key));
    }
    std::string keys(int k) const {
        std::string s;
        const cJSON *item = nullptr;
        cJSON_ArrayForEach(item, at(k)) {
            if (!s.empty()) s += ' ';
            s += item->string;
        }
        return s;
    }
    std::string text(int k) const {
        char *p = cJSON_PrintUnformatted(at(k));
        std::string s = p ? p : "<null>";
        std::free(p);
        return s;
    }
};

const char kBaseKeys[] =
    "core:sample_start core:sample_count core:freq_lower_edge core:freq_upper_edge core:label "
    "synvox:snr synvox:snr_mode synvox:sps synvox:seed synvox:pn_length synvox:pn_poly";

TEST(Annotations, example_plan_gives_the_exact_document) {
    ExamplePlan plan;
    EXPECT_EQ(meta(plan.segments, 2, 0.0, 1e9),
              "{\"global\":{\"core:datatype\":\"ci16_le\",\"core:sample_rate\":2400000,"
              "\"core:version\":\"1.0.0\",\"core:description\":\"kestrix synvox\","
              "\"core:author\":\"kestrix synvox\"},"
              "\"captures\":[{\"core:sample_start\":0,\"core:frequency\":1000000000}],"
              "\"annotations\":["
              "{\"core:sample_start\":0,\"core:sample_count\":1691,"
              "\"core:freq_lower_edge\":999950000,\"core:freq_upper_edge\":1000250000,"
              "\"core:label\":\"qpsk\",\"synvox:snr\":10,\"synvox:snr_mode\":\"ebno\","
              "\"synvox:sps\":8,\"synvox:seed\":42,\"synvox:pn_length\":0,\"synvox:pn_poly\":0},"
              "{\"core:sample_start\":1791,\"core:sample_count\":1848,"
              "\"core:freq_lower_edge\":999950000,\"core:freq_upper_edge\":1000250000,"
              "\"core:label\":\"qpsk\",\"synvox:snr\":10,\"synvox:snr_mode\":\"ebno\","
              "\"synvox:sps\":8,\"synvox:seed\":42,\"synvox:pn_length\":0,\"synvox:pn_poly\":0}"
              "]}");
}

TEST(Annotations, no_plan_or_no_spans_leaves_the_array_empty) {
    ExamplePlan plan;
    const std::string tail = "\"annotations\":[]}";
    for (const std::string &text : {meta(nullptr, 0), meta(nullptr, 2), meta(plan.segments, 0)})
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
}

// Signals of a span appear in array order, spans in plan order; a segment
// without signals adds nothing but moves later spans along.
TEST(Annotations, one_object_per_signal_per_span_in_order) {
    wfm_signal sigs[2] = {make_signal(0, 11), make_signal(1, 12)};
    wfm_segment segs[3] = {make_segment(nullptr, 0, 100), make_segment(sigs, 2, 40),
                           make_segment(sigs + 1, 1, 5)};
    segs[1].lead = 3;
    segs[1].gap = 7;
    segs[1].repeat = 2;
    Annotations a(meta(segs, 3));
    ASSERT_EQ(a.size(), 5);
    struct Want {
        double start, count, seed;
    };
    const Want want[5] = {{103, 40, 11}, {103, 40, 12}, {153, 40, 11}, {153, 40, 12}, {200, 5, 12}};
    for (int k = 0; k < 5; k++) {
        SCOPED_TRACE(k);
        EXPECT_EQ(a.num(k, "core:sample_start"), want[k].start);
        EXPECT_EQ(a.num(k, "core:sample_count"), want[k].count);
        EXPECT_EQ(a.num(k, "synvox:seed"), want[k].seed);
    }
}

TEST(Annotations, plan_of_signal_less_segments_gives_no_annotations) {
    wfm_segment segs[2] = {make_segment(nullptr, 0, 100), make_segment(nullptr, 0, 5)};
    segs[0].repeat = 3;
    EXPECT_EQ(Annotations(meta(segs, 2)).size(), 0);
}

TEST(Annotations, band_edges_follow_the_kind) {
    struct Case {
        const char *what;
        int32_t kind;
        int32_t sps;
        double fs, freq_offset, chirp_end, fc;
        double lower, upper;
    };
    const Case cases[] = {
        {"chirp, ends in either order", 5, 8, 1e6, 200000, -100000, 0, -100000, 200000},
        {"chirp, ends ascending, plus fc", 5, 0, 1e6, -100000, 200000, 1e9, 999900000,
         1000200000},
        {"bpsk: fs / sps wide", 3, 4, 1e6, 1000, 0, 0, -124000, 126000},
        {"pn, kind 2, is banded", 2, 5, 1e6, 0, 0, 100, -99900, 100100},
        {"tone has zero width", 0, 8, 1e6, 1000, 0, 0, 1000, 1000},
        {"noise has zero width", 1, 8, 1e6, 1000, 0, 0, 1000, 1000},
        {"sps 0 gives zero width", 4, 0, 1e6, 1000, 0, 0, 1000, 1000},
        {"negative sps gives zero width", 4, -2, 1e6, 1000, 0, 0, 1000, 1000},
        {"negative kind gives zero width", -1, 8, 1e6, 1000, 0, 0, 1000, 1000},
        {"kind past the table is banded", 9, 4, 1e6, 0, 0, 0, -125000, 125000},
        {"fs 0 gives zero width", 4, 8, 0, 1000, 0, 0, 1000, 1000},
        {"fc shifts the centre", 4, 8, 2.4e6, -50000, 0, 1e9, 999800000, 1000100000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        wfm_signal sig = make_signal(c.kind, 1);
        sig.sps = c.sps;
        sig.freq_offset = c.freq_offset;
        sig.chirp_end = c.chirp_end;
        wfm_segment seg = make_segment(&sig, 1, 10);
        seg.fs = c.fs;
        Annotations a(meta(&seg, 1, 0.0, c.fc));
        ASSERT_EQ(a.size(), 1);
        EXPECT_EQ(a.num(0, "core:freq_lower_edge"), c.lower);
        EXPECT_EQ(a.num(0, "core:freq_upper_edge"), c.upper);
    }
}

TEST(Annotations, optional_members_depend_on_kind_mode_and_spread_spectrum_fields) {
    const std::string base = kBaseKeys;
    const std::string no_label =
        "core:sample_start core:sample_count core:freq_lower_edge core:freq_upper_edge "
        "synvox:snr synvox:snr_mode synvox:sps synvox:seed synvox:pn_length synvox:pn_poly";
    const std::string no_mode =
        "core:sample_start core:sample_count core:freq_lower_edge core:freq_upper_edge core:label "
        "synvox:snr synvox:sps synvox:seed synvox:pn_length synvox:pn_poly";
    struct Case {
        const char *what;
        int32_t kind, snr_mode;
        double symbol_rate;
        int32_t no_data;
        std::string keys;
    };
    const Case cases[] = {
        {"dsss without a symbol rate", 8, 2, 0, 1, base},
        {"dsss with a negative symbol rate", 8, 2, -5, 1, base},
        {"dsss with data", 8, 2, 1000, 0, base + " synvox:symbol_rate"},
        {"dsss without data", 8, 2, 1000, 1, base + " synvox:symbol_rate synvox:data"},
        {"not dsss", 3, 2, 1000, 1, base},
        {"kind past the table", 9, 2, 1000, 1, no_label},
        {"negative kind", -1, 2, 0, 0, no_label},
        {"mode past the table", 4, 4, 0, 0, no_mode},
        {"negative mode", 4, -1, 0, 0, no_mode},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        wfm_signal sig = make_signal(c.kind, 1);
        sig.snr_mode = c.snr_mode;
        sig.symbol_rate = c.symbol_rate;
        sig.no_data = c.no_data;
        wfm_segment seg = make_segment(&sig, 1, 10);
        Annotations a(meta(&seg, 1));
        ASSERT_EQ(a.size(), 1);
        EXPECT_EQ(a.keys(0), c.keys);
    }
}

TEST(Annotations, dsss_members_and_labels_print_exactly) {
    wfm_signal sigs[3] = {make_signal(8, 1), make_signal(5, 2), make_signal(0, 3)};
    sigs[0].symbol_rate = 1000;
    sigs[0].no_data = 1;
    sigs[0].snr_mode = 0;
    sigs[1].snr_mode = 1;
    sigs[1].chirp_end = 100000;
    sigs[2].snr_mode = 3;
    wfm_segment seg = make_segment(sigs, 3, 10);
    Annotations a(meta(&seg, 1));
    ASSERT_EQ(a.size(), 3);
    EXPECT_EQ(a.text(0),
              "{\"core:sample_start\":0,\"core:sample_count\":10,"
              "\"core:freq_lower_edge\":-50000,\"core:freq_upper_edge\":250000,"
              "\"core:label\":\"dsss\",\"synvox:snr\":10,\"synvox:snr_mode\":\"auto\","
              "\"synvox:sps\":8,\"synvox:seed\":1,\"synvox:pn_length\":0,\"synvox:pn_poly\":0,"
              "\"synvox:symbol_rate\":1000,\"synvox:data\":\"none\"}");
    EXPECT_NE(a.text(1).find("\"core:label\":\"chirp\",\"synvox:snr\":10,\"synvox:snr_mode\":\"fs\""),
              std::string::npos);
    EXPECT_NE(a.text(2).find("\"core:label\":\"tone\",\"synvox:snr\":10,\"synvox:snr_mode\":\"esno\""),
              std::string::npos);
}

// Integer fields keep their signedness on the way to a number; a pn_poly
// above 2^53 becomes the nearest double (2^60 + 1 prints as 2^60).
TEST(Annotations, integer_fields_print_with_their_signedness) {
    wfm_signal sig = make_signal(3, 0xFFFFFFFFu);
    sig.sps = -3;
    sig.pn_length = -7;
    sig.pn_poly = (uint64_t{1} << 60) + 1;
    sig.snr = -2.5;
    wfm_segment seg = make_segment(&sig, 1, 10);
    const std::string text = meta(&seg, 1);
    EXPECT_NE(text.find("\"synvox:snr\":-2.5,\"synvox:snr_mode\":\"ebno\",\"synvox:sps\":-3,"
                        "\"synvox:seed\":4294967295,\"synvox:pn_length\":-7,"
                        "\"synvox:pn_poly\":1.152921504606847e+18}"),
              std::string::npos)
        << text;
}

TEST(Annotations, sample_rate_comes_from_the_plan_only_when_all_segments_agree) {
    wfm_signal sig = make_signal(0, 1);
    wfm_segment segs[3] = {make_segment(&sig, 1, 10), make_segment(nullptr, 0, 10),
                           make_segment(&sig, 1, 10)};
    const std::string shared = "\"core:datatype\":\"ci16_le\",\"core:sample_rate\":2400000,";
    const std::string absent = "\"core:datatype\":\"ci16_le\",\"core:version\"";
    EXPECT_NE(meta(segs, 3).find(shared), std::string::npos);
    EXPECT_NE(meta(segs, 3, 1e6).find("\"core:sample_rate\":1000000,"), std::string::npos);
    segs[2].fs = 1e6;
    EXPECT_NE(meta(segs, 3).find(absent), std::string::npos);
    EXPECT_NE(meta(segs, 2).find(shared), std::string::npos);
    EXPECT_NE(meta(segs, 3, 2.4e6).find(shared), std::string::npos);
}

// A span count whose array size overflows is a failed allocation: the
// document is still made, with no annotations.
TEST(Annotations, plan_too_large_for_a_span_array_gives_no_annotations) {
    wfm_signal sig = make_signal(4, 42);
    wfm_segment segs[2] = {make_segment(&sig, 1, 10), make_segment(&sig, 1, 10)};
    for (uint64_t repeat : {UINT64_MAX, (UINT64_MAX / sizeof(wfm_span)) + 1}) {
        SCOPED_TRACE(repeat);
        segs[0].repeat = repeat;
        Annotations a(meta(segs, 2, 0.0, 1e9));
        EXPECT_EQ(a.size(), 0);
    }
}

}  // namespace
