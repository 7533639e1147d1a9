// The checker of standard extended-header keyword tags.
#include <cstring>

#include "wfm_internal.h"

namespace {

enum Rule { kDate, kTime, kAnyText, kRefused };

struct StandardTag {
    const char *tag;
    Rule rule;
};

constexpr StandardTag STANDARD_TAGS[] = {
    {"ACQDATE", kDate},        {"ACQTIME", kTime},           {"COMMENT", kAnyText},
    {"TIMELINE", kAnyText},    {"SUBREC_DEF", kRefused},     {"SUBREC_DESCRIP", kRefused},
    {"T4INDEX", kRefused},
};

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// "yyyymmdd" or "yy.ddd" in shape only: digits and dots.
bool date_shape(const unsigned char *v, uint64_t len) {
    if (!(len == 8 || (len == 6 && v[2] == '.'))) return false;
    for (uint64_t i = 0; i < len; i++)
        if (!is_digit(v[i]) && v[i] != '.') return false;
    return true;
}

// "hh:mm:ss" in shape only.
bool time_shape(const unsigned char *v, uint64_t len) {
    if (len != 8) return false;
    for (uint64_t i = 0; i < len; i++)
        if (i == 2 || i == 5 ? v[i] != ':' : !is_digit(v[i])) return false;
    return true;
}

}  // namespace

extern "C" int wfm_kw_check_standard(const char *tag, int type, const void *value, uint64_t len) {
    if (!tag) return -1;
    const auto *v = static_cast<const unsigned char *>(value);
    for (const StandardTag &s : STANDARD_TAGS) {
        if (std::strcmp(tag, s.tag) != 0) continue;
        switch (s.rule) {
            case kDate: return type == 'A' && v && date_shape(v, len) ? 1 : -1;
            case kTime: return type == 'A' && v && time_shape(v, len) ? 1 : -1;
            case kAnyText: return type == 'A' ? 1 : -1;
            case kRefused: return -1;
        }
    }
    return 0;
}
