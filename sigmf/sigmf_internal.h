// Hooks between the metadata document and the segment planner.
#pragma once

#include <cjson/cJSON.h>

#include "wfm_writer.h"

// Appends one annotation object per planned signal occurrence to the
// "annotations" array.  Allocation failures leave entries out.
void wfm_sigmf_add_annotations(cJSON *annotations, const wfm_segment *segments,
                               uint64_t num_segments, double fc);
