#include "tessel_client_py/frame.hpp"

#include <algorithm>
#include <exception>
#include <new>
#include <string_view>

namespace tessel::py {

namespace {

std::string full_name(const Signature& signature) {
    std::string name = "Client.";
    name += signature.function;
    name += "()";
    return name;
}

void set_type_error(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
}

bool key_is(PyObject* key, const char* name) {
    return PyUnicode_CompareWithASCIIString(key, name) == 0;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_name_list(const std::vector<const char*>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2) {
                list += " and ";
            } else {
                list += i + 1 == names.size() ? ", and " : ", ";
            }
        }
        list += '\'';
        list += names[i];
        list += '\'';
    }
    return list;
}

// The __qualname__ of the object's type, as the type errors show it.
std::string type_name_of(PyObject* object) {
    PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        Py_ssize_t size = 0;
        if (const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size)) {
            return std::string(text, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

// The __qualname__ of collections.abc.Sequence, looked up once. Guarded by the interpreter
// lock rather than a C++ static guard: the import may run Python code and let another thread
// in, which would then block on that guard while holding the lock.
const std::string& sequence_name() {
    static const std::string* name = nullptr;
    if (name) return *name;
    std::string found = "Sequence";
    PyRef module(PyImport_ImportModule("collections.abc"));
    PyRef sequence(module ? PyObject_GetAttrString(module.get(), "Sequence") : nullptr);
    PyRef qualname(sequence ? PyObject_GetAttrString(sequence.get(), "__qualname__") : nullptr);
    Py_ssize_t size = 0;
    const char* text = qualname && PyUnicode_Check(qualname.get()) ? PyUnicode_AsUTF8AndSize(qualname.get(), &size) : nullptr;
    if (text) found.assign(text, static_cast<std::size_t>(size));
    PyErr_Clear();
    if (!name) name = new std::string(std::move(found));  // kept for the life of the process
    return *name;
}

void set_str_to_vec_error() { set_type_error("Can't extract `str` to `Vec`"); }

void set_out_of_range_error() {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
}

// A sequence's length as a reservation size: failures count as 0 and a lying __len__ cannot
// make us reserve more than kMaxLengthHint items.
std::size_t capacity_hint(PyObject* sequence) {
    Py_ssize_t length = PySequence_Size(sequence);
    if (length < 0) {
        PyErr_Clear();
        return 0;
    }
    return std::min(static_cast<std::size_t>(length), kMaxLengthHint);
}

// An int (directly or through __index__) as a C long.
bool to_long(PyObject* object, long& out) {
    PyRef index;
    if (!PyLong_Check(object)) {
        index.reset(PyNumber_Index(object));
        if (!index) return false;
        object = index.get();
    }
    long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

// Walks a sequence's iterator, handing each item to `take`; false with the error set.
template <class Take>
bool for_each_item(PyObject* sequence, Take take) {
    PyRef iterator(PyObject_GetIter(sequence));
    if (!iterator) return false;
    while (PyRef item{PyIter_Next(iterator.get())}) {
        if (!take(item.get())) return false;
    }
    return !PyErr_Occurred();
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** slots) {
    std::fill(slots, slots + signature.slot_count(), nullptr);

    Py_ssize_t given = args ? PyTuple_Size(args) : 0;
    if (given < 0) return false;
    if (static_cast<std::size_t>(given) > signature.positional_count) {
        std::string message = full_name(signature) + " takes ";
        if (signature.required_count == signature.positional_count) {
            message += std::to_string(signature.positional_count);
        } else {
            message += "from " + std::to_string(signature.required_count) + " to " + std::to_string(signature.positional_count);
        }
        message += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
        set_type_error(message);
        return false;
    }
    for (Py_ssize_t i = 0; i < given; ++i) slots[i] = PyTuple_GetItem(args, i);

    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            bool matched = false;
            if (PyUnicode_Check(key)) {
                for (std::size_t i = 0; i < signature.positional_count && !matched; ++i) {
                    if (!key_is(key, signature.positional[i])) continue;
                    if (slots[i]) {
                        set_type_error(full_name(signature) + " got multiple values for argument '" + signature.positional[i] +
                                       "'");
                        return false;
                    }
                    slots[i] = value;
                    matched = true;
                }
                for (std::size_t i = 0; i < signature.keyword_only_count && !matched; ++i) {
                    if (!key_is(key, signature.keyword_only[i].name)) continue;
                    slots[signature.positional_count + i] = value;
                    matched = true;
                }
            }
            if (!matched) {
                PyRef message(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'",
                                                   full_name(signature).c_str(), key));
                if (message) PyErr_SetObject(PyExc_TypeError, message.get());
                return false;
            }
        }
    }

    std::vector<const char*> missing;
    for (std::size_t i = 0; i < signature.required_count; ++i) {
        if (!slots[i]) missing.push_back(signature.positional[i]);
    }
    if (!missing.empty()) {
        set_type_error(full_name(signature) + " missing " + std::to_string(missing.size()) + " required positional " +
                       (missing.size() == 1 ? "argument" : "arguments") + ": " + quoted_name_list(missing));
        return false;
    }
    return true;
}

ExclusiveBorrow::ExclusiveBorrow(BorrowFlag& flag) : flag_(flag) {
    std::intptr_t expected = 0;
    held_ = flag_.value.compare_exchange_strong(expected, -1, std::memory_order_acq_rel);
    if (!held_) PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
}

SharedBorrow::SharedBorrow(BorrowFlag& flag) : flag_(flag) {
    std::intptr_t seen = flag_.value.load(std::memory_order_acquire);
    while (seen != -1) {
        if (flag_.value.compare_exchange_weak(seen, seen + 1, std::memory_order_acq_rel)) {
            held_ = true;
            return;
        }
    }
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
}

void set_not_instance_error(PyObject* object, const char* target) {
    if (object == Py_None) {
        set_type_error(std::string("'None' is not an instance of '") + target + "'");
    } else {
        set_type_error("'" + type_name_of(object) + "' object is not an instance of '" + target + "'");
    }
}

void set_prefixed_value_error(const char* prefix, const std::string& message) {
    std::string text = prefix;
    text += message;
    PyErr_SetString(PyExc_ValueError, text.c_str());
}

bool to_text(PyObject* object, std::string& out) {
    if (!PyUnicode_Check(object)) {
        set_not_instance_error(object, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (!text) return false;
    out.assign(text, static_cast<std::size_t>(size));
    return true;
}

bool to_u64(PyObject* object, std::uint64_t& out) {
    PyRef index;
    if (!PyLong_Check(object)) {
        index.reset(PyNumber_Index(object));
        if (!index) return false;
        object = index.get();
    }
    unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool to_u16(PyObject* object, std::uint16_t& out) {
    long value = 0;
    if (!to_long(object, value)) return false;
    if (value < 0 || value > 65535) {
        set_out_of_range_error();
        return false;
    }
    out = static_cast<std::uint16_t>(value);
    return true;
}

bool to_text_list(PyObject* object, std::vector<std::string>& out) {
    if (PyUnicode_Check(object)) {
        set_str_to_vec_error();
        return false;
    }
    if (!PySequence_Check(object)) {
        set_not_instance_error(object, sequence_name().c_str());
        return false;
    }
    std::vector<std::string> items;
    items.reserve(capacity_hint(object));
    bool ok = for_each_item(object, [&](PyObject* item) {
        std::string text;
        if (!to_text(item, text)) return false;
        items.push_back(std::move(text));
        return true;
    });
    if (!ok) return false;
    out = std::move(items);
    return true;
}

bool to_bytes(PyObject* object, std::string& out) {
    if (PyBytes_Check(object)) {
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(object, &data, &size) < 0) return false;
        out.assign(data, static_cast<std::size_t>(size));
        return true;
    }
    if (PyByteArray_Check(object)) {
        out.assign(PyByteArray_AsString(object), static_cast<std::size_t>(PyByteArray_Size(object)));
        return true;
    }
    if (PyUnicode_Check(object)) {
        set_str_to_vec_error();
        return false;
    }
    if (!PySequence_Check(object)) {
        set_not_instance_error(object, sequence_name().c_str());
        return false;
    }
    std::string bytes;
    bytes.reserve(capacity_hint(object));
    bool ok = for_each_item(object, [&](PyObject* item) {
        long value = 0;
        if (!to_long(item, value)) return false;
        if (value < 0 || value > 255) {
            set_out_of_range_error();
            return false;
        }
        bytes.push_back(static_cast<char>(value));
        return true;
    });
    if (!ok) return false;
    out = std::move(bytes);
    return true;
}

void add_parameter_note(const char* name) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (!type) return;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value) {
        if (traceback) PyException_SetTraceback(value, traceback);
        PyRef add_note(PyObject_GetAttrString(value, "add_note"));
        if (add_note) {
            PyRef note(PyUnicode_FromFormat("while processing '%s'", name));
            if (note) {
                PyRef result(PyObject_CallFunctionObjArgs(add_note.get(), note.get(), nullptr));
            }
        }
        // A missing add_note or a failing call only costs the note.
        PyErr_Clear();
    }
    PyErr_Restore(type, value, traceback);
}

void raise_from_cpp_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_Format(PyExc_RuntimeError, "internal error: %s", error.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "internal error");
    }
}

}  // namespace tessel::py
