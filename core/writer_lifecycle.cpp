// Making, flushing and closing a capture writer.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "metadata_file.h"
#include "wfm_internal.h"

namespace {

// Stream buffer of a file opened by create: small blocks gather into few
// large system calls, and a block of at least this size goes to the file
// directly.  The stream must be handed its own buffer: glibc ignores the
// size of setvbuf without one.
constexpr size_t kStreamBufferSize = 1024 * 1024;

constexpr char kSigmfDataSuffix[] = ".sigmf-data";
constexpr size_t kSigmfDataSuffixLen = sizeof(kSigmfDataSuffix) - 1;

bool valid_codes(int file_type, int sample_type) {
    return static_cast<unsigned>(file_type) < static_cast<unsigned>(wfm::kNumFileTypes) &&
           static_cast<unsigned>(sample_type) < static_cast<unsigned>(wfm::kNumSampleTypes);
}

bool has_sigmf_data_suffix(const char *path) {
    size_t len = std::strlen(path);
    return len >= kSigmfDataSuffixLen &&
           std::memcmp(path + len - kSigmfDataSuffixLen, kSigmfDataSuffix, kSigmfDataSuffixLen) == 0;
}

char *copy_text(const char *s) {
    size_t n = std::strlen(s) + 1;
    char *copy = static_cast<char *>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

void release(WfmWriter *w) {
    std::free(w->meta_path);
    std::free(w->ext_buf);
    std::free(w->conv_buf);
    std::free(w->io_buf);
    std::free(w);
}

}  // namespace

extern "C" {

WfmWriter *wfm_writer_open(FILE *stream, int file_type, int sample_type, int big_endian,
                           uint64_t total, double fs, double fc, double t0) {
    if (!stream || !valid_codes(file_type, sample_type)) return nullptr;
    auto *w = static_cast<WfmWriter *>(std::calloc(1, sizeof(WfmWriter)));
    if (!w) return nullptr;
    w->file = stream;
    w->file_type = file_type;
    w->sample_type = sample_type;
    w->big_endian = big_endian != 0 ? 1 : 0;
    w->gain = 1.0f;
    w->fs = fs;
    w->fc = fc;
    w->t0 = t0;
    if (file_type == WFM_BLUE && wfm_blue_on_open(w, total) != 0) {
        release(w);
        return nullptr;
    }
    return w;
}

WfmWriter *wfm_writer_create(const char *path, int file_type, int sample_type, int big_endian,
                             uint64_t total, bool sidecar, double fs, double fc, double headroom,
                             double t0) {
    // Every test that needs no file comes before the file is created.
    if (!path || !valid_codes(file_type, sample_type)) return nullptr;
    if (file_type == WFM_SIGMF && !has_sigmf_data_suffix(path)) return nullptr;

    FILE *f = std::fopen(path, "wb");
    if (!f) return nullptr;
    // A larger stream buffer when one can be had; the default one otherwise.
    char *io_buf = static_cast<char *>(std::malloc(kStreamBufferSize));
    if (io_buf && std::setvbuf(f, io_buf, _IOFBF, kStreamBufferSize) != 0) {
        std::free(io_buf);
        io_buf = nullptr;
    }

    WfmWriter *w = wfm_writer_open(f, file_type, sample_type, big_endian, total, fs, fc, t0);
    if (!w) {
        std::fclose(f);
        std::free(io_buf);
        return nullptr;
    }
    w->owns_file = 1;
    w->io_buf = io_buf;

    // Without a copy of the path the capture simply gets no metadata file.
    if (file_type == WFM_SIGMF || (file_type != WFM_BLUE && sidecar)) w->meta_path = copy_text(path);

    // A headroom of 0 keeps the gain at exactly 1.
    if (headroom != 0.0) w->gain = static_cast<float>(std::pow(10.0, headroom * -0.05));
    return w;
}

void wfm_writer_set_gain(WfmWriter *w, double gain) {
    if (w) w->gain = static_cast<float>(gain);
}

void wfm_writer_track_clipping(WfmWriter *w, int on) {
    if (w) w->track_clipping = on != 0 ? 1 : 0;
}

int wfm_writer_flush(WfmWriter *w) {
    if (!w || !w->file) return -1;
    // The error indicator stays set, so every flush after a failed write fails.
    if (std::ferror(w->file)) return -1;
    return std::fflush(w->file) == 0 ? 0 : -1;
}

int wfm_writer_close(WfmWriter *w) {
    if (!w) return 0;
    bool failed = false;
    if (w->file_type == WFM_BLUE && wfm_blue_on_close(w) != 0) failed = true;

    // The error indicator carries every earlier failed write, short sample
    // blocks included.
    if (std::ferror(w->file)) failed = true;
    bool stream_ok = w->owns_file ? std::fclose(w->file) == 0 : std::fflush(w->file) == 0;
    w->file = nullptr;

    int result = stream_ok && !failed ? 0 : -1;
    // A metadata file only ever sits beside a data file finalised without error.
    if (result == 0 && w->meta_path) result = wfm_write_meta_file(w);

    release(w);
    return result;
}

int wfm_writer_destroy(WfmWriter *w) { return wfm_writer_close(w); }

}  // extern "C"
