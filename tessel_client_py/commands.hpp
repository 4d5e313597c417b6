// The command methods of Client: `command`, which reads one Command from JSON, and the typed
// methods, one per Command variant, which fill its fields straight from their arguments.
#pragma once

#include <array>
#include <cstddef>

#include "tessel_client/engine/command.hpp"
#include "tessel_client_py/python.hpp"

namespace tessel::py {

// `command`, then the typed methods in variant order: rows 6 to 34 of the method table.
inline constexpr std::size_t kCommandMethodRows = 1 + kCommandVariants;
const std::array<PyMethodDef, kCommandMethodRows>& command_method_rows();

}  // namespace tessel::py
