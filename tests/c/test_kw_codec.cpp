// The extended-header keyword record: sizes, exact encoder output, the
// decoder's answers for malformed and skipped records, and round trips.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "wfm_writer.h"

using wfm_test::Bytes;
using wfm_test::expect_bytes;

namespace {

Bytes encode(const char *tag, int type, const void *value, uint64_t count, int big_endian) {
    Bytes buf(512, 0xee);
    uint64_t n = wfm_kw_encode(buf.data(), buf.size(), tag, type, value, count, big_endian);
    buf.resize(n);
    return buf;
}

// A decode target whose fields show whether the decoder touched it.
wfm_kw untouched_kw() {
    wfm_kw kw;
    std::memset(&kw, 0x5a, sizeof kw);
    return kw;
}

bool same_kw(const wfm_kw &a, const wfm_kw &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(KwSizes, element_size_follows_the_type_table_and_is_zero_for_other_codes) {
    const struct { int type; uint64_t size; } rows[] = {
        {'A', 1}, {'B', 1}, {'I', 2}, {'L', 4}, {'T', 4}, {'F', 4}, {'X', 8}, {'D', 8},
        {'a', 0}, {'Q', 0}, {'Z', 0}, {0, 0},   {-1, 0},  {256 + 'A', 0},
    };
    for (const auto &r : rows) EXPECT_EQ(wfm_kw_elem_size(r.type), r.size) << "type " << r.type;
}

TEST(KwSizes, entry_size_rounds_up_to_eight_and_saturates_instead_of_wrapping) {
    EXPECT_EQ(wfm_kw_entry_size(0, 0), 8u);
    EXPECT_EQ(wfm_kw_entry_size(1, 0), 16u);
    EXPECT_EQ(wfm_kw_entry_size(4, 8), 24u);
    EXPECT_EQ(wfm_kw_entry_size(7, 4), 24u);
    EXPECT_EQ(wfm_kw_entry_size(8, 8), 24u);
    EXPECT_EQ(wfm_kw_entry_size(255, 1), 264u);
    EXPECT_EQ(wfm_kw_entry_size(UINT64_MAX, 0), UINT64_MAX - 7);
    EXPECT_EQ(wfm_kw_entry_size(4, UINT64_MAX - 8), UINT64_MAX - 7);
}

TEST(KwEncode, freq_record_is_byte_exact_in_both_orders) {
    const double fc = 1.2e9;
    Bytes le = encode("FREQ", 'D', &fc, 1, 0);
    ASSERT_EQ(le.size(), 24u);
    EXPECT_TRUE(expect_bytes(le, 0, {0x18, 0x00, 0x00, 0x00, 0x10, 0x00, 0x04, 0x44,
                                     0x00, 0x00, 0x00, 0x00, 0xa3, 0xe1, 0xd1, 0x41,
                                     0x46, 0x52, 0x45, 0x51, 0x00, 0x00, 0x00, 0x00}));
    Bytes be = encode("FREQ", 'D', &fc, 1, 1);
    ASSERT_EQ(be.size(), 24u);
    EXPECT_TRUE(expect_bytes(be, 0, {0x00, 0x00, 0x00, 0x18, 0x00, 0x10, 0x04, 0x44,
                                     0x41, 0xd1, 0xe1, 0xa3, 0x00, 0x00, 0x00, 0x00,
                                     0x46, 0x52, 0x45, 0x51, 0x00, 0x00, 0x00, 0x00}));
}

TEST(KwEncode, text_record_keeps_bytes_and_pads_with_zeros) {
    Bytes le = encode("COMMENT", 'A', "demo", 4, 0);
    ASSERT_EQ(le.size(), 24u);
    EXPECT_TRUE(expect_bytes(le, 0, {0x18, 0x00, 0x00, 0x00, 0x14, 0x00, 0x07, 0x41,
                                     'd', 'e', 'm', 'o', 'C', 'O', 'M', 'M',
                                     'E', 'N', 'T', 0x00, 0x00, 0x00, 0x00, 0x00}));
    // Text is never reversed.
    Bytes be = encode("COMMENT", 'A', "demo", 4, 1);
    EXPECT_TRUE(expect_bytes(be, 8, {'d', 'e', 'm', 'o', 'C', 'O', 'M', 'M', 'E', 'N', 'T', 0}));
}

TEST(KwEncode, big_endian_reverses_each_element) {
    const int32_t tc[] = {1, -2};
    Bytes be = encode("TC_PREC", 'L', tc, 2, 1);
    ASSERT_EQ(be.size(), 24u);
    EXPECT_TRUE(expect_bytes(be, 0, {0x00, 0x00, 0x00, 0x18, 0x00, 0x10, 0x07, 0x4c,
                                     0x00, 0x00, 0x00, 0x01, 0xff, 0xff, 0xff, 0xfe,
                                     'T', 'C', '_', 'P', 'R', 'E', 'C', 0x00}));
    const int16_t s[] = {0x0102, 0x0304, 0x0506};
    Bytes i16 = encode("S", 'I', s, 3, 1);
    ASSERT_EQ(i16.size(), 16u);
    EXPECT_TRUE(expect_bytes(i16, 0, {0x00, 0x00, 0x00, 0x10, 0x00, 0x0a, 0x01, 0x49,
                                      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 'S', 0x00}));
}

TEST(KwEncode, refused_arguments_write_nothing) {
    const double d[2] = {1.0, 2.0};
    const std::string tag255(255, 't'), tag256(256, 't');
    const struct {
        const char *what;
        bool null_dst;
        uint64_t capacity;
        const char *tag;
        int type;
        const void *value;
        uint64_t count;
    } rows[] = {
        {"unknown type", false, 512, "TAG", 'Q', d, 1},
        {"lower-case type", false, 512, "TAG", 'd', d, 1},
        {"count 0", false, 512, "TAG", 'D', d, 0},
        {"null buffer", true, 512, "TAG", 'D', d, 1},
        {"null tag", false, 512, nullptr, 'D', d, 1},
        {"null value", false, 512, "TAG", 'D', nullptr, 1},
        {"empty tag", false, 512, "", 'D', d, 1},
        {"256-byte tag", false, 512, tag256.c_str(), 'B', d, 1},
        {"capacity one short", false, 23, "FREQ", 'D', d, 1},
        {"value of 2^31 bytes", false, 512, "BIG", 'B', d, uint64_t{1} << 31},
        {"value bytes wrap to 0", false, 512, "BIG", 'D', d, uint64_t{1} << 61},
        {"count UINT64_MAX", false, 512, "BIG", 'X', d, UINT64_MAX},
    };
    for (const auto &r : rows) {
        Bytes buf(512, 0xee);
        EXPECT_EQ(wfm_kw_encode(r.null_dst ? nullptr : buf.data(), r.capacity, r.tag, r.type,
                                r.value, r.count, 0),
                  0u)
            << r.what;
        EXPECT_EQ(buf, Bytes(512, 0xee)) << r.what;
    }
    Bytes buf(512, 0);
    EXPECT_EQ(wfm_kw_encode(buf.data(), buf.size(), tag255.c_str(), 'B', d, 1, 0), 264u);
    EXPECT_EQ(wfm_kw_encode(buf.data(), 24, "FREQ", 'D', d, 1, 0), 24u);
}

TEST(KwDecode, freq_record_decodes_with_its_byte_order) {
    const Bytes le = {0x18, 0x00, 0x00, 0x00, 0x10, 0x00, 0x04, 0x44, 0x00, 0x00, 0x00, 0x00,
                      0xa3, 0xe1, 0xd1, 0x41, 0x46, 0x52, 0x45, 0x51, 0x00, 0x00, 0x00, 0x00};
    wfm_kw kw = untouched_kw();
    uint64_t consumed = 0;
    ASSERT_EQ(wfm_kw_decode(le.data(), le.size(), 0, &kw, &consumed), 0);
    EXPECT_STREQ(kw.tag, "FREQ");
    EXPECT_EQ(kw.type, 'D');
    EXPECT_EQ(kw.elem_size, 8u);
    EXPECT_EQ(kw.count, 1u);
    EXPECT_EQ(consumed, 24u);
    double fc;
    std::memcpy(&fc, kw.value, 8);
    EXPECT_EQ(fc, 1.2e9);
    std::free(kw.value);

    // Read big endian the length is 402653184, beyond the 24 bytes given.
    kw = untouched_kw();
    const wfm_kw before = kw;
    consumed = 7;
    EXPECT_EQ(wfm_kw_decode(le.data(), le.size(), 1, &kw, &consumed), -1);
    EXPECT_EQ(consumed, 7u);
    EXPECT_TRUE(same_kw(kw, before));
}

TEST(KwDecode, big_endian_elements_come_back_in_host_order) {
    const Bytes be = {0x00, 0x00, 0x00, 0x18, 0x00, 0x10, 0x07, 0x4c, 0x00, 0x00, 0x00, 0x01,
                      0xff, 0xff, 0xff, 0xfe, 'T',  'C',  '_',  'P',  'R',  'E',  'C',  0x00};
    wfm_kw kw = untouched_kw();
    uint64_t consumed = 0;
    ASSERT_EQ(wfm_kw_decode(be.data(), be.size(), 1, &kw, &consumed), 0);
    EXPECT_STREQ(kw.tag, "TC_PREC");
    EXPECT_EQ(kw.type, 'L');
    ASSERT_EQ(kw.count, 2u);
    int32_t v[2];
    std::memcpy(v, kw.value, sizeof v);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[1], -2);
    std::free(kw.value);
}

TEST(KwDecode, malformed_records_answer_minus_one_and_touch_nothing) {
    // Little-endian headers: length, non-data length, tag length, type.
    const struct {
        const char *what;
        Bytes rec;
        uint64_t available;  // 0: the record's size
    } rows[] = {
        {"7 bytes available", {0x10, 0, 0, 0, 0x08, 0, 0, 'B'}, 7},
        {"length below 8", {0x07, 0, 0, 0, 0x08, 0, 0, 'B'}, 0},
        {"negative length", {0xf8, 0xff, 0xff, 0xff, 0x08, 0, 0, 'B'}, 0},
        {"non-data length below 8", {0x08, 0, 0, 0, 0x07, 0, 0, 'B'}, 0},
        {"negative non-data length", {0x08, 0, 0, 0, 0xf8, 0xff, 0, 'B'}, 0},
        {"length beyond the bytes available", {0x10, 0, 0, 0, 0x08, 0, 0, 'B', 1, 2, 3, 4, 5, 6, 7}, 0},
        {"length below non-data length", {0x10, 0, 0, 0, 0x18, 0, 0, 'B', 1, 2, 3, 4, 5, 6, 7, 8}, 0},
        {"tag runs past the record", {0x10, 0, 0, 0, 0x08, 0, 0x02, 'B', 1, 2, 3, 4, 5, 6, 7, 'T'}, 0},
    };
    for (const auto &r : rows) {
        wfm_kw kw = untouched_kw();
        const wfm_kw before = kw;
        uint64_t consumed = 99;
        uint64_t avail = r.available ? r.available : r.rec.size();
        EXPECT_EQ(wfm_kw_decode(r.rec.data(), avail, 0, &kw, &consumed), -1) << r.what;
        EXPECT_EQ(consumed, 99u) << r.what;
        EXPECT_TRUE(same_kw(kw, before)) << r.what;
    }
    wfm_kw kw;
    uint64_t consumed;
    EXPECT_EQ(wfm_kw_decode(nullptr, 16, 0, &kw, &consumed), -1);
}

TEST(KwDecode, well_formed_records_it_does_not_handle_are_skipped_with_their_length) {
    const struct {
        const char *what;
        Bytes rec;
    } rows[] = {
        {"type Z", {0x10, 0, 0, 0, 0x0c, 0, 0x01, 'Z', 1, 2, 3, 4, 'T', 0, 0, 0}},
        {"type with the high bit set", {0x10, 0, 0, 0, 0x0c, 0, 0x01, 0xc4, 1, 2, 3, 4, 'T', 0, 0, 0}},
        {"no value bytes", {0x10, 0, 0, 0, 0x10, 0, 0x01, 'B', 'T', 0, 0, 0, 0, 0, 0, 0}},
        {"3 value bytes of type I", {0x10, 0, 0, 0, 0x0d, 0, 0x01, 'I', 1, 2, 3, 'T', 0, 0, 0, 0}},
    };
    for (const auto &r : rows) {
        wfm_kw kw = untouched_kw();
        const wfm_kw before = kw;
        uint64_t consumed = 0;
        EXPECT_EQ(wfm_kw_decode(r.rec.data(), r.rec.size(), 0, &kw, &consumed), 1) << r.what;
        EXPECT_EQ(consumed, 16u) << r.what;
        EXPECT_TRUE(same_kw(kw, before)) << r.what;
    }
}

TEST(KwDecode, reads_the_tag_right_after_the_value) {
    // Tag length 0 gives an empty tag; a generous non-data length is taken.
    const Bytes empty_tag = {0x10, 0, 0, 0, 0x0c, 0, 0x00, 'B', 9, 8, 7, 6, 0, 0, 0, 0};
    wfm_kw kw = untouched_kw();
    uint64_t consumed = 0;
    ASSERT_EQ(wfm_kw_decode(empty_tag.data(), empty_tag.size(), 0, &kw, &consumed), 0);
    EXPECT_STREQ(kw.tag, "");
    EXPECT_EQ(kw.count, 4u);
    EXPECT_EQ(std::memcmp(kw.value, "\x09\x08\x07\x06", 4), 0);
    std::free(kw.value);

    const Bytes wide = {0x18, 0, 0, 0, 0x14, 0, 0x02, 'B', 5, 6, 7, 8,
                        'A', 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    kw = untouched_kw();
    ASSERT_EQ(wfm_kw_decode(wide.data(), wide.size(), 0, &kw, &consumed), 0);
    EXPECT_STREQ(kw.tag, "AB");
    EXPECT_EQ(kw.count, 4u);
    EXPECT_EQ(consumed, 24u);
    std::free(kw.value);
}

TEST(KwCodec, random_records_round_trip_and_walk_in_both_orders) {
    const char types[] = "ABIFLTXD";
    std::mt19937_64 rng(20240131);
    for (int be = 0; be <= 1; be++) {
        struct Want {
            std::string tag;
            char type;
            Bytes value;
        };
        std::vector<Want> wants;
        Bytes stream;
        for (int i = 0; i < 200; i++) {
            Want w;
            w.type = types[rng() % 8];
            const uint64_t es = wfm_kw_elem_size(w.type);
            const uint64_t count = 1 + rng() % 40;
            size_t tag_len = 1 + rng() % 255;
            for (size_t k = 0; k < tag_len; k++) w.tag += static_cast<char>('!' + rng() % 94);
            for (uint64_t k = 0; k < count * es; k++) w.value.push_back(static_cast<uint8_t>(rng()));
            Bytes rec(wfm_kw_entry_size(tag_len, count * es));
            ASSERT_EQ(wfm_kw_encode(rec.data(), rec.size(), w.tag.c_str(), w.type, w.value.data(),
                                    count, be),
                      rec.size());
            stream.insert(stream.end(), rec.begin(), rec.end());
            wants.push_back(w);
        }
        uint64_t off = 0;
        for (const Want &w : wants) {
            wfm_kw kw;
            uint64_t consumed = 0;
            ASSERT_EQ(wfm_kw_decode(stream.data() + off, stream.size() - off, be, &kw, &consumed), 0);
            EXPECT_EQ(kw.tag, w.tag);
            EXPECT_EQ(kw.type, w.type);
            EXPECT_EQ(kw.elem_size, wfm_kw_elem_size(w.type));
            ASSERT_EQ(kw.count * kw.elem_size, w.value.size());
            EXPECT_EQ(std::memcmp(kw.value, w.value.data(), w.value.size()), 0);
            std::free(kw.value);
            off += consumed;
        }
        EXPECT_EQ(off, stream.size());
    }
}
