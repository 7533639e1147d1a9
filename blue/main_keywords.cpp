// Filing keywords of a blue capture: the main-header text area and the
// extended-header record buffer.
#include <cstdlib>
#include <cstring>

#include "blue_internal.h"
#include "kw_internal.h"
#include "wfm_internal.h"

static_assert(sizeof(WfmWriter::main_kw) == wfm::kMainKwCap);

namespace {

// Text keywords that belong in the main header when they fit.
constexpr const char *MAIN_TAGS[] = {"CREATOR", "IO", "PACKET", "PKT_BYTE_COUNT", "TC_PREC", "VER"};

bool is_main_tag(const char *tag) {
    for (const char *t : MAIN_TAGS)
        if (std::strcmp(tag, t) == 0) return true;
    return false;
}

// Appends "tag=value\0"; false when the entry does not fit.
bool add_main(WfmWriter *w, const char *tag, const void *value, uint64_t count) {
    const uint64_t tag_len = std::strlen(tag);
    const uint64_t used = w->main_kw_len;
    // Written as a subtraction so that no sum can wrap.
    if (used > wfm::kMainKwCap || tag_len + 2 > wfm::kMainKwCap - used ||
        count > wfm::kMainKwCap - used - tag_len - 2)
        return false;
    char *p = w->main_kw + used;
    std::memcpy(p, tag, tag_len);
    p[tag_len] = '=';
    std::memcpy(p + tag_len + 1, value, count);
    p[tag_len + 1 + count] = '\0';
    w->main_kw_len = used + tag_len + count + 2;
    return true;
}

// Makes room for need bytes in the extended buffer, doubling from 256.
bool reserve_ext(WfmWriter *w, uint64_t need) {
    if (need <= w->ext_cap) return true;
    uint64_t cap = w->ext_cap ? w->ext_cap : 256;
    while (cap < need) cap = cap > UINT64_MAX / 2 ? need : cap * 2;
    if (cap > SIZE_MAX) return false;
    void *p = std::realloc(w->ext_buf, static_cast<size_t>(cap));
    if (!p) return false;
    w->ext_buf = static_cast<unsigned char *>(p);
    w->ext_cap = cap;
    return true;
}

int add_extended(WfmWriter *w, const char *tag, int type, const void *value, uint64_t count,
                 uint64_t elem_size) {
    const size_t tag_len = strnlen(tag, wfm::kKwMaxTag + 1);
    if (tag_len < 1 || tag_len > wfm::kKwMaxTag) return -1;
    // Refused before growing the buffer: the encoder would refuse it too.
    const uint64_t entry = wfm_kw_entry_size(tag_len, count * elem_size);
    if (entry >= wfm::kKwRecordLimit || entry > UINT64_MAX - w->ext_len) return -1;
    if (!reserve_ext(w, w->ext_len + entry)) return -1;
    uint64_t n = wfm_kw_encode(w->ext_buf + w->ext_len, w->ext_cap - w->ext_len, tag, type, value,
                               count, w->big_endian);
    if (n == 0) return -1;
    w->ext_len += n;
    return 0;
}

}  // namespace

namespace wfm {

void blue_record_freq(WfmWriter *w) {
    double fc = w->fc;
    (void)wfm_writer_add_keyword(w, "FREQ", 'D', &fc, 1);
    char text[kFreqTextCap];
    size_t n = blue_freq_text(text, fc);
    if (n >= 1 && n <= kMainKwCap - 1) {
        std::memcpy(w->main_kw, text, n + 1);
        w->main_kw_len = n + 1;
    } else {
        w->main_kw_len = 0;
    }
}

}  // namespace wfm

extern "C" int wfm_writer_add_keyword(WfmWriter *w, const char *tag, int type, const void *value,
                                      uint64_t count) {
    if (!w || w->file_type != WFM_BLUE) return -1;
    const uint64_t es = wfm_kw_elem_size(type);
    if (count == 0 || !value || !tag || es == 0) return -1;
    // Bounds every size below: value bytes stay under 2^31.
    if (count > wfm::kw_max_count(es)) return -1;
    if (type == 'A' && is_main_tag(tag) && add_main(w, tag, value, count)) return 0;
    return add_extended(w, tag, type, value, count, es);
}
