#include "tessel_client_py/client.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tessel_client/formats/config_json.hpp"
#include "tessel_client/formats/event_json.hpp"
#include "tessel_client/formats/model_json.hpp"
#include "tessel_client_py/commands.hpp"
#include "tessel_client_py/docs.hpp"
#include "tessel_client_py/frame.hpp"
#include "tessel_client_py/json_bridge.hpp"
#include "tessel_client_py/snapshot.hpp"

namespace tessel::py {

namespace {

// ---- Argument descriptions --------------------------------------------------------------------

constexpr const char* kNewPositional[] = {"nick"};
constexpr KeywordOnly kNewKeywordOnly[] = {
    {"username", false}, {"realname", false}, {"password", false},
    {"sasl", false},     {"retention", false}, {"alt_nicks", false},
};
constexpr Signature kNewSignature{"__new__", kNewPositional, 1, 1, kNewKeywordOnly, 6};

constexpr const char* kFromConfigPositional[] = {"config"};
constexpr Signature kFromConfigSignature{"from_config", kFromConfigPositional, 1, 1};

constexpr const char* kTickPositional[] = {"monotonic_ms", "unix_ms"};
constexpr Signature kTickSignature{"tick", kTickPositional, 2, 2};

constexpr const char* kHandleBytesPositional[] = {"data"};
constexpr Signature kHandleBytesSignature{"handle_bytes", kHandleBytesPositional, 1, 1};

bool given(PyObject* argument) { return argument != nullptr && argument != Py_None; }

// Optional text: None and not given are both absent.
bool convert_optional_text(PyObject* argument, const char* name, std::optional<std::string>& out) {
    if (!given(argument)) return true;
    std::string text;
    if (!convert_arg(to_text, argument, name, text)) return false;
    out = std::move(text);
    return true;
}

// ---- Construction -------------------------------------------------------------------------------

PyObject* client_new_impl(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* slots[7];
    if (!bind_arguments(kNewSignature, args, kwargs, slots)) return nullptr;
    PyObject* nick = slots[0];
    PyObject* username = slots[1];
    PyObject* realname = slots[2];
    PyObject* password = slots[3];
    PyObject* sasl = slots[4];
    PyObject* retention = slots[5];
    PyObject* alt_nicks = slots[6];

    Config config;
    if (!convert_arg(to_text, nick, "nick", config.nick)) return nullptr;
    std::optional<std::string> given_username;
    std::optional<std::string> given_realname;
    if (!convert_optional_text(username, "username", given_username)) return nullptr;
    if (!convert_optional_text(realname, "realname", given_realname)) return nullptr;
    if (!convert_optional_text(password, "password", config.password)) return nullptr;
    if (given(retention) && !convert_arg(to_u64, retention, "retention", config.retention)) return nullptr;
    if (given(alt_nicks) && !convert_arg(to_text_list, alt_nicks, "alt_nicks", config.alt_nicks)) return nullptr;
    config.username = given_username ? std::move(*given_username) : config.nick;
    config.realname = given_realname ? std::move(*given_realname) : config.nick;

    if (given(sasl)) {
        std::string text;
        if (!json_text_of(sasl, text)) return nullptr;
        JsonResult<Credentials> credentials = credentials_from_json(text);
        if (!credentials) {
            set_prefixed_value_error("invalid sasl: ", credentials.error().shown());
            return nullptr;
        }
        config.sasl = std::move(credentials.value());
    }

    return new_client(type, Engine(std::move(config)));
}

PyObject* client_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    try {
        return client_new_impl(type, args, kwargs);
    } catch (...) {
        raise_from_cpp_exception();
        return nullptr;
    }
}

void client_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    ClientObject& client = client_of(self);
    client.engine.~Engine();
    client.borrow.~BorrowFlag();
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    // Every instance of a heap type holds a reference to it.
    Py_DECREF(type);
}

PyObject* from_config(PyObject* /*cls*/, PyObject* args, PyObject* kwargs) {
    PyObject* config = nullptr;
    if (!bind_arguments(kFromConfigSignature, args, kwargs, &config)) return nullptr;
    std::string text;
    if (!json_text_of(config, text)) return nullptr;
    JsonResult<Config> read = config_from_json(text);
    if (!read) {
        set_prefixed_value_error("invalid config: ", read.error().shown());
        return nullptr;
    }
    return new_client(reinterpret_cast<PyTypeObject*>(client_type_object()), Engine(std::move(read.value())));
}

// ---- Engine-driving methods ---------------------------------------------------------------------

PyObject* handle_connected(PyObject* self) {
    ClientObject& client = client_of(self);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    {
        LockRelease unlocked;
        client.engine.handle_connected();
    }
    Py_RETURN_NONE;
}

PyObject* handle_disconnected(PyObject* self) {
    ClientObject& client = client_of(self);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    {
        LockRelease unlocked;
        client.engine.handle_disconnected();
    }
    Py_RETURN_NONE;
}

PyObject* tick(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* slots[2];
    if (!bind_arguments(kTickSignature, args, kwargs, slots)) return nullptr;
    ClientObject& client = client_of(self);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    std::uint64_t monotonic_ms = 0;
    std::uint64_t unix_ms = 0;
    if (!convert_arg(to_u64, slots[0], "monotonic_ms", monotonic_ms)) return nullptr;
    if (!convert_arg(to_u64, slots[1], "unix_ms", unix_ms)) return nullptr;
    {
        LockRelease unlocked;
        client.engine.tick(monotonic_ms, unix_ms);
    }
    Py_RETURN_NONE;
}

PyObject* poll_timeout(PyObject* self) {
    ClientObject& client = client_of(self);
    SharedBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    std::optional<std::uint64_t> deadline = client.engine.poll_timeout();
    if (!deadline) Py_RETURN_NONE;
    return PyLong_FromUnsignedLongLong(*deadline);
}

PyObject* handle_bytes(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* data_arg = nullptr;
    if (!bind_arguments(kHandleBytesSignature, args, kwargs, &data_arg)) return nullptr;
    ClientObject& client = client_of(self);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    std::string data;
    if (!convert_arg(to_bytes, data_arg, "data", data)) return nullptr;
    {
        LockRelease unlocked;
        client.engine.handle_bytes(data);
        std::string().swap(data);
    }
    Py_RETURN_NONE;
}

PyObject* poll_transmit(PyObject* self) {
    ClientObject& client = client_of(self);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    std::optional<std::string> chunk = client.engine.poll_transmit();
    if (!chunk) Py_RETURN_NONE;
    return PyBytes_FromStringAndSize(chunk->data(), static_cast<Py_ssize_t>(chunk->size()));
}

PyObject* poll_events(PyObject* self) {
    ClientObject& client = client_of(self);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    std::vector<Event> events;
    {
        LockRelease unlocked;
        events = client.engine.poll_events();
    }
    bool standard = false;
    PyRef loads(json_loads_function(standard));
    if (!loads) return nullptr;
    if (standard) return events_object(events, loads.get());
    std::string text;
    {
        LockRelease unlocked;
        text = events_to_json(events);
    }
    return json_loads(loads.get(), text);
}

PyObject* model(PyObject* self) {
    ClientObject& client = client_of(self);
    SharedBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    bool standard = false;
    PyRef loads(json_loads_function(standard));
    if (!loads) return nullptr;
    // Built with the lock held, as json.loads would build it from the text.
    if (standard) return model_object(client.engine.model);
    std::string text;
    {
        LockRelease unlocked;
        text = model_to_json(client.engine.model);
    }
    return json_loads(loads.get(), text);
}

// ---- Type ---------------------------------------------------------------------------------------

constexpr int kArguments = METH_VARARGS | METH_KEYWORDS;

// The full method table: the engine-driving rows around the command methods (rows 6 to 34).
PyMethodDef* method_table() {
    static std::array<PyMethodDef, 10 + kCommandMethodRows> table = [] {
        const PyMethodDef before[] = {
            {"from_config", as_method(guarded<from_config>), METH_CLASS | kArguments, docs::kFromConfig},
            {"handle_connected", guarded_noargs<handle_connected>, METH_NOARGS, docs::kHandleConnected},
            {"handle_disconnected", guarded_noargs<handle_disconnected>, METH_NOARGS, docs::kHandleDisconnected},
            {"tick", as_method(guarded<tick>), kArguments, docs::kTick},
            {"poll_timeout", guarded_noargs<poll_timeout>, METH_NOARGS, docs::kPollTimeout},
        };
        const PyMethodDef after[] = {
            {"handle_bytes", as_method(guarded<handle_bytes>), kArguments, docs::kHandleBytes},
            {"poll_transmit", guarded_noargs<poll_transmit>, METH_NOARGS, docs::kPollTransmit},
            {"poll_events", guarded_noargs<poll_events>, METH_NOARGS, docs::kPollEvents},
            {"model", guarded_noargs<model>, METH_NOARGS, docs::kModel},
            {nullptr, nullptr, 0, nullptr},
        };
        std::array<PyMethodDef, 10 + kCommandMethodRows> rows{};
        auto at = std::copy(std::begin(before), std::end(before), rows.begin());
        at = std::copy(command_method_rows().begin(), command_method_rows().end(), at);
        std::copy(std::begin(after), std::end(after), at);
        return rows;
    }();
    return table.data();
}

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(client_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(client_dealloc)},
    {Py_tp_doc, const_cast<char*>(docs::kClient)},
    {Py_tp_methods, nullptr},  // method_table(), filled in when the type is made
    {0, nullptr},
};

PyType_Spec kClientType = {
    "tessel_client.Client",
    static_cast<int>(sizeof(ClientObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    kSlots,
};

}  // namespace

PyObject* client_type_object() {
    static PyObject* type = nullptr;
    if (!type) {
        for (PyType_Slot& slot : kSlots)
            if (slot.slot == Py_tp_methods) slot.pfunc = method_table();
        type = PyType_FromSpec(&kClientType);
    }
    return type;
}

PyObject* new_client(PyTypeObject* type, Engine&& engine) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (!self) return nullptr;
    ClientObject& client = client_of(self);
    try {
        new (&client.engine) Engine(std::move(engine));
    } catch (...) {
        // No engine to drop: give the bare object back, with the type reference it took.
        reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
        Py_DECREF(type);
        throw;
    }
    new (&client.borrow) BorrowFlag();
    return self;
}

}  // namespace tessel::py
