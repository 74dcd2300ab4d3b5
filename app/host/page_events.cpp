#include "page_events.h"

#include "json_text.h"

std::string page_event_script(page_event event, const char *json_arg) {
  std::string name = std::string("window.") + contract_events[event].name;
  return name + " && " + name + "(" + (json_arg ? json_arg : "") + ")";
}

std::string page_event_answered_script(page_event event) {
  std::string name = std::string("window.") + contract_events[event].name;
  std::string answer = "window.__webview__.post(JSON.stringify({id: \"\", method: " +
                       json_quoted(contract_events[event].name) + ", params: []}))";
  // A function that throws, or a promise that rejects, still answers: the host only waits
  // for the page to be done, whatever it made of the event.
  return "(function () {\n  var answer = function () { " + answer + "; };\n  try {\n    Promise.resolve(" + name +
         " && " + name + "()).then(answer, answer);\n  } catch (e) {\n    answer();\n  }\n})()";
}
