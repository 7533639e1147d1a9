// The metadata file written beside a finished capture.
#pragma once

#include "wfm_internal.h"

// The metadata file name of a data path: a path ending in ".sigmf-data" has
// that suffix replaced by ".sigmf-meta", any other path gets ".sigmf-meta"
// appended.  The name is formed in full, however long.  Returns a malloc'd
// text, or NULL when it cannot be allocated.
char *wfm_meta_file_name(const char *data_path);

// Writes the metadata document of w beside w->meta_path.  Returns -1 when
// the name or the document was not made, or the file was not written whole.
int wfm_write_meta_file(const WfmWriter *w);
