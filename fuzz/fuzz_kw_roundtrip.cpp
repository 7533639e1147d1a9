// Encode then decode: any tag, type code, element count and value bytes.
// A record the encoder takes has the documented size and decodes to the
// same keyword in its own byte order; one byte less of room writes nothing;
// the other byte order and the standard-tag checker must not misbehave.
#include <cstring>

#include "fuzz_input.h"
#include "wfm_writer.h"

namespace fuzz_kw_roundtrip_impl {

const char kCodes[] = {'A', 'B', 'I', 'L', 'T', 'X', 'F', 'D'};

void run(fuzz::Input &in) {
    const uint8_t t = in.byte();
    const int type = t & 0x80 ? static_cast<signed char>(in.byte()) : kCodes[t % 8];
    const int be = in.byte() & 1;
    const size_t tag_cap = in.take<uint16_t>() % 300;
    std::vector<uint8_t> tag_bytes = in.bytes(tag_cap);
    std::string tag(tag_bytes.begin(), tag_bytes.end());  // may hold NULs: it ends at the first
    const size_t value_len = in.take<uint16_t>() % 2048;
    const std::vector<uint8_t> value = in.bytes(value_len);

    const uint64_t es = wfm_kw_elem_size(type);
    const uint64_t count = es ? value_len / es : value_len;
    const size_t tag_len = std::strlen(tag.c_str());
    const bool valid = es != 0 && count != 0 && tag_len >= 1 && tag_len <= 255;
    const uint64_t size = wfm_kw_entry_size(tag_len, count * es);
    std::vector<uint8_t> buf(size + 8, 0xEE);

    // One byte short: refused and untouched.
    uint64_t n = wfm_kw_encode(buf.data(), size - 1, tag.c_str(), type, value.data(), count, be);
    FUZZ_CHECK(n == 0);
    for (uint8_t b : buf) FUZZ_CHECK(b == 0xEE);

    std::vector<uint8_t> rec(size);
    n = wfm_kw_encode(rec.data(), rec.size(), tag.c_str(), type, value.data(), count, be);
    FUZZ_CHECK(n == (valid ? size : 0));
    if (n) {
        wfm_kw kw;
        uint64_t used = 0;
        FUZZ_CHECK(wfm_kw_decode(rec.data(), rec.size(), be, &kw, &used) == 0);
        FUZZ_CHECK(used == n && kw.type == type && kw.elem_size == es && kw.count == count);
        FUZZ_CHECK(std::strcmp(kw.tag, tag.c_str()) == 0);
        FUZZ_CHECK(std::memcmp(kw.value, value.data(), count * es) == 0);
        std::free(kw.value);
        // The other byte order reads other lengths: any answer, no overrun.
        uint64_t other = UINT64_MAX;
        if (wfm_kw_decode(rec.data(), rec.size(), !be, &kw, &other) == 0) std::free(kw.value);
    }
    int c = wfm_kw_check_standard(tag.c_str(), type, value.data(), value.size());
    FUZZ_CHECK(c >= -1 && c <= 1);
}

}  // namespace fuzz_kw_roundtrip_impl

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input in(data, size);
    fuzz_kw_roundtrip_impl::run(in);
    return 0;
}
