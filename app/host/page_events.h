#pragma once
// The events the host raises in the page: calls of the page functions the bridge contract
// names, made only when the page defines them (a page still loading is simply skipped).
#include <string>

#include "bridge_contract.h"

// The script for one event; `json_arg` is the argument's JSON text, or null for none.
std::string page_event_script(page_event event, const char *json_arg);
