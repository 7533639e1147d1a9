// The annotation pass of the metadata document: one annotation object per
// signal of each span of a segment plan.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sigmf_internal.h"

namespace {

constexpr int kNumKinds = 9;
constexpr int kNumModes = 4;
constexpr int32_t kKindChirp = 5;
constexpr int32_t kKindDsss = 8;

// Indexed by wfm_signal.kind.
constexpr const char *TYPE_NAMES[kNumKinds] = {"tone", "noise", "pn",      "bpsk", "qpsk",
                                               "chirp", "bits", "symbols", "dsss"};
// Indexed by wfm_signal.snr_mode.
constexpr const char *MODE_NAMES[kNumModes] = {"auto", "fs", "ebno", "esno"};

struct BandEdges {
    double lower;
    double upper;
};

BandEdges band_edges(const wfm_signal &sig, double fs, double fc) {
    if (sig.kind == kKindChirp) {
        double a = sig.freq_offset, b = sig.chirp_end;
        return a < b ? BandEdges{a + fc, b + fc} : BandEdges{b + fc, a + fc};
    }
    double bandwidth = sig.kind >= 2 && sig.sps >= 1 ? fs / static_cast<double>(sig.sps) : 0.0;
    double centre = sig.freq_offset + fc;
    double half = bandwidth * 0.5;
    return {centre - half, centre + half};
}

// Builds one annotation; members that cannot be allocated are left out.
cJSON *annotation_object(const wfm_span &span, const wfm_signal &sig, double fs, double fc) {
    cJSON *obj = cJSON_CreateObject();
    if (!obj) return nullptr;
    BandEdges edges = band_edges(sig, fs, fc);
    cJSON_AddNumberToObject(obj, "core:sample_start", static_cast<double>(span.start + span.lead));
    cJSON_AddNumberToObject(obj, "core:sample_count", static_cast<double>(span.length));
    cJSON_AddNumberToObject(obj, "core:freq_lower_edge", edges.lower);
    cJSON_AddNumberToObject(obj, "core:freq_upper_edge", edges.upper);
    if (sig.kind >= 0 && sig.kind < kNumKinds)
        cJSON_AddStringToObject(obj, "core:label", TYPE_NAMES[sig.kind]);
    cJSON_AddNumberToObject(obj, "synvox:snr", sig.snr);
    if (sig.snr_mode >= 0 && sig.snr_mode < kNumModes)
        cJSON_AddStringToObject(obj, "synvox:snr_mode", MODE_NAMES[sig.snr_mode]);
    cJSON_AddNumberToObject(obj, "synvox:sps", static_cast<double>(sig.sps));
    cJSON_AddNumberToObject(obj, "synvox:seed", static_cast<double>(sig.seed));
    cJSON_AddNumberToObject(obj, "synvox:pn_length", static_cast<double>(sig.pn_length));
    cJSON_AddNumberToObject(obj, "synvox:pn_poly", static_cast<double>(sig.pn_poly));
    if (sig.kind == kKindDsss && sig.symbol_rate > 0.0) {
        cJSON_AddNumberToObject(obj, "synvox:symbol_rate", sig.symbol_rate);
        if (sig.no_data != 0) cJSON_AddStringToObject(obj, "synvox:data", "none");
    }
    return obj;
}

}  // namespace

void wfm_sigmf_add_annotations(cJSON *annotations, const wfm_segment *segments,
                               uint64_t num_segments, double fc) {
    if (!annotations || !segments || num_segments == 0) return;
    uint64_t count = wfm_compose_spans(segments, num_segments, nullptr, 0);
    // A span array whose size does not fit in size_t counts as a failed
    // allocation.
    if (count == 0 || count > SIZE_MAX / sizeof(wfm_span)) return;
    auto *spans = static_cast<wfm_span *>(std::malloc(static_cast<size_t>(count) * sizeof(wfm_span)));
    if (!spans) return;
    wfm_compose_spans(segments, num_segments, spans, count);
    for (uint64_t k = 0; k < count; k++) {
        const wfm_span &span = spans[k];
        const wfm_segment &seg = segments[span.segment];
        if (!seg.signals) continue;
        for (uint64_t j = 0; j < seg.num_signals; j++) {
            cJSON *obj = annotation_object(span, seg.signals[j], seg.fs, fc);
            if (obj && !cJSON_AddItemToArray(annotations, obj)) cJSON_Delete(obj);
        }
    }
    std::free(spans);
}
