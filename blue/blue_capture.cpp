// The BLUE steps of opening and closing a capture: the header written
// before the samples, and the fields only the end of the capture knows.
#include <sys/types.h>

#include <cstdio>

#include "blue_internal.h"
#include "byte_order.h"
#include "wfm_internal.h"

using namespace wfm;

namespace {

// ext_start is an int32 count of 512-byte blocks, ext_size an int32 length.
constexpr uint64_t kMaxExtField = INT32_MAX;

bool write_all(FILE *f, const void *p, size_t n) { return std::fwrite(p, 1, n, f) == n; }

bool patch_data_size(WfmWriter *w) {
    const bool be = w->big_endian != 0;
    unsigned char b[8];
    const uint64_t bps = blue_bytes_per_sample(STYPE_FMT[w->sample_type]);
    blue_put_f64(b, static_cast<double>(w->samples_written) * static_cast<double>(bps), be);
    bool ok = write_all(w->file, b, sizeof b);
    (void)fseeko(w->file, 0, SEEK_END);
    return ok;
}

bool patch_main_keywords(WfmWriter *w) {
    FILE *f = w->file;
    if (fseeko(f, kBlueKeyLengthOffset, SEEK_SET) != 0) return false;
    unsigned char b[4];
    blue_put_i32(b, static_cast<int32_t>(w->main_kw_len), w->big_endian != 0);
    if (!write_all(f, b, sizeof b) || !write_all(f, w->main_kw, w->main_kw_len)) return false;
    return fseeko(f, 0, SEEK_END) == 0;
}

// Pads the file to a block boundary, appends the records and points the
// header at them.
bool append_extended(WfmWriter *w) {
    FILE *f = w->file;
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    const off_t p = ftello(f);
    if (p < 0) return false;
    const uint64_t pos = static_cast<uint64_t>(p);
    const uint64_t pad = (kBlueBlock - pos % kBlueBlock) % kBlueBlock;
    const uint64_t start = (pos + pad) / kBlueBlock;
    // Past 1 TiB the block index no longer fits: write nothing rather than
    // a wrapped offset.
    if (start > kMaxExtField || w->ext_len > kMaxExtField) return false;
    for (uint64_t i = 0; i < pad; i++)
        if (std::fputc(0, f) == EOF) return false;
    if (!write_all(f, w->ext_buf, w->ext_len)) return false;
    const bool be = w->big_endian != 0;
    unsigned char b[8];
    blue_put_i32(b, static_cast<int32_t>(start), be);
    blue_put_i32(b + 4, static_cast<int32_t>(w->ext_len), be);
    if (fseeko(f, kBlueExtStartOffset, SEEK_SET) != 0 || !write_all(f, b, sizeof b)) return false;
    return fseeko(f, 0, SEEK_END) == 0;
}

}  // namespace

int wfm_blue_on_open(WfmWriter *w, uint64_t total) {
    // Close patches absolute offsets, so the header must start the stream.
    // A stream without a readable position (a pipe) is taken: close then
    // finds it cannot seek and leaves the header as written.
    const off_t at = ftello(w->file);
    if (at > 0) return -1;
    if (wfm_blue_write_hcb(w->file, static_cast<unsigned>(w->sample_type), w->big_endian ? 1 : 0,
                           total, 0, w->fs, w->fc, static_cast<double>(kBlueBlock), w->t0) != 0)
        return -1;
    if (w->fc != 0) blue_record_freq(w);
    return 0;
}

int wfm_blue_on_close(WfmWriter *w) {
    // A stream that cannot seek keeps the header written at open.
    if (fseeko(w->file, kBlueDataSizeOffset, SEEK_SET) != 0) return 0;
    bool ok = patch_data_size(w);
    if (w->main_kw_len != 0 && !patch_main_keywords(w)) ok = false;
    if (w->ext_len != 0 && !append_extended(w)) ok = false;
    return ok ? 0 : -1;
}
