// The extension module: multi-phase initialisation with one exec slot that adds the Client
// type. The module keeps no state of its own.
#include "tessel_client_py/client.hpp"
#include "tessel_client_py/docs.hpp"
#include "tessel_client_py/frame.hpp"
#include "tessel_client_py/python.hpp"

namespace tessel::py {
namespace {

// Appends "Client" to the module's __all__, creating the list when there is none.
int add_to_all(PyObject* module) {
    PyRef all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all.reset(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    PyRef name(PyUnicode_FromString("Client"));
    if (!name) return -1;
    if (PyList_Check(all.get())) return PyList_Append(all.get(), name.get());
    // A host may have replaced __all__ with another mutable sequence.
    PyRef appended(PyObject_CallMethod(all.get(), "append", "O", name.get()));
    return appended ? 0 : -1;
}

int module_exec(PyObject* module) {
    if (!PyModule_Check(module)) {
        PyErr_SetString(PyExc_TypeError, "tessel_client: exec slot called with a non-module object");
        return -1;
    }
    PyObject* type = client_type_object();
    if (!type) return -1;
    if (add_to_all(module) < 0) return -1;
    return PyModule_AddObjectRef(module, "Client", type);
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "tessel_client",
    docs::kModule,
    0,
    nullptr,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tessel::py

PyMODINIT_FUNC PyInit_tessel_client(void) { return PyModuleDef_Init(&tessel::py::kModule); }
