// Numbers and element arrays in a capture's byte order.  Header and record
// numbers are stored by value, so they come out right on any host; element
// arrays arrive in host order and are reversed element by element when the
// capture's order differs from the host's.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace wfm {

inline constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

template <typename U>
inline void blue_put(unsigned char *p, U v, bool big_endian) {
    for (unsigned i = 0; i < sizeof(U); i++) {
        unsigned shift = big_endian ? 8 * (sizeof(U) - 1 - i) : 8 * i;
        p[i] = static_cast<unsigned char>(v >> shift);
    }
}

template <typename U>
inline U blue_get(const unsigned char *p, bool big_endian) {
    U v = 0;
    for (unsigned i = 0; i < sizeof(U); i++) {
        unsigned shift = big_endian ? 8 * (sizeof(U) - 1 - i) : 8 * i;
        v = static_cast<U>(v | static_cast<U>(static_cast<U>(p[i]) << shift));
    }
    return v;
}

inline void blue_put_i16(unsigned char *p, int16_t v, bool be) { blue_put(p, static_cast<uint16_t>(v), be); }
inline void blue_put_i32(unsigned char *p, int32_t v, bool be) { blue_put(p, static_cast<uint32_t>(v), be); }
inline void blue_put_f64(unsigned char *p, double v, bool be) { blue_put(p, std::bit_cast<uint64_t>(v), be); }

// Copies count elements of elem_size bytes between host order and the
// given order (the operation is its own inverse).
inline void blue_copy_elements(unsigned char *dst, const unsigned char *src, uint64_t count,
                               uint64_t elem_size, bool big_endian) {
    if (elem_size == 1 || big_endian == kHostBigEndian) {
        std::memcpy(dst, src, count * elem_size);
        return;
    }
    for (uint64_t i = 0; i < count; i++, dst += elem_size, src += elem_size)
        for (uint64_t b = 0; b < elem_size; b++) dst[b] = src[elem_size - 1 - b];
}

}  // namespace wfm
