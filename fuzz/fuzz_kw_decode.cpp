// wfm_kw_decode on untrusted bytes, in both byte orders: a walk over the
// input as an extended header.  Every answer must stay within the bytes
// given, a decoded record must re-encode and decode to the same keyword, and
// a skipped or malformed record must leave the output untouched.
#include <cstring>

#include "fuzz_input.h"
#include "wfm_writer.h"

namespace fuzz_kw_decode_impl {

void walk(const uint8_t *data, size_t size, int be) {
    uint64_t off = 0;
    while (off < size) {
        // An exact-size copy, so that a read past the bytes given is caught.
        std::vector<uint8_t> rest(data + off, data + size);
        wfm_kw kw;
        std::memset(&kw, 0xA5, sizeof kw);
        wfm_kw untouched = kw;
        uint64_t consumed = UINT64_MAX;
        int r = wfm_kw_decode(rest.data(), rest.size(), be, &kw, &consumed);
        FUZZ_CHECK(r == -1 || r == 0 || r == 1);
        if (r == -1) {
            FUZZ_CHECK(consumed == UINT64_MAX || (consumed >= 8 && consumed <= rest.size()));
            return;
        }
        FUZZ_CHECK(consumed >= 8 && consumed <= rest.size());
        if (r == 1) {
            FUZZ_CHECK(std::memcmp(&kw, &untouched, sizeof kw) == 0);
        } else {
            const uint64_t es = wfm_kw_elem_size(kw.type);
            FUZZ_CHECK(es != 0 && es == kw.elem_size && kw.count > 0);
            FUZZ_CHECK(kw.count * es + 8 <= consumed);
            const size_t tag_len = strnlen(kw.tag, sizeof kw.tag);
            FUZZ_CHECK(tag_len < sizeof kw.tag);
            // Tags with an inner NUL or none at all cannot be encoded again.
            if (tag_len > 0 && tag_len == rest[6]) {
                std::vector<uint8_t> again(wfm_kw_entry_size(tag_len, kw.count * es));
                uint64_t n = wfm_kw_encode(again.data(), again.size(), kw.tag, kw.type, kw.value,
                                           kw.count, be);
                FUZZ_CHECK(n == again.size());
                wfm_kw back;
                uint64_t used = 0;
                FUZZ_CHECK(wfm_kw_decode(again.data(), again.size(), be, &back, &used) == 0);
                FUZZ_CHECK(used == n && back.type == kw.type && back.count == kw.count);
                FUZZ_CHECK(std::strcmp(back.tag, kw.tag) == 0);
                FUZZ_CHECK(std::memcmp(back.value, kw.value, kw.count * es) == 0);
                std::free(back.value);
            }
            (void)wfm_kw_check_standard(kw.tag, kw.type, kw.value, kw.count * es);
            std::free(kw.value);
        }
        off += consumed;
    }
}

}  // namespace fuzz_kw_decode_impl

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_kw_decode_impl::walk(data, size, 0);
    fuzz_kw_decode_impl::walk(data, size, 1);
    return 0;
}
