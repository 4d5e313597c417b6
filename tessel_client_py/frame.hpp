// The frame every Client method runs in: argument binding, the borrow flag, argument
// conversion with the parameter note, release of the interpreter lock, and the barrier that
// keeps C++ exceptions out of the interpreter.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tessel_client_py/python.hpp"

namespace tessel::py {

// One owned reference; released with the interpreter lock held (never declare one inside a
// LockRelease scope).
class PyRef {
public:
    PyRef() = default;
    explicit PyRef(PyObject* object) noexcept : object_(object) {}
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(other.release()) {}
    PyRef& operator=(PyRef&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    void reset(PyObject* object = nullptr) noexcept {
        Py_XDECREF(object_);
        object_ = object;
    }

private:
    PyObject* object_ = nullptr;
};

// ---- Argument binding -------------------------------------------------------------------

struct KeywordOnly {
    const char* name;
    bool required;
};

// What the binding needs to know of one method's parameters. Required positional parameters
// come first; there are never positional-only ones.
struct Signature {
    const char* function;  // "tick", "__new__", ...
    const char* const* positional;
    std::size_t positional_count;
    std::size_t required_count;
    const KeywordOnly* keyword_only = nullptr;
    std::size_t keyword_only_count = 0;

    std::size_t slot_count() const { return positional_count + keyword_only_count; }
};

// Fills `slots` (slot_count() entries, borrowed references or null) from the call's
// arguments. Returns false with a TypeError set.
bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** slots);

// ---- Borrow flag --------------------------------------------------------------------------

// 0 free, -1 held by one exclusive call, n > 0 held by n shared calls. Nobody waits on it.
struct BorrowFlag {
    std::atomic<std::intptr_t> value{0};
};

class ExclusiveBorrow {
public:
    // Takes the flag or sets RuntimeError "Already borrowed"; test with operator bool.
    explicit ExclusiveBorrow(BorrowFlag& flag);
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    ~ExclusiveBorrow() {
        if (held_) flag_.value.store(0, std::memory_order_release);
    }
    explicit operator bool() const noexcept { return held_; }

private:
    BorrowFlag& flag_;
    bool held_ = false;
};

class SharedBorrow {
public:
    // Takes a share or sets RuntimeError "Already mutably borrowed".
    explicit SharedBorrow(BorrowFlag& flag);
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    ~SharedBorrow() {
        if (held_) flag_.value.fetch_sub(1, std::memory_order_acq_rel);
    }
    explicit operator bool() const noexcept { return held_; }

private:
    BorrowFlag& flag_;
    bool held_ = false;
};

// ---- Interpreter lock ---------------------------------------------------------------------

// Releases the interpreter lock for its scope and takes it back on every way out, an unwinding
// exception included. Nothing inside the scope may touch a Python object.
class LockRelease {
public:
    LockRelease() noexcept : state_(PyEval_SaveThread()) {}
    LockRelease(const LockRelease&) = delete;
    LockRelease& operator=(const LockRelease&) = delete;
    ~LockRelease() { PyEval_RestoreThread(state_); }

private:
    PyThreadState* state_;
};

// ---- Conversions ----------------------------------------------------------------------------
// Each returns false with a Python exception set.

bool to_text(PyObject* object, std::string& out);
bool to_u64(PyObject* object, std::uint64_t& out);
bool to_u16(PyObject* object, std::uint16_t& out);
bool to_text_list(PyObject* object, std::vector<std::string>& out);
bool to_bytes(PyObject* object, std::string& out);

// Most items reserved up front from a sequence's __len__, which is only a hint.
inline constexpr std::size_t kMaxLengthHint = 4096;

// Adds "while processing '<name>'" to the pending exception when it takes notes.
void add_parameter_note(const char* name);

// Converts one argument, noting the parameter's name on failure.
template <class Converter, class Out>
bool convert_arg(Converter converter, PyObject* object, const char* name, Out& out) {
    if (converter(object, out)) return true;
    add_parameter_note(name);
    return false;
}

// TypeError "'<type>' object is not an instance of '<target>'" ("'None' is not ..." for None).
void set_not_instance_error(PyObject* object, const char* target);

// ValueError with a fixed prefix ("invalid command: ") in front of a reader's message.
void set_prefixed_value_error(const char* prefix, const std::string& message);

// ---- Exception barrier ----------------------------------------------------------------------

// Turns the C++ exception being handled into a Python one: std::bad_alloc becomes MemoryError,
// anything else RuntimeError. Call only from a catch block, with the lock held.
void raise_from_cpp_exception() noexcept;

template <PyObject* (*Fn)(PyObject*, PyObject*, PyObject*)>
PyObject* guarded(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    try {
        return Fn(self, args, kwargs);
    } catch (...) {
        raise_from_cpp_exception();
        return nullptr;
    }
}

template <PyObject* (*Fn)(PyObject*)>
PyObject* guarded_noargs(PyObject* self, PyObject* /*unused*/) noexcept {
    try {
        return Fn(self);
    } catch (...) {
        raise_from_cpp_exception();
        return nullptr;
    }
}

// A keyword-taking function as the method table stores it.
template <class F>
PyCFunction as_method(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace tessel::py
