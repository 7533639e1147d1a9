// Module initialisation, the module definition and write_blue_header.
#include "wfm_module.h"

#include "numpy_api.h"

#include <cstdint>

#include "docstrings.h"

namespace {

PyObject *blue_header_write(const char *path, const char *sample_type,
                            const char *endian, double fs, double fc,
                            double data_start, unsigned long long total,
                            int detached, double t0)
{
    int st = code_of(SAMPLE_TYPE_NAMES, sample_type);
    if (st < 0) {
        PyErr_Format(PyExc_ValueError,
                     "invalid sample_type '%s' (choices: cf32, cf64, ci32, "
                     "ci16, ci8)", sample_type);
        return nullptr;
    }
    int be = code_of(ENDIAN_NAMES, endian);
    if (be < 0) {
        PyErr_Format(PyExc_ValueError, "invalid endian '%s' (choices: le, be)",
                     endian);
        return nullptr;
    }
    int rc = write_blue_header(path, static_cast<unsigned>(st), be, total,
                               detached, fs, fc, data_start, t0);
    if (rc != 0) {
        return wfm_raise(WfmCall::write_blue_header, rc);
    }
    Py_RETURN_NONE;
}

PyObject *module_write_blue_header(PyObject *, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"path", "fs", "sample_type", "endian",
                                   "fc", "data_start", "total", "detached",
                                   "t0", nullptr};
    PyObject *path = nullptr;
    double fs = 0.0, fc = 0.0, data_start = 0.0, t0 = 0.0;
    const char *sample_type = "cf32";
    const char *endian = "le";
    unsigned long long total = 0;
    int detached = 1;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "O&d|ssddKid:write_blue_header",
                                     const_cast<char **>(kwlist),
                                     PyUnicode_FSConverter, &path, &fs,
                                     &sample_type, &endian, &fc, &data_start,
                                     &total, &detached, &t0)) {
        return nullptr;
    }
    PyObject *result = blue_header_write(PyBytes_AS_STRING(path), sample_type,
                                         endian, fs, fc, data_start, total,
                                         detached, t0);
    Py_DECREF(path);
    return result;
}

PyMethodDef module_methods[] = {
    {"write_blue_header",
     reinterpret_cast<PyCFunction>(
         reinterpret_cast<void (*)()>(module_write_blue_header)),
     METH_VARARGS | METH_KEYWORDS, WFM_WRITE_BLUE_HEADER_DOC},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "wfm_writer",
    .m_doc = WFM_MODULE_DOC,
    .m_size = -1,
    .m_methods = module_methods,
};

} // namespace

PyMODINIT_FUNC PyInit_wfm_writer(void)
{
    // NumPy's import step: on failure it prints the cause and leaves its
    // own ImportError.
    import_array();
    if (PyType_Ready(&WriterType) < 0) {
        return nullptr;
    }
    PyObject *module = PyModule_Create(&module_def);
    if (module == nullptr) {
        return nullptr;
    }
    if (PyModule_AddObjectRef(module, "Writer",
                              reinterpret_cast<PyObject *>(&WriterType)) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
