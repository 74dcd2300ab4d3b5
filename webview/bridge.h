#pragma once
// The texts of the script bridge: the page half (bridge script, bind script, bind
// announcement, reply script) and the native half's reading of a call message. Pure
// text work, shared by every engine and tested on its own.
#include <map>
#include <string>

#include "utf8.h"

namespace webview {

// The quoted JSON string the bridge uses for call ids, names and results: short escapes
// for \b \t \n \f \r, \u00xx for the other bytes below 0x20, everything else as is.
std::string bridge_quote(const std::string &text);

// The script run at the start of every document; `post_fn` is the engine's function
// expression that hands one message string to the native side.
std::string bridge_script(const std::string &post_fn);

// The script that defines one global per bound name (names in registry order).
template <typename Map>
std::string bind_script(const Map &registry);
std::string bind_script_for(const std::string &names_array);

// Makes a just-bound name available in an already loaded document.
std::string bind_announcement(const std::string &name);

// Settles one page call. An empty result becomes undefined.
std::string reply_script(const std::string &id, int status, const std::string &result);

// The value of `key` in the top-level object of a call message: strings decoded (only
// the short escapes; any other escape empties the value), other values as raw text,
// missing keys as the empty text.
std::string message_field(const std::string &message, const std::string &key);

template <typename Map>
std::string bind_script(const Map &registry) {
  std::string names = "[";
  bool first = true;
  for (const auto &entry : registry) {
    if (!first) names += ",";
    first = false;
    names += bridge_quote(entry.first);
  }
  names += "]";
  return bind_script_for(names);
}

}  // namespace webview
