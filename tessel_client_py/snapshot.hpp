// The model snapshot and the drained events as Python objects, built from the records instead
// of from their JSON text.
//
// What json.loads makes of the JSON text of a large model costs far more than writing it: the
// text becomes one huge str (four bytes a character as soon as one emoji is in it) and is
// scanned again. Built here, each value is made once from the bytes it holds, with the cyclic
// collector paused while the (acyclic) containers pile up. The result is equal to what the
// standard json.loads gives for the JSON text, in the same key order; the binding takes this
// road only while the host's `json.loads` is the standard one, so a host that replaced it still
// gets its replacement's result through the JSON bridge.
#pragma once

#include <span>

#include "tessel_client/engine/event.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client_py/python.hpp"

namespace tessel::py {

// New references, or null with the Python exception set (MemoryError, or UnicodeDecodeError
// for a text that is not UTF-8, as decoding the JSON text would raise).
PyObject* model_object(const Model& model);
// Every event but a voice event is built directly; a voice event's signal has a host form of
// its own, so it is read back from its JSON text with `loads`, which must be the standard one.
PyObject* events_object(std::span<const Event> events, PyObject* loads);

}  // namespace tessel::py
