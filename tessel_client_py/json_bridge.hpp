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

// The host's json.loads, looked up anew; `standard` tells whether it is the json module's own
// function, whose results the binding may build itself. A new reference, or null with the
// host's exception set.
PyObject* json_loads_function(bool& standard);

// loads(text), the text given as a str; a new reference, or null with the host's exception set.
PyObject* json_loads(PyObject* loads, std::string_view text);

}  // namespace tessel::py
