#pragma once
// The 19 native functions the page calls through the script bridge, in the bridge
// contract's order (app/common/bridge_contract.json). Each answers through the host's
// reply with a JSON result text of a kind the contract declares, and never rejects.
#include "app/common/native_call.h"

typedef native_handler msw_handler;
typedef native_binding msw_binding;

// In the order start-up binds them.
extern const msw_binding msw_bindings[];
extern const int msw_binding_count;
