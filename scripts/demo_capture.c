/*
 * Writes one tone in three containers into a directory: a ci16 raw capture
 * with its metadata sidecar, a cf32 CSV capture and a ci16 SigMF recording.
 * Prints every file with its size and the peak of each capture in dBFS.
 *
 * Usage: wfm_demo_c DIR
 */
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "wfm_writer.h"

#define FS 1.0e6           /* sample rate, Hz */
#define FC 915.0e6         /* centre frequency, Hz */
#define TONE 62.5e3        /* tone offset from the centre, Hz */
#define NUM_SAMPLES 4096   /* samples per capture */
#define BLOCK 1024         /* samples per write */
#define HEADROOM 3.0       /* dB below full scale */
#define T0 1700000000.25   /* capture start, UNIX seconds */

static void print_file(const char *path) {
    struct stat st;
    if (stat(path, &st) == 0)
        printf("  %-40s %10lld bytes\n", path, (long long)st.st_size);
    else
        printf("  %-40s    missing\n", path);
}

/* Writes the tone to path; returns 0 when the capture closed cleanly. */
static int write_tone(const char *path, int file_type, int sample_type) {
    WfmWriter *w = wfm_writer_create(path, file_type, sample_type, 0, NUM_SAMPLES, true, FS, FC,
                                     HEADROOM, T0);
    if (!w) {
        fprintf(stderr, "cannot create %s\n", path);
        return -1;
    }
    static float block[2 * BLOCK];
    const double two_pi = 6.283185307179586;
    int ok = 1;
    for (uint64_t start = 0; start < NUM_SAMPLES; start += BLOCK) {
        for (uint64_t k = 0; k < BLOCK; k++) {
            double phase = two_pi * TONE * (double)(start + k) / FS;
            block[2 * k] = (float)cos(phase);
            block[2 * k + 1] = (float)sin(phase);
        }
        if (wfm_writer_write(w, block, BLOCK) != BLOCK) ok = 0;
    }
    double peak = wfm_writer_get_peak_dbfs(w);
    if (wfm_writer_close(w) != 0) ok = 0;
    printf("%s: peak %.2f dBFS%s\n", path, peak, ok ? "" : " (FAILED)");
    return ok ? 0 : -1;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const char *dir = argv[1];
    if (mkdir(dir, 0777) != 0 && errno != EEXIST) {
        fprintf(stderr, "cannot create directory %s: %s\n", dir, strerror(errno));
        return 1;
    }

    char raw[1024], raw_meta[1100], csv[1024], csv_meta[1100], sigmf[1024], sigmf_meta[1024];
    snprintf(raw, sizeof raw, "%s/tone.raw", dir);
    snprintf(raw_meta, sizeof raw_meta, "%s.sigmf-meta", raw);
    snprintf(csv, sizeof csv, "%s/tone.csv", dir);
    snprintf(csv_meta, sizeof csv_meta, "%s.sigmf-meta", csv);
    snprintf(sigmf, sizeof sigmf, "%s/tone.sigmf-data", dir);
    snprintf(sigmf_meta, sizeof sigmf_meta, "%s/tone.sigmf-meta", dir);

    int failures = 0;
    failures += write_tone(raw, WFM_RAW, WFM_CI16) != 0;
    print_file(raw);
    print_file(raw_meta);
    failures += write_tone(csv, WFM_CSV, WFM_CF32) != 0;
    print_file(csv);
    print_file(csv_meta);
    failures += write_tone(sigmf, WFM_SIGMF, WFM_CI16) != 0;
    print_file(sigmf);
    print_file(sigmf_meta);
    return failures ? 1 : 0;
}
