#pragma once
// The events the host raises in the page: calls of the page functions the bridge contract
// names, made only when the page defines them (a page still loading is simply skipped).
#include <string>

#include "bridge_contract.h"

// The script for one event; `json_arg` is the argument's JSON text, or null for none.
std::string page_event_script(page_event event, const char *json_arg);

// The script for an event the host waits on (one the contract marks `answers`): once what
// the page's function returns has settled, or at once where the page has no such
// function, the page posts a message named like the event back through the bridge.
std::string page_event_answered_script(page_event event);
