// Writer.add_keyword: a Python text, number or sequence of numbers becomes
// the typed element array of one BLUE header keyword.
#include "wfm_module.h"

#include <cstdint>
#include <limits>

static_assert(std::numeric_limits<float>::is_iec559,
              "F elements rely on IEEE rounding of double to float, "
              "overflowing to infinity");

namespace {

// Element width of a keyword type code, or 0 for any other character.
std::size_t element_width(int code)
{
    switch (code) {
    case 'A':
    case 'B':
        return 1;
    case 'I':
        return 2;
    case 'L':
    case 'T':
    case 'F':
        return 4;
    case 'X':
    case 'D':
        return 8;
    default:
        return 0;
    }
}

// Converts one number and stores it at dst in host order: integers are
// truncated to the element width in two's complement, F rounds to nearest.
// Returns -1 with the interpreter's exception set.
int store_element(PyObject *item, int code, unsigned char *dst)
{
    if (code == 'F' || code == 'D') {
        double d = PyFloat_AsDouble(item);
        if (d == -1.0 && PyErr_Occurred()) {
            return -1;
        }
        if (code == 'F') {
            float f = static_cast<float>(d);
            std::memcpy(dst, &f, sizeof f);
        } else {
            std::memcpy(dst, &d, sizeof d);
        }
        return 0;
    }
    long long v = PyLong_AsLongLong(item);
    if (v == -1 && PyErr_Occurred()) {
        return -1;
    }
    uint64_t bits = static_cast<uint64_t>(v);
    switch (code) {
    case 'B': {
        uint8_t e = static_cast<uint8_t>(bits);
        std::memcpy(dst, &e, sizeof e);
        break;
    }
    case 'I': {
        uint16_t e = static_cast<uint16_t>(bits);
        std::memcpy(dst, &e, sizeof e);
        break;
    }
    case 'L':
    case 'T': {
        uint32_t e = static_cast<uint32_t>(bits);
        std::memcpy(dst, &e, sizeof e);
        break;
    }
    default:
        std::memcpy(dst, &bits, sizeof bits);
        break;
    }
    return 0;
}

// Numeric codes.  value is one number, or a sequence of numbers for
// anything that passes the sequence test and is not a str.
PyObject *add_numeric_keyword(WriterObj *self, const char *tag, int code,
                              PyObject *value)
{
    const std::size_t width = element_width(code);
    PyObject *items = nullptr;
    unsigned char *buf = nullptr;
    PyObject *result = nullptr;
    Py_ssize_t count = 1;

    if (PySequence_Check(value) && !PyUnicode_Check(value)) {
        items = PySequence_Fast(value, "value must be a number or a sequence");
        if (items == nullptr) {
            goto done;
        }
        // A caller's list comes back as itself, and converting an element
        // can run Python code that resizes it: convert a snapshot instead.
        if (items == value && PyList_Check(items)) {
            PyObject *snapshot = PyList_AsTuple(items);
            Py_DECREF(items);
            items = snapshot;
            if (items == nullptr) {
                goto done;
            }
        }
        count = PySequence_Fast_GET_SIZE(items);
        if (count == 0) {
            PyErr_SetString(PyExc_ValueError, "value sequence is empty");
            goto done;
        }
    }

    buf = static_cast<unsigned char *>(
        PyMem_Malloc(static_cast<std::size_t>(count) * width));
    if (buf == nullptr) {
        PyErr_NoMemory();
        goto done;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *item = items != nullptr ? PySequence_Fast_GET_ITEM(items, i)
                                          : value;
        if (store_element(item, code, buf + static_cast<std::size_t>(i) * width) < 0) {
            goto done;
        }
    }
    // The slot is read only now: the conversions above can run Python code
    // that releases this writer, and a released writer refuses the keyword.
    if (wfm_writer_add_keyword(self->writer, tag, code, buf,
                               static_cast<uint64_t>(count)) != 0) {
        wfm_raise(WfmCall::add_keyword, -1);
        goto done;
    }
    result = Py_NewRef(Py_None);

done:
    PyMem_Free(buf);
    Py_XDECREF(items);
    return result;
}

PyObject *add_text_keyword(WriterObj *self, const char *tag, PyObject *value)
{
    if (!PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "value must be a str");
        return nullptr;
    }
    Py_ssize_t len = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(value, &len);
    if (utf8 == nullptr) {
        return nullptr;
    }
    if (wfm_writer_add_keyword(self->writer, tag, 'A', utf8,
                               static_cast<uint64_t>(len)) != 0) {
        return wfm_raise(WfmCall::add_keyword, -1);
    }
    Py_RETURN_NONE;
}

} // namespace

PyObject *WriterObj_add_keyword(PyObject *op, PyObject *args, PyObject *kwds)
{
    static const char *kwlist[] = {"tag", "type", "value", nullptr};
    WriterObj *self = reinterpret_cast<WriterObj *>(op);
    if (self->writer == nullptr) {
        return wfm_raise_destroyed();
    }
    const char *tag = nullptr;
    int code = 0;
    PyObject *value = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwds, "sCO:add_keyword",
                                     const_cast<char **>(kwlist), &tag, &code,
                                     &value)) {
        return nullptr;
    }
    if (element_width(code) == 0) {
        PyErr_Format(PyExc_ValueError, "unsupported code '%c'", code);
        return nullptr;
    }
    if (code == 'A') {
        return add_text_keyword(self, tag, value);
    }
    return add_numeric_keyword(self, tag, code, value);
}
