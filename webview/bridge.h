#pragma once
// The texts of the script bridge's page half: the bridge script, the bind script, the
// bind announcement and the reply script. Pure text work, shared by every engine and
// tested on its own; the native half reads call messages with the common JSON codec.
#include <map>
#include <string>

#include "json_text.h"
#include "utf8.h"

namespace webview {

// The script run at the start of every document; `post_fn` is the engine's function
// expression that hands one message string to the native side.
std::string bridge_script(const std::string &post_fn);

// The script that defines one global per bound name (names in registry order).
template <typename Map>
std::string bind_script(const Map &registry);
std::string bind_script_for(const std::string &names_array);

// Makes a just-bound name available in an already loaded document.
std::string bind_announcement(const std::string &name);

// Settles one page call: status 0 resolves it with the result, 1 rejects it with the
// result. `result` is a JSON text put into the script as it is (an empty one settles with
// undefined); one that is not well-formed JSON rejects the call with an error instead.
std::string reply_script(const std::string &id, int status, const std::string &result);

template <typename Map>
std::string bind_script(const Map &registry) {
  std::string names = "[";
  bool first = true;
  for (const auto &entry : registry) {
    if (!first) names += ",";
    first = false;
    names += json_quoted(entry.first);
  }
  names += "]";
  return bind_script_for(names);
}

}  // namespace webview
