// The extended-header keyword record: sizes, encoder and decoder.
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "kw_internal.h"
#include "wfm_internal.h"

namespace wfm {

uint64_t kw_max_count(uint64_t elem_size) { return (kKwRecordLimit - 1) / elem_size; }

}  // namespace wfm

using namespace wfm;

namespace {

constexpr size_t kLength = 0, kNonData = 4, kTagLength = 6, kTypeCode = 7, kValue = 8;

}  // namespace

extern "C" uint64_t wfm_kw_elem_size(int type) {
    switch (type) {
        case 'A': case 'B': return 1;
        case 'I': return 2;
        case 'F': case 'L': case 'T': return 4;
        case 'D': case 'X': return 8;
        default: return 0;
    }
}

extern "C" uint64_t wfm_kw_entry_size(uint64_t tag_len, uint64_t value_len) {
    // Saturates at the largest multiple of 8 instead of wrapping, so a
    // caller comparing the result with a capacity refuses the record.
    constexpr uint64_t kMax = UINT64_MAX & ~uint64_t{7};
    if (tag_len > kMax - 8 || value_len > kMax - 8 - tag_len) return kMax;
    return (8 + tag_len + value_len + 7) & ~uint64_t{7};
}

extern "C" uint64_t wfm_kw_encode(uint8_t *dst, uint64_t capacity, const char *tag, int type,
                                  const void *value, uint64_t count, int big_endian) {
    const uint64_t es = wfm_kw_elem_size(type);
    if (es == 0 || count == 0 || !dst || !tag || !value) return 0;
    const size_t tag_len = strnlen(tag, kKwMaxTag + 1);
    if (tag_len < 1 || tag_len > kKwMaxTag) return 0;
    if (count > kw_max_count(es)) return 0;
    const uint64_t value_len = count * es;
    const uint64_t size = wfm_kw_entry_size(tag_len, value_len);
    if (size >= kKwRecordLimit || size > capacity) return 0;

    const bool be = big_endian != 0;
    std::memset(dst, 0, size);
    blue_put_i32(dst + kLength, static_cast<int32_t>(size), be);
    // 8 + tag + padding: at most 270.
    blue_put_i16(dst + kNonData, static_cast<int16_t>(size - value_len), be);
    dst[kTagLength] = static_cast<uint8_t>(tag_len);
    dst[kTypeCode] = static_cast<uint8_t>(type);
    blue_copy_elements(dst + kValue, static_cast<const unsigned char *>(value), count, es, be);
    std::memcpy(dst + kValue + value_len, tag, tag_len);
    return size;
}

extern "C" int wfm_kw_decode(const uint8_t *src, uint64_t available, int big_endian, wfm_kw *out,
                             uint64_t *consumed) {
    if (!src || !out || !consumed || available < 8) return -1;
    const bool be = big_endian != 0;
    const int64_t length = static_cast<int32_t>(blue_get<uint32_t>(src + kLength, be));
    const int64_t non_data = static_cast<int16_t>(blue_get<uint16_t>(src + kNonData, be));
    if (length < 8 || non_data < 8) return -1;
    if (static_cast<uint64_t>(length) > available) return -1;
    if (length < non_data) return -1;
    const int64_t value_len = length - non_data;
    const int64_t tag_len = src[kTagLength];
    if (8 + value_len + tag_len > length) return -1;
    *consumed = static_cast<uint64_t>(length);

    const int type = static_cast<signed char>(src[kTypeCode]);
    const uint64_t es = wfm_kw_elem_size(type);
    if (es == 0 || value_len == 0 || static_cast<uint64_t>(value_len) % es != 0) return 1;

    auto *value = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(value_len)));
    out->value = value;
    if (!value) return -1;
    const uint64_t count = static_cast<uint64_t>(value_len) / es;
    blue_copy_elements(value, src + kValue, count, es, be);
    std::memcpy(out->tag, src + kValue + value_len, static_cast<size_t>(tag_len));
    out->tag[tag_len] = '\0';
    out->type = static_cast<char>(type);
    out->elem_size = es;
    out->count = count;
    return 0;
}
