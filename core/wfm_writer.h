/*
 * kestrix.wfm: capture writer for complex baseband (I/Q) samples.
 *
 * The C interface, in the order a caller meets it: codes and records, making
 * a writer, writing and metering, keywords, closing; then the stand-alone
 * helpers (keyword codec, detached BLUE header, metadata document, planner).
 *
 * Conventions: functions that do work return 0 on success and -1 on failure;
 * constructors return a record or NULL; functions returning a size return 0
 * for failure.  Memory handed to the caller comes from malloc() and is
 * released with free().  Element arrays are in host byte order.
 */
#ifndef WFM_WRITER_H
#define WFM_WRITER_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#if defined(__GNUC__)
#define WFM_API __attribute__((visibility("default")))
#else
#define WFM_API
#endif

#ifdef __cplusplus
#define WFM_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define WFM_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* ---- Codes ------------------------------------------------------------ */

/* Wire (sample) types. */
enum {
    WFM_CF32 = 0,
    WFM_CF64 = 1,
    WFM_CI32 = 2,
    WFM_CI16 = 3,
    WFM_CI8 = 4
};

/* Containers (file types). */
enum {
    WFM_RAW = 0,
    WFM_CSV = 1,
    WFM_BLUE = 2,
    WFM_SIGMF = 3
};

/* Bits of wfm_segment.flags: draw the quantity between its two bounds. */
#define WFM_RANDOM_NUM_SAMPLES 0x10u
#define WFM_RANDOM_GAP 0x20u
#define WFM_RANDOM_LEAD 0x40u

/* ---- Records ---------------------------------------------------------- */

/* The open capture; opaque to callers. */
typedef struct WfmWriter WfmWriter;

/* One planned signal of a segment; 272 bytes, native byte order.  The
 * reserved ranges belong to the code that fills the plan. */
typedef struct wfm_signal {
    int32_t kind;         /* 0..8, see the kind names of the planner */
    uint8_t reserved_4[4];
    double freq_offset;   /* Hz from the centre; one end of a chirp */
    double snr;
    int32_t snr_mode;     /* 0 auto, 1 fs, 2 ebno, 3 esno */
    uint32_t seed;        /* the first signal's seed keys its segment */
    int32_t sps;          /* samples per symbol */
    int32_t pn_length;
    uint64_t pn_poly;
    uint8_t reserved_48[24];
    double chirp_end;     /* other end of a chirp's sweep, Hz */
    uint8_t reserved_80[160];
    double symbol_rate;   /* spread-spectrum symbols per second */
    int32_t no_data;      /* non-zero: spread-spectrum signal without data */
    uint8_t reserved_252[20];
} wfm_signal;

/* One segment of a plan; 96 bytes, native byte order. */
typedef struct wfm_segment {
    const wfm_signal *signals; /* not read when num_signals is 0 */
    uint64_t num_signals;
    double fs;                 /* the segment's sample rate, Hz */
    uint64_t num_samples;      /* length, or lower bound of its draw */
    uint64_t gap;              /* samples after the signal, or lower bound */
    uint32_t flags;            /* WFM_RANDOM_* bits */
    uint8_t reserved_44[4];
    uint64_t num_samples_max;
    uint64_t gap_max;
    uint64_t repeat;           /* 0 and 1 both mean one repetition */
    uint64_t lead;             /* samples before the signal, or lower bound */
    uint64_t lead_max;
    uint64_t reserved_88;
} wfm_segment;

/* One laid-out repetition of a segment; 48 bytes. */
typedef struct wfm_span {
    uint64_t segment;
    uint64_t rep;
    uint64_t start;  /* first sample of the span */
    uint64_t lead;
    uint64_t length; /* the signal occupies [start + lead, start + lead + length) */
    uint64_t gap;
} wfm_span;

/* A decoded extended-header keyword record. */
typedef struct wfm_kw {
    char tag[256];      /* NUL-terminated, at most 255 characters */
    char type;          /* A B D F I L T X */
    uint64_t elem_size; /* 1, 2, 4 or 8 */
    uint64_t count;
    void *value;        /* count * elem_size bytes, host order; caller frees */
} wfm_kw;

WFM_STATIC_ASSERT(sizeof(wfm_signal) == 272, "wfm_signal is 272 bytes");
WFM_STATIC_ASSERT(offsetof(wfm_signal, freq_offset) == 8, "freq_offset at 8");
WFM_STATIC_ASSERT(offsetof(wfm_signal, snr) == 16, "snr at 16");
WFM_STATIC_ASSERT(offsetof(wfm_signal, snr_mode) == 24, "snr_mode at 24");
WFM_STATIC_ASSERT(offsetof(wfm_signal, seed) == 28, "seed at 28");
WFM_STATIC_ASSERT(offsetof(wfm_signal, sps) == 32, "sps at 32");
WFM_STATIC_ASSERT(offsetof(wfm_signal, pn_length) == 36, "pn_length at 36");
WFM_STATIC_ASSERT(offsetof(wfm_signal, pn_poly) == 40, "pn_poly at 40");
WFM_STATIC_ASSERT(offsetof(wfm_signal, chirp_end) == 72, "chirp_end at 72");
WFM_STATIC_ASSERT(offsetof(wfm_signal, symbol_rate) == 240, "symbol_rate at 240");
WFM_STATIC_ASSERT(offsetof(wfm_signal, no_data) == 248, "no_data at 248");

WFM_STATIC_ASSERT(sizeof(wfm_segment) == 96, "wfm_segment is 96 bytes");
WFM_STATIC_ASSERT(offsetof(wfm_segment, num_signals) == 8, "num_signals at 8");
WFM_STATIC_ASSERT(offsetof(wfm_segment, fs) == 16, "fs at 16");
WFM_STATIC_ASSERT(offsetof(wfm_segment, num_samples) == 24, "num_samples at 24");
WFM_STATIC_ASSERT(offsetof(wfm_segment, gap) == 32, "gap at 32");
WFM_STATIC_ASSERT(offsetof(wfm_segment, flags) == 40, "flags at 40");
WFM_STATIC_ASSERT(offsetof(wfm_segment, num_samples_max) == 48, "num_samples_max at 48");
WFM_STATIC_ASSERT(offsetof(wfm_segment, gap_max) == 56, "gap_max at 56");
WFM_STATIC_ASSERT(offsetof(wfm_segment, repeat) == 64, "repeat at 64");
WFM_STATIC_ASSERT(offsetof(wfm_segment, lead) == 72, "lead at 72");
WFM_STATIC_ASSERT(offsetof(wfm_segment, lead_max) == 80, "lead_max at 80");

WFM_STATIC_ASSERT(sizeof(wfm_span) == 48, "wfm_span is 48 bytes");
WFM_STATIC_ASSERT(offsetof(wfm_span, rep) == 8, "rep at 8");
WFM_STATIC_ASSERT(offsetof(wfm_span, start) == 16, "start at 16");
WFM_STATIC_ASSERT(offsetof(wfm_span, lead) == 24, "lead at 24");
WFM_STATIC_ASSERT(offsetof(wfm_span, length) == 32, "length at 32");
WFM_STATIC_ASSERT(offsetof(wfm_span, gap) == 40, "gap at 40");

WFM_STATIC_ASSERT(offsetof(wfm_kw, type) == 256, "type at 256");
WFM_STATIC_ASSERT(offsetof(wfm_kw, elem_size) == 264, "elem_size at 264");
WFM_STATIC_ASSERT(offsetof(wfm_kw, count) == 272, "count at 272");
WFM_STATIC_ASSERT(offsetof(wfm_kw, value) == 280, "value at 280");

/* ---- Making a writer -------------------------------------------------- */

/* Creates the file at path (mode "wb") and opens a capture on it; a sigmf
 * path must end in ".sigmf-data".  Returns NULL on failure; an invalid code
 * or sigmf path touches no file. */
WFM_API WfmWriter *wfm_writer_create(const char *path, int file_type,
                                     int sample_type, int big_endian,
                                     uint64_t total, bool sidecar, double fs,
                                     double fc, double headroom, double t0);

/* Opens a capture on the caller's stream, which stays the caller's: close
 * flushes it and writes no metadata file.  Returns NULL on failure. */
WFM_API WfmWriter *wfm_writer_open(FILE *stream, int file_type,
                                   int sample_type, int big_endian,
                                   uint64_t total, double fs, double fc,
                                   double t0);

/* Sets the linear output gain for later samples; no-op for NULL. */
WFM_API void wfm_writer_set_gain(WfmWriter *w, double gain);

/* Switches the per-component clip counter; no-op for NULL. */
WFM_API void wfm_writer_track_clipping(WfmWriter *w, int on);

/* ---- Writing and metering --------------------------------------------- */

/* Converts and appends count interleaved (I, Q) float pairs.  Returns the
 * whole samples that reached the stream: 0 for NULL, a refused block or a
 * failed allocation; fewer than count after a short write. */
WFM_API uint64_t wfm_writer_write(WfmWriter *w, const float *data,
                                  uint64_t count);

/* Peak after gain in dBFS; -inf for NULL or before any non-zero sample. */
WFM_API double wfm_writer_get_peak_dbfs(const WfmWriter *w);

/* Linear peak after gain; 0.0 for NULL or before anything was written. */
WFM_API double wfm_writer_peak(const WfmWriter *w);

/* Fraction of components counted as clipped; 0.0 for NULL or no samples. */
WFM_API double wfm_writer_get_clip_fraction(const WfmWriter *w);

/* Second name of wfm_writer_get_clip_fraction; 0.0 for NULL or no samples. */
WFM_API double wfm_writer_clip_fraction(const WfmWriter *w);

/* 1 when an integer capture's peak exceeded full scale; 0 otherwise or NULL. */
WFM_API int wfm_writer_get_clipped(const WfmWriter *w);

/* Flushes the stream.  Returns -1 for NULL, after any failed write, or when
 * the flush fails. */
WFM_API int wfm_writer_flush(WfmWriter *w);

/* ---- Keywords (BLUE captures) ----------------------------------------- */

/* Files a keyword in the main-header text or the extended header.  Returns
 * -1 when nothing was stored (not blue, bad arguments, out of memory). */
WFM_API int wfm_writer_add_keyword(WfmWriter *w, const char *tag, int type,
                                   const void *value, uint64_t count);

/* ---- Closing ---------------------------------------------------------- */

/* Finalises the capture and releases the record whatever the result.
 * Returns -1 when any part of the capture or its metadata file failed;
 * 0 for NULL. */
WFM_API int wfm_writer_close(WfmWriter *w);

/* Second name of wfm_writer_close; -1 on the same failures, 0 for NULL. */
WFM_API int wfm_writer_destroy(WfmWriter *w);

/* ---- Keyword record codec --------------------------------------------- */

/* Bytes per element of a type code; 0 for an unknown code. */
WFM_API uint64_t wfm_kw_elem_size(int type);

/* 8 + tag_len + value_len rounded up to 8; checks nothing, never fails. */
WFM_API uint64_t wfm_kw_entry_size(uint64_t tag_len, uint64_t value_len);

/* Encodes one record into dst.  Returns its length, or 0 when nothing was
 * written (bad arguments, too small a buffer, 2^31 bytes or more). */
WFM_API uint64_t wfm_kw_encode(uint8_t *dst, uint64_t capacity,
                               const char *tag, int type, const void *value,
                               uint64_t count, int big_endian);

/* Decodes the record at src.  Returns 0 decoded (the caller frees
 * out->value), 1 well-formed but skipped, -1 malformed or out of memory. */
WFM_API int wfm_kw_decode(const uint8_t *src, uint64_t available,
                          int big_endian, wfm_kw *out, uint64_t *consumed);

/* Returns 1 for a standard tag used correctly, -1 for one used wrongly or
 * refused, 0 for a tag that is not standard. */
WFM_API int wfm_kw_check_standard(const char *tag, int type,
                                  const void *value, uint64_t len);

/* ---- BLUE headers ----------------------------------------------------- */

/* Writes one 512-byte type-1000 header block at the stream's position.
 * Returns -1 for a NULL stream, a bad sample type or a short write. */
WFM_API int wfm_blue_write_hcb(FILE *stream, unsigned sample_type,
                               int big_endian, uint64_t total, int detached,
                               double fs, double fc, double data_start,
                               double t0);

/* Writes a file holding one header block (a detached .hdr).  Returns -1 on
 * any failure; a bad sample type touches no file. */
WFM_API int write_blue_header(const char *path, unsigned sample_type,
                              int big_endian, uint64_t total, int detached,
                              double fs, double fc, double data_start,
                              double t0);

/* ---- Metadata document ------------------------------------------------ */

/* Builds the SigMF metadata text, with one annotation per planned signal.
 * Returns NULL on failure or for a bad sample type; the caller frees the
 * text with free(). */
WFM_API char *wfm_sigmf_meta_json(int32_t sample_type, int32_t big_endian,
                                  const wfm_segment *segments,
                                  uint64_t num_segments, double fs, double fc,
                                  double t0);

/* ---- Segment planner -------------------------------------------------- */

/* Lays a plan out into spans, writing at most capacity of them to out (NULL
 * to count only).  Returns the total span count; never fails. */
WFM_API uint64_t wfm_compose_spans(const wfm_segment *segments,
                                   uint64_t num_segments, wfm_span *out,
                                   uint64_t capacity);

/* Keyed draw of an integer between lo and hi inclusive; never fails. */
WFM_API uint64_t wfm_draw_samples(uint32_t seed, uint64_t sub, uint64_t rep,
                                  uint64_t segment, uint32_t stream_tag,
                                  uint64_t lo, uint64_t hi);

/* Keyed draw of lo + (hi - lo) * u with u in [0, 1); never fails. */
WFM_API double wfm_draw_range(uint32_t seed, uint64_t sub, uint64_t rep,
                              uint64_t segment, uint64_t item,
                              uint32_t stream_tag, double lo, double hi);

#ifdef __cplusplus
}
#endif

#endif /* WFM_WRITER_H */
