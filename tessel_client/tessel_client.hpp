// Public header of the tessel_client engine: the connection (`Engine`, built from a `Config`
// with optional `Credentials`), what the host asks of it (`Command`), what it reports
// (`Event`), what it knows (`Model`), the voice frame it carries (`Signal`), the wire codecs,
// and the host JSON forms of all of these.
#pragma once

#include "tessel_client/protocol/casemapping.hpp"
#include "tessel_client/protocol/ctcp.hpp"
#include "tessel_client/protocol/isupport.hpp"
#include "tessel_client/protocol/json_value.hpp"
#include "tessel_client/protocol/message.hpp"
#include "tessel_client/protocol/mode_changes.hpp"
#include "tessel_client/protocol/server_time.hpp"

#include "tessel_client/engine/command.hpp"
#include "tessel_client/engine/config.hpp"
#include "tessel_client/engine/engine.hpp"
#include "tessel_client/engine/event.hpp"
#include "tessel_client/model/model.hpp"
#include "tessel_client/voice/signal.hpp"

#include "tessel_client/formats/command_json.hpp"
#include "tessel_client/formats/config_json.hpp"
#include "tessel_client/formats/event_json.hpp"
#include "tessel_client/formats/model_json.hpp"
