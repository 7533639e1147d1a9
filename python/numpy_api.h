// NumPy's C interface as this module uses it: built against NumPy 2 headers,
// restricted to what NumPy 1.25 offers, so one build loads under 1.25 and
// later.  The table pointer is one hidden static shared by the module's
// translation units; only wfm_module.cpp defines and fills it.
#ifndef WFM_NUMPY_API_H
#define WFM_NUMPY_API_H

#define NPY_NO_DEPRECATED_API NPY_1_25_API_VERSION
#define NPY_TARGET_VERSION NPY_1_25_API_VERSION
#define PY_ARRAY_UNIQUE_SYMBOL wfm_numpy_api
#include <numpy/arrayobject.h>

#endif // WFM_NUMPY_API_H
