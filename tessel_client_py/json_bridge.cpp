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

PyObject* json_loads(std::string_view text) {
    PyRef json(PyImport_ImportModule("json"));
    if (!json) return nullptr;
    PyRef str(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!str) return nullptr;
    PyRef loads(PyObject_GetAttrString(json.get(), "loads"));
    if (!loads) return nullptr;
    return PyObject_CallFunctionObjArgs(loads.get(), str.get(), nullptr);
}

}  // namespace tessel::py
