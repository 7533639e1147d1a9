// Declarations shared by the translation units of the wfm_writer extension.
#ifndef WFM_MODULE_H
#define WFM_MODULE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstring>

#include "wfm_writer.h"

// Instance record of wfm_writer.Writer.  writer is null until __init__
// succeeds and again once the capture is released; the instance is its only
// owner.
struct WriterObj {
    PyObject_HEAD
    WfmWriter *writer;
};

extern PyTypeObject WriterType;

// Names accepted for the codes of the C interface, indexed by code.
inline constexpr const char *FILE_TYPE_NAMES[] = {"raw", "csv", "blue", "sigmf"};
inline constexpr const char *SAMPLE_TYPE_NAMES[] = {"cf32", "cf64", "ci32", "ci16", "ci8"};
inline constexpr const char *ENDIAN_NAMES[] = {"le", "be"};

// Code of text in names (exact, case-sensitive), or -1.
template <std::size_t N>
int code_of(const char *const (&names)[N], const char *text)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (std::strcmp(names[i], text) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Library calls whose failure becomes a Python exception.
enum class WfmCall {
    create,
    flush,
    finalise,
    add_keyword,
    write_blue_header,
};

// Sets the exception for a failed call (rc is the call's result where the
// message shows it) and returns nullptr.
PyObject *wfm_raise(WfmCall call, long long rc);

// Sets RuntimeError "destroyed" and returns nullptr.
PyObject *wfm_raise_destroyed();

// Writer.add_keyword, defined beside the other keyword code.
PyObject *WriterObj_add_keyword(PyObject *self, PyObject *args, PyObject *kwds);

#endif // WFM_MODULE_H
