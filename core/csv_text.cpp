// The text form of a capture: one line "I,Q\n" per sample, gathered into
// batches so that the stream sees one write per batch.  Numbers are
// formatted here in integer arithmetic or, for rare magnitudes, by
// std::to_chars; neither consults the C locale.
#include <bit>
#include <charconv>
#include <cstring>

#include "sample_convert.h"

namespace {

// Longest component: "-" + 39 integer digits of FLT_MAX + "." + 9 digits.
constexpr size_t kFieldMax = 64;
constexpr size_t kLineMax = 2 * kFieldMax + 2;
constexpr size_t kBatchBytes = 32 * 1024;

constexpr char DIGIT_PAIRS[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char *put_pair(char *p, uint32_t v) {
    std::memcpy(p, DIGIT_PAIRS + 2 * v, 2);
    return p + 2;
}

int digit_count(uint64_t v) {
    int n = 1;
    while (v >= 10000) {
        v /= 10000;
        n += 4;
    }
    return n + (v >= 10) + (v >= 100) + (v >= 1000);
}

// Decimal digits of v, no leading zeros, written from the last one back.
char *put_unsigned(char *p, uint64_t v) {
    char *end = p + digit_count(v);
    char *s = end;
    while (v >= 100) {
        const uint64_t q = v / 100;
        s -= 2;
        std::memcpy(s, DIGIT_PAIRS + 2 * (v - 100 * q), 2);
        v = q;
    }
    if (v >= 10) std::memcpy(s - 2, DIGIT_PAIRS + 2 * v, 2);
    else s[-1] = static_cast<char>('0' + v);
    return end;
}

// The eight decimal digits of v < 10^8, leading zeros included, as ASCII
// bytes in text order on a little-endian host: groups of four, two and one
// digit are split in parallel with multiply-shift divisions that are exact
// for these ranges (x * 10486 >> 20 is x / 100 below 10^4, x * 103 >> 10 is
// x / 10 below 100).
uint64_t eight_digits(uint32_t v) {
    const uint64_t hi = v / 10000, lo = v - hi * 10000;
    uint64_t x = hi | (lo << 32);
    const uint64_t h = ((x * 10486) >> 20) & 0x0000007F0000007Full;
    x = h | ((x - h * 100) << 16);
    const uint64_t t = ((x * 103) >> 10) & 0x000F000F000F000Full;
    return (t | ((x - t * 10) << 8));
}

// Decimal digits of v < 10^8 without leading zeros and without branching on
// the count; writes 8 bytes, so the caller leaves room.
char *put_below_1e8(char *p, uint32_t v) {
    const uint64_t d = eight_digits(v);
    const int skip = v ? __builtin_ctzll(d) >> 3 : 7;
    const uint64_t text = (d + 0x3030303030303030ull) >> (8 * skip);
    std::memcpy(p, &text, 8);
    return p + 8 - skip;
}

// Exactly nine digits, leading zeros kept (v < 10^9).
char *put_nine(char *p, uint32_t v) {
    const uint32_t hi = v / 10000000;  // first two digits
    uint32_t lo = v - hi * 10000000;    // seven more
    p = put_pair(p, hi);
    const uint32_t a = lo / 100000;
    lo -= a * 100000;
    const uint32_t b = lo / 1000;
    lo -= b * 1000;
    const uint32_t c = lo / 10;
    p = put_pair(p, a);
    p = put_pair(p, b);
    p = put_pair(p, c);
    *p++ = static_cast<char>('0' + (lo - c * 10));
    return p;
}

char *put_text(char *p, const char *s, size_t n) {
    std::memcpy(p, s, n);
    return p + n;
}

// "%0.9f" of a float widened to double.  The float is M * 2^E with M below
// 2^24, so x * 10^9 = M * 10^9 / 2^-E with M * 10^9 below 2^54: the digits
// come from that integer, rounded half to even at the ninth decimal as
// printf rounds the exact binary value.  Values of 2^64 and more go to
// std::to_chars.
char *format_fixed9(char *p, float x) {
    const uint32_t bits = std::bit_cast<uint32_t>(x);
    const bool negative = bits >> 31;
    const uint32_t biased = (bits >> 23) & 0xFF;
    const uint32_t fraction = bits & 0x7FFFFF;
    if (biased == 0xFF) {
        if (fraction) return negative ? put_text(p, "-nan", 4) : put_text(p, "nan", 3);
        return negative ? put_text(p, "-inf", 4) : put_text(p, "inf", 3);
    }
    const uint64_t m = biased ? fraction | 0x800000 : fraction;
    const int e = biased ? static_cast<int>(biased) - 150 : -149;
    if (negative) *p++ = '-';
    if (e >= 0) {
        if (e > 40) {
            // M * 2^E no longer fits 64 bits: the general formatter.
            return std::to_chars(p, p + kFieldMax, static_cast<double>(x < 0 ? -x : x),
                                 std::chars_format::fixed, 9)
                .ptr;
        }
        p = put_unsigned(p, m << e);
        return put_text(p, ".000000000", 10);
    }
    uint64_t q = 0;
    const int k = -e;
    if (k < 64) {
        const uint64_t scaled = m * 1000000000u;
        q = scaled >> k;
        const uint64_t rest = scaled & ((uint64_t{1} << k) - 1);
        const uint64_t half = uint64_t{1} << (k - 1);
        if (rest > half || (rest == half && (q & 1))) q++;
    }  // else M * 10^9 < 2^54 is below half a unit: rounds to 0.
    const uint64_t whole = q / 1000000000u;
    p = put_unsigned(p, whole);
    *p++ = '.';
    return put_nine(p, static_cast<uint32_t>(q - whole * 1000000000u));
}

// Decimal digits of any 32-bit v without leading zeros, without branching
// on the count: the ten digits of v (two from v / 10^8, eight from the rest)
// sit in bytes 6 to 15 of a 128-bit value, and the leading zero digits are
// shifted out.  Writes 16 bytes, so the caller leaves room.
char *put_u32(char *p, uint32_t v) {
    const uint32_t hi = v / 100000000u;  // 0 to 42
    const uint64_t hi_digits = (uint64_t{hi / 10} << 48) | (uint64_t{hi % 10} << 56);
    const uint64_t lo_digits = eight_digits(v - hi * 100000000u);
    const int first = hi_digits ? __builtin_ctzll(hi_digits) >> 3
                                : 8 + (lo_digits ? __builtin_ctzll(lo_digits) >> 3 : 7);
    const int skip = first - 6;  // leading zero digits, 9 for v = 0
    const unsigned __int128 text =
        ((static_cast<unsigned __int128>(lo_digits + 0x3030303030303030ull) << 64) |
         (hi_digits + 0x3030000000000000ull)) >>
        (8 * first);
    std::memcpy(p, &text, 16);
    return p + 10 - skip;
}

// Wide: ci32, whose values have any number of digits up to ten, so no
// test of the size is made; the others stay below 10^8.
template <bool Wide>
char *format_int(char *p, int32_t v) {
    *p = '-';
    p += v < 0;
    const uint32_t a = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    if constexpr (std::endian::native != std::endian::little) return put_unsigned(p, a);
    return Wide ? put_u32(p, a) : put_below_1e8(p, a);
}

using u128 = unsigned __int128;

constexpr uint64_t kTen16 = 10000000000000000u;
constexpr uint64_t kTen17 = 100000000000000000u;

constexpr auto POW5 = [] {
    struct Table {
        u128 v[41];
        constexpr u128 operator[](int i) const { return v[i]; }
    } t{};
    u128 p = 1;
    for (int i = 0; i <= 40; i++, p *= 5) t.v[i] = p;
    return t;
}();

// x * 10^s rounded half to even, for x = m * 2^e; false when the exact
// product does not fit the 128-bit arithmetic here.
bool scaled_round(uint64_t m, int e, int s, uint64_t &out) {
    if (s < 0 || s > 40) return false;
    u128 a = m * POW5[s];  // m * 5^s < 2^24 * 2^93
    const int shift = s + e;              // x * 10^s = m * 5^s * 2^shift
    if (shift >= 0) {
        if (shift > 10) return false;     // results here stay below 10^18
        a <<= shift;
    } else {
        const int k = -shift;
        if (k >= 127) {
            a = 0;                        // below half a unit
        } else {
            const u128 q = a >> k;
            const u128 rest = a & ((u128{1} << k) - 1);
            const u128 half = u128{1} << (k - 1);
            a = q + (rest > half || (rest == half && (q & 1)));
        }
    }
    if (a >= u128{kTen17} * 10) return false;
    out = static_cast<uint64_t>(a);
    return true;
}

// "%0.17g" of a float widened to double: the 17 significant digits come
// from the exact value M * 2^E scaled by a power of ten in integer
// arithmetic, rounded half to even as printf rounds; then printf's choice
// between the fixed and the exponent form, trailing zeros removed.  Values
// out of the range of that arithmetic (below about 1e-24 or from 1e17) and
// non-finite ones go to std::to_chars.
char *format_general17(char *p, float x) {
    const uint32_t bits = std::bit_cast<uint32_t>(x);
    const uint32_t biased = (bits >> 23) & 0xFF;
    const uint32_t fraction = bits & 0x7FFFFF;
    const uint64_t m = biased ? fraction | 0x800000 : fraction;
    const int e = biased ? static_cast<int>(biased) - 150 : -149;
    uint64_t digits = 0;
    int d = 0;
    bool ok = biased != 0xFF && m != 0;
    if (ok) {
        // floor(log10(2^b)) for the binary exponent b of x: the decimal
        // exponent or one below it (78913 / 2^18 is log10(2) to 6 digits).
        const int b = e + 63 - __builtin_clzll(m);
        d = (b * 78913) >> 18;
        ok = scaled_round(m, e, 16 - d, digits);
        if (ok && digits < kTen16) {
            d--;
            ok = scaled_round(m, e, 16 - d, digits);
        } else if (ok && digits >= kTen17 && digits != kTen17) {
            d++;
            ok = scaled_round(m, e, 16 - d, digits);
        }
        if (ok && digits == kTen17) {  // rounded up to the next power of ten
            digits = kTen16;
            d++;
        }
        ok = ok && digits >= kTen16 && digits < kTen17;
    }
    if (!ok) {
        if (m == 0 && biased == 0) {
            if (bits >> 31) *p++ = '-';
            *p++ = '0';
            return p;
        }
        return std::to_chars(p, p + kFieldMax, static_cast<double>(x), std::chars_format::general,
                             17)
            .ptr;
    }
    if (bits >> 31) *p++ = '-';
    char dig[17];
    put_unsigned(dig, digits);
    int len = 17;
    while (dig[len - 1] == '0') len--;  // the leading digit is not 0
    if (d >= -4 && d < 17) {
        if (d >= 0) {
            const int whole = d + 1;
            p = put_text(p, dig, static_cast<size_t>(whole));
            if (len > whole) {
                *p++ = '.';
                p = put_text(p, dig + whole, static_cast<size_t>(len - whole));
            }
        } else {
            p = put_text(p, "0.0000", static_cast<size_t>(1 - d));
            p = put_text(p, dig, static_cast<size_t>(len));
        }
        return p;
    }
    *p++ = dig[0];
    if (len > 1) {
        *p++ = '.';
        p = put_text(p, dig + 1, static_cast<size_t>(len - 1));
    }
    *p++ = 'e';
    *p++ = d < 0 ? '-' : '+';
    const int ad = d < 0 ? -d : d;
    if (ad < 10) *p++ = '0';
    return put_unsigned(p, static_cast<uint64_t>(ad));
}

// One line in the text of the wire type: "%0.9f" for cf32, "%0.17g" for
// cf64, the quantised integers otherwise.
char *format_line(char *p, wfm::GainedPair g, int32_t sample_type) {
    switch (sample_type) {
        case WFM_CF32:
            p = format_fixed9(p, g.i);
            *p++ = ',';
            p = format_fixed9(p, g.q);
            break;
        case WFM_CF64:
            p = format_general17(p, g.i);
            *p++ = ',';
            p = format_general17(p, g.q);
            break;
        case WFM_CI32:
            p = format_int<true>(p, wfm::quantise(g.i, wfm::SCALE[WFM_CI32]));
            *p++ = ',';
            p = format_int<true>(p, wfm::quantise(g.q, wfm::SCALE[WFM_CI32]));
            break;
        default: {
            const double scale = wfm::SCALE[sample_type];
            p = format_int<false>(p, wfm::quantise(g.i, scale));
            *p++ = ',';
            p = format_int<false>(p, wfm::quantise(g.q, scale));
            break;
        }
    }
    *p++ = '\n';
    return p;
}

}  // namespace

uint64_t wfm_csv_write(WfmWriter *w, const float *data, uint64_t count) {
    const float gain = w->gain;
    const int32_t sample_type = w->sample_type;
    const bool count_clips = w->track_clipping != 0 && wfm::is_integer_type(sample_type);
    char batch[kBatchBytes];
    uint64_t n = 0;  // lines that reached the stream
    while (n < count) {
        const float peak0 = w->peak;
        const uint64_t clip0 = w->clip_count;
        size_t len = 0;
        uint64_t lines = 0;
        while (n + lines < count && kBatchBytes - len >= kLineMax) {
            wfm::GainedPair g = wfm::gain_and_meter(data + 2 * (n + lines), gain, count_clips,
                                                    w->peak, w->clip_count);
            len = static_cast<size_t>(format_line(batch + len, g, sample_type) - batch);
            lines++;
        }
        const size_t put = std::fwrite(batch, 1, len, w->file);
        if (put != len) {
            // Only the lines the stream took whole count.  The meter covers
            // them and the line that failed, as if written line by line.
            uint64_t whole = 0;
            for (size_t i = 0; i < put; i++) whole += batch[i] == '\n';
            w->peak = peak0;
            w->clip_count = clip0;
            for (uint64_t k = 0; k <= whole && k < lines; k++)
                wfm::gain_and_meter(data + 2 * (n + k), gain, count_clips, w->peak,
                                    w->clip_count);
            n += whole;
            break;
        }
        n += lines;
    }
    w->samples_written += n;
    return n;
}
