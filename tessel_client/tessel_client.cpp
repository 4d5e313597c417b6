// Anchors the library target; the code lives in the subsystem folders.
#include "tessel_client/tessel_client.hpp"
