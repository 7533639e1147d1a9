// A writer driven by a random sequence of writes (any float bits, any block
// size, null data), keywords (any tag, code, count), gain changes, clip
// switches, flushes and accessor calls, on a stream that may fail one
// operation, take only part of the data, or not seek.  A failed write is
// never reported as success; with no failure the container is complete and
// consistent with the counts the writer reported.
#include <cmath>
#include <cstring>

#include "fuzz_input.h"
#include "wfm_writer.h"

namespace fuzz_writer_ops_impl {

const uint64_t kBytesPerSample[] = {8, 16, 8, 4, 2};
const char kCodes[] = {'A', 'B', 'I', 'L', 'T', 'X', 'F', 'D'};
const char *const kTags[] = {"COMMENT", "VER", "CREATOR", "IO", "FREQ", "TC_PREC", "X"};

uint32_t get32(const std::vector<uint8_t> &b, size_t at, bool be) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; i++) v |= uint32_t{b[at + i]} << (be ? 8 * (3 - i) : 8 * i);
    return v;
}

void run(fuzz::Input &in) {
    const int file_type = in.byte() % 4;
    const int sample_type = in.byte() % 5;
    const int be = in.byte() & 1;
    const uint8_t mode = in.byte();
    fuzz::MemStream s;
    if (mode & 1) s.fail_op_at = in.take<uint16_t>() % 1024 + 1;
    if (mode & 2) s.accept_limit = in.take<uint16_t>();
    s.seekable = !(mode & 4);
    const bool buffered = mode & 8;
    const double fc = mode & 16 ? in.take<double>() : 0.0;
    const double fs = in.take<double>(), t0 = in.take<double>();
    const uint64_t total = in.take<uint64_t>();

    FILE *f = s.open();
    if (!buffered) setvbuf(f, nullptr, _IONBF, 0);
    WfmWriter *w = wfm_writer_open(f, file_type, sample_type, be, total, fs, fc, t0);
    if (!w) {
        FUZZ_CHECK(file_type == WFM_BLUE && s.write_failed);
        fclose(f);
        return;
    }
    uint64_t landed = 0;
    for (int step = 0; step < 64 && in.left() > 0; step++) {
        switch (in.byte() % 7) {
            case 0: {
                const size_t n = in.take<uint16_t>() % 600;
                std::vector<uint8_t> raw = in.bytes(n * 8);
                std::vector<float> x(2 * n);
                if (n) std::memcpy(x.data(), raw.data(), raw.size());
                uint64_t got = wfm_writer_write(w, n ? x.data() : nullptr, n);
                FUZZ_CHECK(got <= n);
                if (!s.write_failed) FUZZ_CHECK(got == n);
                landed += got;
                break;
            }
            case 1: {
                const uint8_t pick = in.byte();
                std::string tag = pick & 0x80 ? std::string(in.take<uint16_t>() % 300, 'K')
                                              : kTags[pick % 7];
                const uint8_t t = in.byte();
                const int code = t & 0x80 ? static_cast<signed char>(t) : kCodes[t % 8];
                const size_t len = in.take<uint16_t>() % 512;
                std::vector<uint8_t> value = in.bytes(len);
                const uint64_t es = wfm_kw_elem_size(code);
                const uint64_t count = es ? len / es : len;
                int r = wfm_writer_add_keyword(w, tag.c_str(), code, value.empty() ? nullptr : value.data(), count);
                const bool ok = file_type == WFM_BLUE && es && count && !tag.empty() && tag.size() <= 255;
                FUZZ_CHECK(r == (ok ? 0 : -1));
                break;
            }
            case 2: wfm_writer_set_gain(w, in.take<double>()); break;
            case 3: wfm_writer_track_clipping(w, in.byte() & 1); break;
            case 4: {
                int r = wfm_writer_flush(w);
                if (s.write_failed) {
                    if (!buffered) FUZZ_CHECK(r == -1);
                } else {
                    FUZZ_CHECK(r == 0);
                }
                break;
            }
            case 5: {
                const double db = wfm_writer_get_peak_dbfs(w), pk = wfm_writer_peak(w);
                FUZZ_CHECK(!(pk < 0.0) && (pk > 0.0 || db == -INFINITY));
                FUZZ_CHECK(!(wfm_writer_get_clip_fraction(w) < 0.0));
                FUZZ_CHECK(wfm_writer_clip_fraction(w) == wfm_writer_get_clip_fraction(w) ||
                           std::isnan(wfm_writer_clip_fraction(w)));
                const int clipped = wfm_writer_get_clipped(w);
                FUZZ_CHECK(clipped == 0 || (clipped == 1 && sample_type >= WFM_CI32 && pk > 1.0));
                break;
            }
            default: {
                const float one[2] = {in.take<float>(), in.take<float>()};
                uint64_t got = wfm_writer_write(w, one, 1);
                FUZZ_CHECK(got <= 1);
                landed += got;
                break;
            }
        }
    }
    const int r = wfm_writer_close(w);
    fclose(f);
    if (s.write_failed) FUZZ_CHECK(r == -1);
    if (r != 0 || s.fail_op_at <= s.ops) return;

    // Nothing failed: the container holds exactly what was reported.
    const uint64_t bps = kBytesPerSample[sample_type];
    if (file_type == WFM_RAW || file_type == WFM_SIGMF) {
        FUZZ_CHECK(s.data.size() == landed * bps);
    } else if (file_type == WFM_CSV) {
        uint64_t lines = 0;
        for (uint8_t b : s.data) lines += b == '\n';
        FUZZ_CHECK(lines == landed);
    } else {
        FUZZ_CHECK(s.data.size() >= 512 + landed * bps && std::memcmp(s.data.data(), "BLUE", 4) == 0);
        if (!s.seekable) return;
        const uint32_t ext_start = get32(s.data, 24, be), ext_size = get32(s.data, 28, be);
        const uint64_t from = uint64_t{ext_start} * 512;
        FUZZ_CHECK(ext_size == 0 ? s.data.size() == 512 + landed * bps
                                 : from >= 512 + landed * bps && from + ext_size == s.data.size());
        for (uint64_t at = from; ext_size && at < from + ext_size;) {
            wfm_kw kw;
            uint64_t used = 0;
            FUZZ_CHECK(wfm_kw_decode(s.data.data() + at, from + ext_size - at, be, &kw, &used) == 0);
            std::free(kw.value);
            at += used;
        }
    }
}

}  // namespace fuzz_writer_ops_impl

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input in(data, size);
    fuzz_writer_ops_impl::run(in);
    return 0;
}
