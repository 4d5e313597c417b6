// Python values to JSON text and back, through the host's own `json` module. The module is
// imported on every use, so a replacement the host installs takes effect at the next call.
#pragma once

#include <string>
#include <string_view>

#include "tessel_client_py/python.hpp"

namespace tessel::py {

// A str is taken as JSON text as it is; anything else goes through json.dumps. False with the
// host's exception set, unchanged.
bool json_text_of(PyObject* value, std::string& out);

// json.loads of the text; a new reference, or null with the host's exception set.
PyObject* json_loads(std::string_view text);

}  // namespace tessel::py
