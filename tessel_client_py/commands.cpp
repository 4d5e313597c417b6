// Strategy: a typed method is one template over the variant's index. Its parameters are the
// variant's fields (command_fields), so the argument description, the order of conversion
// and the note naming a failing parameter all follow from one list; each field's type picks
// its conversion. The typed methods keep the interpreter lock while the engine works: the
// work is a few lines and a lock hand-over would cost more. `command` reads JSON, which the
// typed path never does (bar a voice signal), and releases the lock around the executor.
#include "tessel_client_py/commands.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "tessel_client/engine/command_fields.hpp"
#include "tessel_client/formats/command_json.hpp"
#include "tessel_client/formats/json_messages.hpp"
#include "tessel_client/voice/signal_reader.hpp"
#include "tessel_client_py/client.hpp"
#include "tessel_client_py/docs.hpp"
#include "tessel_client_py/frame.hpp"
#include "tessel_client_py/json_bridge.hpp"

namespace tessel::py {
namespace {

constexpr std::uint16_t kDefaultHistoryLimit = 50;

// ---- Conversions into fields ------------------------------------------------------------------
// `argument` is null when the parameter was not given (only for parameters with a default).

bool convert_field(PyObject* argument, const char* name, std::string& out) {
    return convert_arg(to_text, argument, name, out);
}

bool convert_field(PyObject* argument, const char* name, std::optional<std::string>& out) {
    if (argument == nullptr || argument == Py_None) return true;
    std::string text;
    if (!convert_arg(to_text, argument, name, text)) return false;
    out = std::move(text);
    return true;
}

bool convert_field(PyObject* argument, const char* name, std::uint64_t& out) {
    return convert_arg(to_u64, argument, name, out);
}

// Only `limit` is 16 bits wide; None is refused like any other value, only absence defaults.
bool convert_field(PyObject* argument, const char* name, std::uint16_t& out) {
    if (argument == nullptr) {
        out = kDefaultHistoryLimit;
        return true;
    }
    return convert_arg(to_u16, argument, name, out);
}

bool convert_field(PyObject* argument, const char* name, std::vector<std::string>& out) {
    return convert_arg(to_text_list, argument, name, out);
}

bool convert_field(PyObject* argument, const char* name, TypingState& out) {
    std::string word;
    if (!convert_arg(to_text, argument, name, word)) return false;
    const auto it = std::find(kTypingWords.begin(), kTypingWords.end(), word);
    if (it == kTypingWords.end()) {
        std::string message = "invalid typing state: ";
        append_quoted_text(word, message);
        message += ", expected active, paused or done";
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return false;
    }
    out = static_cast<TypingState>(it - kTypingWords.begin());
    return true;
}

// The one JSON argument of the typed methods; neither of its errors names the parameter.
bool convert_field(PyObject* argument, const char* /*name*/, Signal& out) {
    std::string text;
    if (!json_text_of(argument, text)) return false;
    JsonResult<Signal> read = signal_from_json(text);
    if (!read) {
        set_prefixed_value_error("invalid voice signal: ", read.error().shown());
        return false;
    }
    out = std::move(read.value());
    return true;
}

// A command whose line could not carry one of its fields: the field is named and its value
// quoted as the typing-state error quotes its word, whichever road the command came by.
void set_refusal_error(const CommandRefusal& refusal) {
    std::string message = "invalid ";
    message += refusal.field;
    message += ": ";
    append_quoted_text(refusal.value, message);
    message += refusal.place == CommandRefusal::Place::ListItem ? " cannot be a list item"
                                                                : " cannot be a middle parameter";
    PyErr_SetString(PyExc_ValueError, message.c_str());
}

// ---- Argument descriptions ----------------------------------------------------------------------

template <class T>
constexpr bool kHasDefault = kOptionalField<T> || std::is_same_v<T, std::uint16_t>;

template <std::size_t I>
using VariantAt = std::variant_alternative_t<I, Command::Variant>;

template <class Fields>
struct FieldTraits;
template <class... T>
struct FieldTraits<std::tuple<CommandField<T>...>> {
    static constexpr std::size_t count = sizeof...(T);
    static constexpr std::size_t required = (std::size_t{!kHasDefault<T>} + ... + 0);
    // The binder wants the required parameters first.
    static constexpr bool required_first = [] {
        constexpr bool has_default[] = {kHasDefault<T>..., true};
        for (std::size_t i = 0; i < required; ++i)
            if (has_default[i]) return false;
        return true;
    }();
};

template <std::size_t I>
using TraitsAt = FieldTraits<decltype(command_fields(std::declval<VariantAt<I>&>()))>;

template <std::size_t I>
const Signature& signature_of() {
    using Traits = TraitsAt<I>;
    static_assert(Traits::required_first);
    static const std::array<const char*, Traits::count> names = [] {
        VariantAt<I> sample{};
        return std::apply([](const auto&... f) { return std::array<const char*, Traits::count>{f.name.data()...}; },
                          command_fields(sample));
    }();
    static const Signature signature{kCommandWords[I].data(), names.data(), Traits::count, Traits::required};
    return signature;
}

// ---- Methods --------------------------------------------------------------------------------------

template <std::size_t I>
PyObject* typed_command(PyObject* self, PyObject* args, PyObject* kwargs) {
    const Signature& signature = signature_of<I>();
    std::array<PyObject*, TraitsAt<I>::count> slots{};
    if (!bind_arguments(signature, args, kwargs, slots.data())) return nullptr;
    ClientObject& client = client_of(self);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    VariantAt<I> command{};
    const bool converted = std::apply(
        [&](const auto&... f) {
            std::size_t i = 0;
            return (convert_field(slots[i++], f.name.data(), f.member) && ...);
        },
        command_fields(command));
    if (!converted) return nullptr;
    if (std::optional<CommandRefusal> refusal = client.engine.execute(Command{std::move(command)})) {
        set_refusal_error(*refusal);
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject* list_invite_links(PyObject* self) {
    ClientObject& client = client_of(self);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    client.engine.execute(Command{Command::ListInviteLinks{}});
    Py_RETURN_NONE;
}

constexpr const char* kCommandPositional[] = {"command"};
constexpr Signature kCommandSignature{"command", kCommandPositional, 1, 1};

PyObject* command(PyObject* self, PyObject* args, PyObject* kwargs) {
    PyObject* argument = nullptr;
    if (!bind_arguments(kCommandSignature, args, kwargs, &argument)) return nullptr;
    ClientObject& client = client_of(self);
    ExclusiveBorrow borrow(client.borrow);
    if (!borrow) return nullptr;
    std::string text;
    if (!json_text_of(argument, text)) return nullptr;
    JsonResult<Command> read = command_from_json(text);
    if (!read) {
        set_prefixed_value_error("invalid command: ", read.error().shown());
        return nullptr;
    }
    std::optional<CommandRefusal> refusal;
    {
        LockRelease unlocked;
        refusal = client.engine.execute(std::move(read.value()));
    }
    if (refusal) {
        set_refusal_error(*refusal);
        return nullptr;
    }
    Py_RETURN_NONE;
}

constexpr std::size_t kListInviteLinks = 19;
static_assert(std::is_same_v<VariantAt<kListInviteLinks>, Command::ListInviteLinks>);

template <std::size_t I>
PyMethodDef typed_row() {
    if constexpr (I == kListInviteLinks) {
        return {kCommandWords[I].data(), guarded_noargs<list_invite_links>, METH_NOARGS, docs::kCommandMethods[I]};
    } else {
        return {kCommandWords[I].data(), as_method(guarded<typed_command<I>>), METH_VARARGS | METH_KEYWORDS,
                docs::kCommandMethods[I]};
    }
}

template <std::size_t... I>
std::array<PyMethodDef, kCommandMethodRows> make_rows(std::index_sequence<I...>) {
    return {PyMethodDef{"command", as_method(guarded<command>), METH_VARARGS | METH_KEYWORDS, docs::kCommand},
            typed_row<I>()...};
}

static_assert(std::size(docs::kCommandMethods) == kCommandVariants);

}  // namespace

const std::array<PyMethodDef, kCommandMethodRows>& command_method_rows() {
    static const std::array<PyMethodDef, kCommandMethodRows> rows =
        make_rows(std::make_index_sequence<kCommandVariants>{});
    return rows;
}

}  // namespace tessel::py
