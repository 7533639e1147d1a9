// The 512-byte type-1000 header block and the detached header file.
#include <charconv>
#include <cstring>

#include "blue_internal.h"
#include "byte_order.h"
#include "wfm_internal.h"

namespace wfm {

namespace {

constexpr double kJ1950FromUnix = 631152000.0;

// Offsets of the fields written here.
constexpr size_t kVersion = 0, kHeadRep = 4, kDataRep = 8, kDetached = 12, kDataStart = 32,
                 kDataSize = 40, kType = 48, kFormat = 52, kTimecode = 56, kKeyLength = 160,
                 kKeywords = 164, kXDelta = 264, kXUnits = 272;

}  // namespace

uint64_t blue_bytes_per_sample(const char *format) {
    if (!format || format[0] != 'C') return 0;
    switch (format[1]) {
        case 'B': return 2;
        case 'I': return 4;
        case 'L': return 8;
        case 'F': return 8;
        case 'D': return 16;
        default: return 0;
    }
}

size_t blue_freq_text(char (&out)[kFreqTextCap], double fc) {
    static constexpr char kPrefix[] = "FREQ=";
    constexpr size_t n0 = sizeof kPrefix - 1;
    std::memcpy(out, kPrefix, n0);
    // Same text as "%.17g" in the C locale; 24 characters at most.
    auto r = std::to_chars(out + n0, out + kFreqTextCap - 1, fc, std::chars_format::general, 17);
    size_t n = r.ec == std::errc() ? static_cast<size_t>(r.ptr - out) : 0;
    out[n] = '\0';
    return n;
}

}  // namespace wfm

using namespace wfm;

extern "C" int wfm_blue_write_hcb(FILE *stream, unsigned sample_type, int big_endian,
                                  uint64_t total, int detached, double fs, double fc,
                                  double data_start, double t0) {
    if (!stream || sample_type >= static_cast<unsigned>(kNumSampleTypes)) return -1;
    const bool be = big_endian != 0;
    const char *format = STYPE_FMT[sample_type];

    unsigned char h[kBlueBlock] = {};
    std::memcpy(h + kVersion, "BLUE", 4);
    std::memcpy(h + kHeadRep, be ? "IEEE" : "EEEI", 4);
    std::memcpy(h + kDataRep, be ? "IEEE" : "EEEI", 4);
    blue_put_i32(h + kDetached, detached ? 1 : 0, be);
    blue_put_f64(h + kDataStart, data_start, be);
    // A power-of-two factor: the double product equals the 64-bit product
    // converted, and cannot wrap for a huge total.
    blue_put_f64(h + kDataSize, static_cast<double>(total) * static_cast<double>(blue_bytes_per_sample(format)), be);
    blue_put_i32(h + kType, 1000, be);
    std::memcpy(h + kFormat, format, 2);
    // An unset start stays zero rather than becoming the J1950 of 1970.
    if (t0 != 0) blue_put_f64(h + kTimecode, t0 + kJ1950FromUnix, be);
    if (fc != 0) {
        char text[kFreqTextCap];
        size_t n = blue_freq_text(text, fc);
        if (n >= 1 && n <= kMainKwCap - 1) {
            blue_put_i32(h + kKeyLength, static_cast<int32_t>(n + 1), be);
            std::memcpy(h + kKeywords, text, n + 1);
        }
    }
    blue_put_f64(h + kXDelta, fs != 0 ? 1.0 / fs : fs, be);
    blue_put_i32(h + kXUnits, 1, be);

    return std::fwrite(h, 1, sizeof h, stream) == sizeof h ? 0 : -1;
}

extern "C" int write_blue_header(const char *path, unsigned sample_type, int big_endian,
                                 uint64_t total, int detached, double fs, double fc,
                                 double data_start, double t0) {
    // A refused type must not create or truncate the file.
    if (!path || sample_type >= static_cast<unsigned>(kNumSampleTypes)) return -1;
    FILE *f = std::fopen(path, "wb");
    if (!f) return -1;
    int rc = wfm_blue_write_hcb(f, sample_type, big_endian, total, detached, fs, fc, data_start, t0);
    if (std::fclose(f) != 0) rc = -1;
    return rc;
}
