// The checker of standard keyword tags.
#include <cstring>

#include "test_support.h"
#include "wfm_writer.h"

TEST(KwStandard, checks_the_shape_of_each_standard_tag) {
    const struct {
        const char *tag;
        int type;
        const char *value;
        int want;
    } rows[] = {
        {"ACQTIME", 'A', "12:34:56", 1},
        {"ACQTIME", 'A', "99:99:99", 1},
        {"ACQTIME", 'A', "12-34-56", -1},
        {"ACQTIME", 'A', "12:34:5", -1},
        {"ACQTIME", 'A', "12:34:567", -1},
        {"ACQTIME", 'A', "1a:34:56", -1},
        {"ACQTIME", 'B', "12:34:56", -1},
        {"ACQDATE", 'A', "20240131", 1},
        {"ACQDATE", 'A', "24.031", 1},
        {"ACQDATE", 'A', "........", 1},
        {"ACQDATE", 'A', "240.31", -1},
        {"ACQDATE", 'A', "2024-01-31", -1},
        {"ACQDATE", 'A', "2024013", -1},
        {"ACQDATE", 'A', "2024O131", -1},
        {"ACQDATE", 'L', "20240131", -1},
        {"COMMENT", 'A', "anything at all", 1},
        {"COMMENT", 'A', "", 1},
        {"COMMENT", 'L', "abcd", -1},
        {"TIMELINE", 'A', "x", 1},
        {"TIMELINE", 'D', "12345678", -1},
        {"SUBREC_DEF", 'A', "x", -1},
        {"SUBREC_DESCRIP", 'A', "x", -1},
        {"T4INDEX", 'X', "12345678", -1},
        {"GAIN", 'A', "x", 0},
        {"acqtime", 'A', "12:34:56", 0},
        {"ACQTIME ", 'A', "12:34:56", 0},
    };
    for (const auto &r : rows)
        EXPECT_EQ(wfm_kw_check_standard(r.tag, r.type, r.value, std::strlen(r.value)), r.want)
            << r.tag << " " << static_cast<char>(r.type) << " \"" << r.value << "\"";
}

TEST(KwStandard, reads_only_the_given_length_of_the_value) {
    // No terminating NUL is needed: the length bounds the read.
    const char time[8] = {'0', '1', ':', '0', '2', ':', '0', '3'};
    EXPECT_EQ(wfm_kw_check_standard("ACQTIME", 'A', time, sizeof time), 1);
    EXPECT_EQ(wfm_kw_check_standard("ACQDATE", 'A', "20240131trailing", 8), 1);
    // Only ACQDATE and ACQTIME read the value at all.
    EXPECT_EQ(wfm_kw_check_standard("COMMENT", 'A', nullptr, 5), 1);
    EXPECT_EQ(wfm_kw_check_standard("ACQTIME", 'A', nullptr, 8), -1);
}
