// Test probe for the Client call frame; never shipped.
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "tessel_client_py/client.hpp"
#include "tessel_client_py/frame.hpp"
#include "tessel_client_py/python.hpp"

namespace tessel::py {
namespace {

// The argument binder holds no data of its own, so any slot list serves to show what it bound.
PyObject* bound_tuple(const Signature& signature, PyObject* args, PyObject* kwargs) {
    std::vector<PyObject*> slots(signature.slot_count());
    if (!bind_arguments(signature, args, kwargs, slots.data())) return nullptr;
    PyRef result(PyTuple_New(static_cast<Py_ssize_t>(slots.size())));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        PyObject* item = slots[i] ? slots[i] : Py_None;
        Py_INCREF(item);
        PyTuple_SetItem(result.get(), static_cast<Py_ssize_t>(i), item);
    }
    return result.release();
}

constexpr const char* kOptionalPositional[] = {"channel", "key"};
constexpr Signature kOptionalSignature{"join", kOptionalPositional, 2, 1};

constexpr const char* kThreePositional[] = {"target", "msgid", "emoji"};
constexpr Signature kThreeSignature{"add_reaction", kThreePositional, 3, 3};

constexpr const char* kNonePositional[] = {"message"};
constexpr Signature kNoneRequiredSignature{"set_away", kNonePositional, 1, 0};

PyObject* bind_optional(PyObject*, PyObject* args, PyObject* kwargs) { return bound_tuple(kOptionalSignature, args, kwargs); }
PyObject* bind_three(PyObject*, PyObject* args, PyObject* kwargs) { return bound_tuple(kThreeSignature, args, kwargs); }
PyObject* bind_none_required(PyObject*, PyObject* args, PyObject* kwargs) {
    return bound_tuple(kNoneRequiredSignature, args, kwargs);
}

PyObject* to_u16_value(PyObject*, PyObject* value) {
    std::uint16_t out = 0;
    if (!convert_arg(to_u16, value, "limit", out)) return nullptr;
    return PyLong_FromLong(out);
}

bool is_client(PyObject* object) {
    PyRef module(PyImport_ImportModule("tessel_client"));
    PyRef type(module ? PyObject_GetAttrString(module.get(), "Client") : nullptr);
    if (!type) return false;
    int is = PyObject_IsInstance(object, type.get());
    if (is == 0) PyErr_SetString(PyExc_TypeError, "not a Client");
    return is == 1;
}

// Takes the exclusive borrow of a Client, releases the lock and throws, as an engine fault
// inside a method's work would.
PyObject* throw_in_frame(PyObject*, PyObject* args) {
    PyObject* object = nullptr;
    const char* kind = nullptr;
    if (!PyArg_ParseTuple(args, "Os", &object, &kind)) return nullptr;
    if (!is_client(object)) return nullptr;
    ClientObject& client = client_of(object);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    std::string what = kind;
    LockRelease unlocked;
    if (what == "bad_alloc") throw std::bad_alloc();
    if (what == "runtime_error") throw std::runtime_error("engine fault");
    throw 42;
}

PyObject* borrow_flag(PyObject*, PyObject* object) {
    if (!is_client(object)) return nullptr;
    return PyLong_FromSsize_t(client_of(object).borrow.value.load());
}

template <PyObject* (*Fn)(PyObject*, PyObject*)>
PyObject* guarded_args(PyObject* self, PyObject* args) noexcept {
    try {
        return Fn(self, args);
    } catch (...) {
        raise_from_cpp_exception();
        return nullptr;
    }
}

PyMethodDef kMethods[] = {
    {"bind_optional", as_method(guarded<bind_optional>), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"bind_three", as_method(guarded<bind_three>), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"bind_none_required", as_method(guarded<bind_none_required>), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"to_u16", guarded_args<to_u16_value>, METH_O, nullptr},
    {"throw_in_frame", guarded_args<throw_in_frame>, METH_VARARGS, nullptr},
    {"borrow_flag", guarded_args<borrow_flag>, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "tessel_frame_probe", nullptr, 0, kMethods,
                       nullptr, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace tessel::py

PyMODINIT_FUNC PyInit_tessel_frame_probe(void) { return PyModule_Create(&tessel::py::kModule); }
