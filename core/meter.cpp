// Accessors of the level meter.
#include <cmath>

#include "wfm_internal.h"

extern "C" {

double wfm_writer_get_peak_dbfs(const WfmWriter *w) {
    if (!w || !(w->peak > 0.0f)) return -INFINITY;
    return 20.0 * std::log10(static_cast<double>(w->peak));
}

double wfm_writer_peak(const WfmWriter *w) {
    return w ? static_cast<double>(w->peak) : 0.0;
}

double wfm_writer_get_clip_fraction(const WfmWriter *w) {
    if (!w || w->samples_written == 0) return 0.0;
    return static_cast<double>(w->clip_count) / (2.0 * static_cast<double>(w->samples_written));
}

double wfm_writer_clip_fraction(const WfmWriter *w) { return wfm_writer_get_clip_fraction(w); }

int wfm_writer_get_clipped(const WfmWriter *w) {
    return w && wfm::is_integer_type(w->sample_type) && w->peak > 1.0f ? 1 : 0;
}

}  // extern "C"
