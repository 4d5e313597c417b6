// Public header of the tessel_client engine.
#pragma once

#include "tessel_client/protocol/casemapping.hpp"
#include "tessel_client/protocol/ctcp.hpp"
#include "tessel_client/protocol/isupport.hpp"
#include "tessel_client/protocol/json_value.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tessel_client/protocol/mode_changes.hpp"
#include "tessel_client/protocol/server_time.hpp"
