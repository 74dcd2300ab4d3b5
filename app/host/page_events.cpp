#include "page_events.h"

std::string page_event_script(page_event event, const char *json_arg) {
  std::string name = std::string("window.") + contract_events[event].name;
  return name + " && " + name + "(" + (json_arg ? json_arg : "") + ")";
}
