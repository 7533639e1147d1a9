// The Writer type: construction, writing, metering properties and release,
// plus the one mapping from library results to Python exceptions.
#include "wfm_module.h"

#define NO_IMPORT_ARRAY
#include "numpy_api.h"

#include <cstdint>

#include "docstrings.h"

PyObject *wfm_raise(WfmCall call, long long rc)
{
    switch (call) {
    case WfmCall::create:
        PyErr_SetString(PyExc_OSError,
                        "cannot open the capture for writing: check the path, "
                        "the directory, and permissions -- and note that "
                        "file_type=\"sigmf\" requires a path ending in "
                        ".sigmf-data, since a SigMF capture is a "
                        "<base>.sigmf-data + <base>.sigmf-meta pair found by name");
        break;
    case WfmCall::flush:
        PyErr_Format(PyExc_OSError, "%s (rc=%lld)", "flush failed", rc);
        break;
    case WfmCall::finalise:
        PyErr_SetString(PyExc_OSError,
                        "failed to finalise the capture: the trailing header "
                        "patch or extended header was not written");
        break;
    case WfmCall::add_keyword:
        PyErr_SetString(PyExc_ValueError, "add_keyword failed");
        break;
    case WfmCall::write_blue_header:
        PyErr_Format(PyExc_RuntimeError, "write_blue_header failed (rc=%d)",
                     static_cast<int>(rc));
        break;
    }
    return nullptr;
}

PyObject *wfm_raise_destroyed()
{
    PyErr_SetString(PyExc_RuntimeError, "destroyed");
    return nullptr;
}

namespace {

WriterObj *as_writer(PyObject *op)
{
    return reinterpret_cast<WriterObj *>(op);
}

// Empties the slot and finalises its writer; the slot is empty afterwards
// whatever the finalisation reported.
PyObject *Writer_release(WriterObj *self)
{
    WfmWriter *w = self->writer;
    if (w == nullptr) {
        Py_RETURN_NONE;
    }
    self->writer = nullptr;
    int rc = wfm_writer_destroy(w);
    if (rc != 0) {
        return wfm_raise(WfmCall::finalise, rc);
    }
    Py_RETURN_NONE;
}

int Writer_open(WriterObj *self, const char *path, const char *file_type,
                const char *sample_type, const char *endian, double fs,
                double fc, unsigned long long total, double headroom,
                double t0, int sidecar)
{
    int ft = code_of(FILE_TYPE_NAMES, file_type);
    if (ft < 0) {
        PyErr_Format(PyExc_ValueError,
                     "file_type must be one of \"raw\", \"csv\", \"blue\", "
                     "\"sigmf\", got '%s'", file_type);
        return -1;
    }
    int st = code_of(SAMPLE_TYPE_NAMES, sample_type);
    if (st < 0) {
        PyErr_Format(PyExc_ValueError,
                     "sample_type must be one of \"cf32\", \"cf64\", \"ci32\", "
                     "\"ci16\", \"ci8\", got '%s'", sample_type);
        return -1;
    }
    int be = code_of(ENDIAN_NAMES, endian);
    if (be < 0) {
        PyErr_Format(PyExc_ValueError,
                     "endian must be one of \"le\", \"be\", got '%s'", endian);
        return -1;
    }
    // A second __init__ finalises the capture it replaces before opening the
    // new one, which may be the same file.
    if (self->writer != nullptr) {
        PyObject *released = Writer_release(self);
        if (released == nullptr) {
            return -1;
        }
        Py_DECREF(released);
    }
    self->writer = wfm_writer_create(path, ft, st, be, total, sidecar != 0,
                                     fs, fc, headroom, t0);
    if (self->writer == nullptr) {
        wfm_raise(WfmCall::create, 0);
        return -1;
    }
    return 0;
}

PyObject *WriterObj_new(PyTypeObject *type, PyObject *, PyObject *)
{
    PyObject *op = type->tp_alloc(type, 0);
    if (op != nullptr) {
        as_writer(op)->writer = nullptr;
    }
    return op;
}

int WriterObj_init(PyObject *op, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"path", "fs", "file_type", "sample_type",
                                   "endian", "fc", "total", "headroom",
                                   "t0", "sidecar", nullptr};
    PyObject *path = nullptr;
    double fs = 0.0, fc = 0.0, headroom = 0.0, t0 = 0.0;
    const char *file_type = "raw";
    const char *sample_type = "cf32";
    const char *endian = "le";
    unsigned long long total = 0;
    int sidecar = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O&d|sssdKddp:Writer",
                                     const_cast<char **>(kwlist),
                                     PyUnicode_FSConverter, &path, &fs,
                                     &file_type, &sample_type, &endian, &fc,
                                     &total, &headroom, &t0, &sidecar)) {
        return -1;
    }
    int rc = Writer_open(as_writer(op), PyBytes_AS_STRING(path), file_type,
                         sample_type, endian, fs, fc, total, headroom, t0,
                         sidecar);
    Py_DECREF(path);
    return rc;
}

void WriterObj_dealloc(PyObject *op)
{
    WriterObj *self = as_writer(op);
    if (self->writer != nullptr) {
        (void)wfm_writer_destroy(self->writer);
        self->writer = nullptr;
    }
    Py_TYPE(op)->tp_free(op);
}

PyObject *WriterObj_write(PyObject *op, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"x", nullptr};
    WriterObj *self = as_writer(op);
    if (self->writer == nullptr) {
        return wfm_raise_destroyed();
    }
    PyObject *x = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O:write",
                                     const_cast<char **>(kwlist), &x)) {
        return nullptr;
    }
    // Alignment is required as well as contiguity: the writer reads the
    // block as floats, so an unaligned view is copied rather than passed on.
    PyObject *arr = PyArray_FromAny(x, PyArray_DescrFromType(NPY_COMPLEX64),
                                    0, 0,
                                    NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED,
                                    nullptr);
    if (arr == nullptr) {
        return nullptr;
    }
    PyArrayObject *a = reinterpret_cast<PyArrayObject *>(arr);
    npy_intp count = PyArray_MultiplyList(PyArray_DIMS(a), PyArray_NDIM(a));
    // The slot is read again here: building the array can run Python code
    // that closes this writer, which then reaches the writer as null.
    uint64_t written = wfm_writer_write(
        self->writer, static_cast<const float *>(PyArray_DATA(a)),
        static_cast<uint64_t>(count));
    Py_DECREF(arr);
    return PyLong_FromUnsignedLongLong(written);
}

PyObject *WriterObj_flush(PyObject *op, PyObject *)
{
    WriterObj *self = as_writer(op);
    if (self->writer == nullptr) {
        return wfm_raise_destroyed();
    }
    int rc = wfm_writer_flush(self->writer);
    if (rc != 0) {
        return wfm_raise(WfmCall::flush, rc);
    }
    Py_RETURN_NONE;
}

PyObject *WriterObj_track_clipping(PyObject *op, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"on", nullptr};
    WriterObj *self = as_writer(op);
    if (self->writer == nullptr) {
        return wfm_raise_destroyed();
    }
    int on = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "|i:track_clipping",
                                     const_cast<char **>(kwlist), &on)) {
        return nullptr;
    }
    wfm_writer_track_clipping(self->writer, on);
    Py_RETURN_NONE;
}

PyObject *WriterObj_close(PyObject *op, PyObject *)
{
    return Writer_release(as_writer(op));
}

PyObject *WriterObj_enter(PyObject *op, PyObject *)
{
    return Py_NewRef(op);
}

PyObject *WriterObj_exit(PyObject *op, PyObject *)
{
    return Writer_release(as_writer(op));
}

PyObject *Writer_getprop_clip_fraction(PyObject *op, void *)
{
    WriterObj *self = as_writer(op);
    if (self->writer == nullptr) {
        return wfm_raise_destroyed();
    }
    return PyFloat_FromDouble(wfm_writer_get_clip_fraction(self->writer));
}

PyObject *Writer_getprop_peak_dbfs(PyObject *op, void *)
{
    WriterObj *self = as_writer(op);
    if (self->writer == nullptr) {
        return wfm_raise_destroyed();
    }
    return PyFloat_FromDouble(wfm_writer_get_peak_dbfs(self->writer));
}

PyObject *Writer_getprop_clipped(PyObject *op, void *)
{
    WriterObj *self = as_writer(op);
    if (self->writer == nullptr) {
        return wfm_raise_destroyed();
    }
    return PyBool_FromLong(wfm_writer_get_clipped(self->writer) != 0);
}

// Python's method-table entries take the generic function types.
template <typename F>
PyCFunction as_cfunction(F f)
{
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef WriterObj_methods[] = {
    {"write", as_cfunction(WriterObj_write), METH_VARARGS | METH_KEYWORDS,
     WFM_WRITE_DOC},
    {"flush", WriterObj_flush, METH_NOARGS, WFM_FLUSH_DOC},
    {"track_clipping", as_cfunction(WriterObj_track_clipping),
     METH_VARARGS | METH_KEYWORDS, WFM_TRACK_CLIPPING_DOC},
    {"add_keyword", as_cfunction(WriterObj_add_keyword),
     METH_VARARGS | METH_KEYWORDS, WFM_ADD_KEYWORD_DOC},
    {"close", WriterObj_close, METH_NOARGS, WFM_CLOSE_DOC},
    {"destroy", WriterObj_close, METH_NOARGS, WFM_CLOSE_DOC},
    {"__enter__", WriterObj_enter, METH_NOARGS, WFM_ENTER_DOC},
    {"__exit__", WriterObj_exit, METH_VARARGS, WFM_EXIT_DOC},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef WriterObj_getset[] = {
    {"clip_fraction", Writer_getprop_clip_fraction, nullptr,
     WFM_CLIP_FRACTION_DOC, nullptr},
    {"peak_dbfs", Writer_getprop_peak_dbfs, nullptr, WFM_PEAK_DBFS_DOC,
     nullptr},
    {"clipped", Writer_getprop_clipped, nullptr, WFM_CLIPPED_DOC, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

} // namespace

// Default flags only: not subclassable, not tracked by the cyclic collector,
// no instance dictionary and no weak references.
PyTypeObject WriterType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "wfm_writer.Writer",
    .tp_basicsize = sizeof(WriterObj),
    .tp_itemsize = 0,
    .tp_dealloc = WriterObj_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_doc = WFM_WRITER_DOC,
    .tp_methods = WriterObj_methods,
    .tp_getset = WriterObj_getset,
    .tp_init = WriterObj_init,
    .tp_new = WriterObj_new,
};
