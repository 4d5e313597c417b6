// The Client object: one Engine owned inline, and the borrow flag that decides which calls on
// it may overlap.
#pragma once

#include <new>

#include "tessel_client/engine/engine.hpp"
#include "tessel_client_py/frame.hpp"
#include "tessel_client_py/python.hpp"

namespace tessel::py {

struct ClientObject {
    PyObject_HEAD
    Engine engine;  // constructed in place after allocation, destroyed by the deallocator
    BorrowFlag borrow;
};

static_assert(alignof(ClientObject) <= 16, "the interpreter's allocator aligns objects to 16 bytes");

// The Client type, created from its PyType_Spec on first use and never freed; a borrowed
// reference, or null with the error of type creation.
PyObject* client_type_object();

// Allocates an instance of `type` and moves the engine in; null with the allocation error.
PyObject* new_client(PyTypeObject* type, Engine&& engine);

// The Client behind `self`, which the interpreter guarantees is one.
inline ClientObject& client_of(PyObject* self) { return *reinterpret_cast<ClientObject*>(self); }

}  // namespace tessel::py
