#include "tessel_client_py/json_bridge.hpp"

#include "tessel_client_py/frame.hpp"

namespace tessel::py {

bool json_text_of(PyObject* value, std::string& out) {
    if (PyUnicode_Check(value)) {
        if (to_text(value, out)) return true;
        // A str with a lone surrogate is not text: json.dumps writes it as a JSON string.
        PyErr_Clear();
    }
    PyRef json(PyImport_ImportModule("json"));
    if (!json) return false;
    PyRef dumps(PyObject_GetAttrString(json.get(), "dumps"));
    if (!dumps) return false;
    PyRef text(PyObject_CallFunctionObjArgs(dumps.get(), value, nullptr));
    if (!text) return false;
    return to_text(text.get(), out);
}

namespace {

// Whether the object has the attribute and it equals `expected`; an error on the way is
// cleared and answers no.
bool attribute_equals(PyObject* object, const char* attribute, PyObject* expected) {
    PyRef value(PyObject_GetAttrString(object, attribute));
    const int same = value ? PyObject_RichCompareBool(value.get(), expected, Py_EQ) : -1;
    if (same < 0) PyErr_Clear();
    return same == 1;
}

// The json module's own function is the one named "loads" whose code lies in the module's own
// file. A replacement is not taken for it, nor is the real function put into a module of the
// host's making (that has no file of its own).
bool is_standard_loads(PyObject* json, PyObject* loads) {
    PyRef file(PyObject_GetAttrString(json, "__file__"));
    PyRef code(file ? PyObject_GetAttrString(loads, "__code__") : nullptr);
    PyRef name(code ? PyUnicode_FromString("loads") : nullptr);
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_Check(file.get()) && attribute_equals(code.get(), "co_filename", file.get()) &&
           attribute_equals(loads, "__qualname__", name.get());
}

}  // namespace

PyObject* json_loads_function(bool& standard) {
    PyRef json(PyImport_ImportModule("json"));
    if (!json) return nullptr;
    PyRef loads(PyObject_GetAttrString(json.get(), "loads"));
    if (!loads) return nullptr;
    standard = is_standard_loads(json.get(), loads.get());
    return loads.release();
}

PyObject* json_loads(PyObject* loads, std::string_view text) {
    PyRef str(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!str) return nullptr;
    return PyObject_CallFunctionObjArgs(loads, str.get(), nullptr);
}

}  // namespace tessel::py
