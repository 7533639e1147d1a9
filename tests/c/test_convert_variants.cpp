// Every vectorised block converter this CPU runs against the scalar
// reference: same bytes, peak and clip count on random and special values,
// every wire type and byte order, odd lengths and unaligned buffers.
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "sample_convert.h"
#include "test_support.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

float from_bits(uint32_t b) { return std::bit_cast<float>(b); }

// Components that sit on the edges of the definition.
std::vector<float> special_values() {
    std::vector<float> v = {
        0.0f, -0.0f, 1.0f, -1.0f, kInf, -kInf, std::nextafter(1.0f, 2.0f),
        std::nextafter(1.0f, 0.0f), std::nextafter(-1.0f, -2.0f), std::nextafter(-1.0f, 0.0f),
        0.5f, -0.5f, std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
        std::numeric_limits<float>::min(), std::numeric_limits<float>::denorm_min(),
        -std::numeric_limits<float>::denorm_min(), from_bits(0x007FFFFF), from_bits(0x807FFFFF),
        1e30f, -1e30f, 3.0e38f, 1e-30f,
        from_bits(0x7FC00000), from_bits(0xFFC00000),  // quiet NaN, both signs
        from_bits(0x7FC12345), from_bits(0xFF812345),  // NaN payloads, one signalling
        from_bits(0x7F800001),
    };
    // Just below and above k / SCALE: a single-precision product can round
    // these onto the integer k, where truncation must still give k - 1.
    for (double scale : {127.0, 32767.0, 2147483647.0}) {
        for (double k : {1.0, 2.0, 63.0, 100.0, 126.0, 127.0, 1000.0, 16383.0, 32766.0, 32767.0,
                         1e6, 1073741823.0, 2147483646.0}) {
            if (k > scale) continue;
            float x = static_cast<float>(k / scale);
            for (float y : {std::nextafter(x, 0.0f), x, std::nextafter(x, 2.0f)}) {
                v.push_back(y);
                v.push_back(-y);
            }
        }
    }
    return v;
}

// Samples mixing the special values with random ones of several scales.
std::vector<float> test_input(size_t components, uint32_t seed) {
    std::mt19937 rng(seed);
    const std::vector<float> special = special_values();
    std::uniform_real_distribution<float> unit(-1.25f, 1.25f);
    std::uniform_int_distribution<uint32_t> bits;
    std::vector<float> v(components);
    for (size_t i = 0; i < components; i++) {
        switch (rng() % 8) {
            case 0:
                v[i] = special[rng() % special.size()];
                break;
            case 1:
                v[i] = from_bits(bits(rng));  // any pattern, NaNs and subnormals included
                break;
            case 2:
                v[i] = unit(rng) * 1e-6f;
                break;
            default:
                v[i] = unit(rng);
                break;
        }
    }
    return v;
}

struct Result {
    wfm_test::Bytes out;
    uint32_t peak_bits;
    uint64_t clip;
};

Result run(wfm::ConvertBlockFn fn, const float *in, uint64_t n, int sample_type, bool big_endian,
           float gain, bool track, float peak, size_t out_offset) {
    const size_t size = n * 2 * wfm::ELEM[sample_type];
    std::vector<uint8_t> buf(size + out_offset + 64, 0xA5);
    uint64_t clip = 7;
    fn(in, n, buf.data() + out_offset, big_endian, gain, track, &peak, &clip);
    // Nothing beyond the block may be touched.
    for (size_t i = out_offset + size; i < buf.size(); i++) EXPECT_EQ(buf[i], 0xA5) << "byte " << i;
    return {wfm_test::Bytes(buf.begin() + out_offset, buf.begin() + out_offset + size),
            std::bit_cast<uint32_t>(peak), clip};
}

std::vector<wfm::ConvertVariant> vector_variants() {
    std::vector<wfm::ConvertVariant> v;
    for (int i = 1; i < wfm::convert_variant_count(); i++) {
        wfm::ConvertVariant var = wfm::convert_variant(i);
        if (var.supported) v.push_back(var);
    }
    return v;
}

TEST(ConvertVariants, match_the_reference_on_every_type_order_and_length) {
    const std::vector<wfm::ConvertVariant> variants = vector_variants();
    if (variants.empty()) GTEST_SKIP() << "no vector variant runs on this CPU";
    // Lengths around every step width and the tail, and one long block.
    std::vector<uint64_t> lengths;
    for (uint64_t n = 0; n <= 41; n++) lengths.push_back(n);
    lengths.push_back(4099);
    const std::vector<float> input = test_input(2 * 4099 + 8, 1);
    const float gains[] = {1.0f, 0.5f, -3.75f, 1e-3f, 7e30f};
    uint32_t round = 0;
    for (const wfm::ConvertVariant &var : variants) {
        for (int st = 0; st < wfm::kNumSampleTypes; st++) {
            for (bool be : {false, true}) {
                for (bool track : {false, true}) {
                    for (uint64_t n : lengths) {
                        round++;
                        const size_t in_offset = round % 3;  // in floats: unaligned vectors
                        const size_t out_offset = round % 5;
                        const float gain = gains[round % 5];
                        const float peak0 = round % 2 ? 0.0f : 0.75f;
                        const float *in = input.data() + in_offset;
                        Result want = run(wfm::CONVERT_BLOCK_SCALAR[st], in, n, st, be, gain,
                                          track, peak0, out_offset);
                        Result got = run(var.table[st], in, n, st, be, gain, track, peak0,
                                         out_offset);
                        SCOPED_TRACE(std::string(var.name) + " " + wfm::STYPE_NAMES[st] +
                                     (be ? " be" : " le") + (track ? " track" : "") +
                                     " n=" + std::to_string(n) + " gain=" + std::to_string(gain));
                        ASSERT_EQ(got.out, want.out);
                        ASSERT_EQ(got.peak_bits, want.peak_bits);
                        ASSERT_EQ(got.clip, want.clip);
                    }
                }
            }
        }
    }
}

TEST(ConvertVariants, match_the_reference_on_each_special_value_in_every_lane) {
    // Each special value in each lane position of a 16-sample block, beside
    // neighbours that would win the meter if the NaN rules were broken.
    const std::vector<wfm::ConvertVariant> variants = vector_variants();
    if (variants.empty()) GTEST_SKIP() << "no vector variant runs on this CPU";
    const std::vector<float> special = special_values();
    for (const wfm::ConvertVariant &var : variants) {
        for (int st = 0; st < wfm::kNumSampleTypes; st++) {
            for (float a : special) {
                for (size_t lane = 0; lane < 32; lane++) {
                    std::vector<float> block(32, 0.25f);
                    block[lane] = a;
                    block[lane ^ 1] = lane % 3 ? 2.0f : std::nanf("");
                    for (bool be : {false, true}) {
                        Result want = run(wfm::CONVERT_BLOCK_SCALAR[st], block.data(), 16, st, be,
                                          1.0f, true, 0.0f, 0);
                        Result got = run(var.table[st], block.data(), 16, st, be, 1.0f, true,
                                         0.0f, 0);
                        SCOPED_TRACE(std::string(var.name) + " " + wfm::STYPE_NAMES[st] +
                                     " lane " + std::to_string(lane) + " value bits " +
                                     std::to_string(std::bit_cast<uint32_t>(a)));
                        ASSERT_EQ(got.out, want.out);
                        ASSERT_EQ(got.peak_bits, want.peak_bits);
                        ASSERT_EQ(got.clip, want.clip);
                    }
                }
            }
        }
    }
}

TEST(ConvertVariants, quantiser_is_exact_over_every_float_in_one_binade) {
    // All 2^23 floats of [0.5, 1) and their negatives, where the truncation
    // shortcuts have the least room, for every integer type.
    const std::vector<wfm::ConvertVariant> variants = vector_variants();
    if (variants.empty()) GTEST_SKIP() << "no vector variant runs on this CPU";
    std::vector<float> block(2u << 23);
    for (uint32_t m = 0; m < (1u << 23); m++) {
        block[2 * m] = from_bits(0x3F000000u | m);
        block[2 * m + 1] = -block[2 * m];
    }
    for (const wfm::ConvertVariant &var : variants) {
        for (int st : {WFM_CI32, WFM_CI16, WFM_CI8}) {
            Result want = run(wfm::CONVERT_BLOCK_SCALAR[st], block.data(), 1u << 23, st, false,
                              1.0f, false, 0.0f, 0);
            Result got = run(var.table[st], block.data(), 1u << 23, st, false, 1.0f, false, 0.0f,
                             0);
            EXPECT_TRUE(got.out == want.out) << var.name << " " << wfm::STYPE_NAMES[st];
        }
    }
}

TEST(ConvertDispatch, chooses_a_supported_variant_and_forces_only_known_ones) {
    const wfm::ConvertBlockFn *chosen = wfm::convert_table();
    bool found = false;
    for (int i = 0; i < wfm::convert_variant_count(); i++) {
        wfm::ConvertVariant v = wfm::convert_variant(i);
        if (v.table == chosen) found = v.supported;
    }
    EXPECT_TRUE(found);
    EXPECT_FALSE(wfm::convert_force_variant("no-such-variant"));
    EXPECT_EQ(wfm::convert_table(), chosen);
    ASSERT_TRUE(wfm::convert_force_variant("scalar"));
    EXPECT_EQ(wfm::convert_table(), wfm::CONVERT_BLOCK_SCALAR);
    ASSERT_TRUE(wfm::convert_force_variant(nullptr));
    EXPECT_EQ(wfm::convert_table(), chosen);
}

}  // namespace
