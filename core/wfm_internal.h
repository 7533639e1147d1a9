// The writer record and the tables shared by the subsystems.  Not installed:
// callers see WfmWriter only as an opaque pointer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "wfm_writer.h"

// Fields follow the record's documented order; io_buf comes last because it
// is an addition of this implementation (the stream buffer of create).
struct WfmWriter {
    FILE *file;
    int32_t owns_file;
    int32_t file_type;
    int32_t sample_type;
    int32_t big_endian;
    uint64_t samples_written;
    unsigned char *conv_buf;
    uint64_t conv_cap;
    float peak;
    uint64_t clip_count;
    int32_t track_clipping;
    float gain;
    unsigned char *ext_buf;
    uint64_t ext_len;
    uint64_t ext_cap;
    char main_kw[92];
    uint64_t main_kw_len;
    double fs;
    double fc;
    double t0;
    char *meta_path;
    char *io_buf;
};

namespace wfm {

inline constexpr int kNumSampleTypes = 5;
inline constexpr int kNumFileTypes = 4;

// Indexed by sample type code.
inline constexpr const char *STYPE_FMT[kNumSampleTypes] = {"CF", "CD", "CL", "CI", "CB"};
inline constexpr uint64_t ELEM[kNumSampleTypes] = {4, 8, 4, 2, 1};
inline constexpr double SCALE[kNumSampleTypes] = {0.0, 0.0, 2147483647.0, 32767.0, 127.0};
inline constexpr const char *STYPE_NAMES[kNumSampleTypes] = {"cf32", "cf64", "ci32", "ci16", "ci8"};

inline constexpr bool is_integer_type(int32_t sample_type) { return sample_type >= 2; }

}  // namespace wfm

// BLUE steps of open and close, implemented under blue/.
// Writes the header block at the stream's position and records a non-zero
// fc in both keyword stores.  Returns -1 when the header was not written.
int wfm_blue_on_open(WfmWriter *w, uint64_t total);
// Patches data size and keywords and appends the extended header.  Returns
// -1 when any step failed (the failure mark of close), 0 otherwise.
int wfm_blue_on_close(WfmWriter *w);
