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

// The names the loads lookup uses on every drain and snapshot, interned once and kept, so that
// a lookup makes no str of its own.
enum Name { kJson, kLoads, kFile, kCode, kFilename, kQualname, kNameCount };
constexpr const char* kNameTexts[kNameCount] = {"json", "loads", "__file__", "__code__", "co_filename", "__qualname__"};
PyObject* g_names[kNameCount] = {};

// False with MemoryError set.
bool names_ready() {
    for (int i = 0; i < kNameCount; ++i)
        if (!g_names[i] && !(g_names[i] = PyUnicode_InternFromString(kNameTexts[i]))) return false;
    return true;
}

// Whether the object has the attribute and it equals `expected`; an error on the way is
// cleared and answers no.
bool attribute_equals(PyObject* object, Name attribute, PyObject* expected) {
    PyRef value(PyObject_GetAttr(object, g_names[attribute]));
    const int same = value ? PyObject_RichCompareBool(value.get(), expected, Py_EQ) : -1;
    if (same < 0) PyErr_Clear();
    return same == 1;
}

// The json module's own function is the one named "loads" whose code lies in the module's own
// file. A replacement is not taken for it, nor is the real function put into a module of the
// host's making (that has no file of its own).
bool is_standard_loads(PyObject* json, PyObject* loads) {
    PyRef file(PyObject_GetAttr(json, g_names[kFile]));
    PyRef code(file ? PyObject_GetAttr(loads, g_names[kCode]) : nullptr);
    if (!code) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_Check(file.get()) && attribute_equals(code.get(), kFilename, file.get()) &&
           attribute_equals(loads, kQualname, g_names[kLoads]);
}

}  // namespace

PyObject* json_loads_function(bool& standard) {
    if (!names_ready()) return nullptr;
    PyRef json(PyImport_Import(g_names[kJson]));
    if (!json) return nullptr;
    PyRef loads(PyObject_GetAttr(json.get(), g_names[kLoads]));
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
