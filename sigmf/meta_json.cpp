// The SigMF metadata document of a capture.
#include <cjson/cJSON.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>

#include "sigmf_internal.h"
#include "wfm_internal.h"

namespace {

struct JsonDeleter {
    void operator()(cJSON *p) const { cJSON_Delete(p); }
};
using JsonTree = std::unique_ptr<cJSON, JsonDeleter>;

// Base names of the datatype, indexed by sample type code.
constexpr const char *DATATYPE_BASE[wfm::kNumSampleTypes] = {"cf32", "cf64", "ci32", "ci16", "ci8"};

// "ci8" has no byte order; every other type gets "_le" or "_be".
void sigmf_datatype(char (&out)[16], int32_t sample_type, int32_t big_endian) {
    if (sample_type == WFM_CI8)
        std::snprintf(out, sizeof out, "%s", DATATYPE_BASE[sample_type]);
    else
        std::snprintf(out, sizeof out, "%s_%s", DATATYPE_BASE[sample_type], big_endian ? "be" : "le");
}

// fs when stated; else the one rate all segments of the plan share; else 0.
double effective_rate(const wfm_segment *segments, uint64_t num_segments, double fs) {
    if (fs != 0.0 || !segments || num_segments == 0) return fs;
    double rate = segments[0].fs;
    for (uint64_t i = 1; i < num_segments; i++) {
        if (segments[i].fs != rate) return 0.0;
    }
    return rate;
}

// UTC text of t0 with microseconds, truncated, e.g. "2023-11-14T22:13:20.250000Z".
// Returns false when t0 cannot be expressed: not finite, whole seconds
// outside a signed 64-bit time, a year gmtime_r or the 24-byte date text
// cannot hold, or a fraction that rounds up to a whole second.
bool format_datetime(char (&out)[32], double t0) {
    if (!std::isfinite(t0)) return false;
    double s = std::floor(t0);
    // [-2^63, 2^63) is exactly the range of a signed 64-bit integer.
    if (!(s >= -0x1p63 && s < 0x1p63)) return false;
    int64_t whole = static_cast<int64_t>(s);
    if (whole < std::numeric_limits<time_t>::min() || whole > std::numeric_limits<time_t>::max())
        return false;

    // The fraction lies in [0, 1], so the product fits 32 bits.
    double ns_real = (t0 - s) * 1e9;
    uint32_t ns = static_cast<uint32_t>(ns_real);
    if (ns > 999999999u) return false;

    time_t tt = static_cast<time_t>(whole);
    std::tm tm{};
    if (!gmtime_r(&tt, &tm)) return false;
    char date[24];
    if (std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm) == 0) return false;
    int n = std::snprintf(out, sizeof out, "%s.%0*luZ", date, 6,
                          static_cast<unsigned long>(ns / 1000u));
    return n >= 1 && n <= 31;
}

}  // namespace

extern "C" char *wfm_sigmf_meta_json(int32_t sample_type, int32_t big_endian,
                                     const wfm_segment *segments, uint64_t num_segments,
                                     double fs, double fc, double t0) {
    if (sample_type < 0 || sample_type >= wfm::kNumSampleTypes) return nullptr;
    JsonTree root(cJSON_CreateObject());
    if (!root) return nullptr;

    const double rate = effective_rate(segments, num_segments, fs);

    // Each add below tolerates a missing parent: a member that cannot be
    // allocated is left out and the build goes on.
    cJSON *global = cJSON_AddObjectToObject(root.get(), "global");
    char datatype[16];
    sigmf_datatype(datatype, sample_type, big_endian);
    cJSON_AddStringToObject(global, "core:datatype", datatype);
    if (rate != 0.0) cJSON_AddNumberToObject(global, "core:sample_rate", rate);
    cJSON_AddStringToObject(global, "core:version", "1.0.0");
    cJSON_AddStringToObject(global, "core:description", "kestrix synvox");
    cJSON_AddStringToObject(global, "core:author", "kestrix synvox");

    cJSON *captures = cJSON_AddArrayToObject(root.get(), "captures");
    if (JsonTree capture{cJSON_CreateObject()}) {
        cJSON_AddNumberToObject(capture.get(), "core:sample_start", 0);
        char datetime[32];
        if (t0 != 0.0 && format_datetime(datetime, t0))
            cJSON_AddStringToObject(capture.get(), "core:datetime", datetime);
        if (fc != 0.0) cJSON_AddNumberToObject(capture.get(), "core:frequency", fc);
        if (cJSON_AddItemToArray(captures, capture.get())) capture.release();
    }

    cJSON *annotations = cJSON_AddArrayToObject(root.get(), "annotations");
    if (annotations && segments && num_segments > 0)
        wfm_sigmf_add_annotations(annotations, segments, num_segments, fc);

    return cJSON_PrintUnformatted(root.get());
}
