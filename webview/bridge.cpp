#include "bridge.h"

namespace webview {

namespace {

const char first_piece[] =
    "(function() {\n"
    "  'use strict';\n"
    "  function generateId() {\n"
    "    var crypto = window.crypto || window.msCrypto;\n"
    "    var bytes = new Uint8Array(16);\n"
    "    crypto.getRandomValues(bytes);\n"
    "    return Array.prototype.slice.call(bytes).map(function(n) {\n"
    "      return n.toString(16).padStart(2, '0');\n"
    "    }).join('');\n"
    "  }\n"
    "  var Webview = (function() {\n"
    "    var _promises = {};\n"
    "    function Webview_() {}\n"
    "    Webview_.prototype.post = function(message) {\n"
    "      return (";

// A settled call's entry is dropped, so a long-running page that makes thousands of
// calls (every vault save is one) does not keep every promise it ever made.
const char second_piece[] =
    ")(message);\n"
    "    };\n"
    "    Webview_.prototype.call = function(method) {\n"
    "      var _id = generateId();\n"
    "      var _params = Array.prototype.slice.call(arguments, 1);\n"
    "      var promise = new Promise(function(resolve, reject) {\n"
    "        _promises[_id] = { resolve: resolve, reject: reject };\n"
    "      });\n"
    "      this.post(JSON.stringify({\n"
    "        id: _id,\n"
    "        method: method,\n"
    "        params: _params\n"
    "      }));\n"
    "      return promise;\n"
    "    };\n"
    "    Webview_.prototype.onReply = function(id, status, result) {\n"
    "      var promise = _promises[id];\n"
    "      delete _promises[id];\n"
    "      if (result !== undefined) {\n"
    "        try {\n"
    "          result = JSON.parse(result);\n"
    "        } catch (e) {\n"
    "          promise.reject(new Error(\"Failed to parse binding result as JSON\"));\n"
    "          return;\n"
    "        }\n"
    "      }\n"
    "      if (status === 0) {\n"
    "        promise.resolve(result);\n"
    "      } else {\n"
    "        promise.reject(result);\n"
    "      }\n"
    "    };\n"
    "    Webview_.prototype.onBind = function(name) {\n"
    "      if (Object.prototype.hasOwnProperty.call(window, name)) {\n"
    "        throw new Error('Property \"' + name + '\" already exists');\n"
    "      }\n"
    "      window[name] = (function() {\n"
    "        var params = [name].concat(Array.prototype.slice.call(arguments));\n"
    "        return Webview_.prototype.call.apply(this, params);\n"
    "      }).bind(this);\n"
    "    };\n"
    "    Webview_.prototype.onUnbind = function(name) {\n"
    "      if (!Object.prototype.hasOwnProperty.call(window, name)) {\n"
    "        throw new Error('Property \"' + name + '\" does not exist');\n"
    "      }\n"
    "      delete window[name];\n"
    "    };\n"
    "    return Webview_;\n"
    "  })();\n"
    "  window.__webview__ = new Webview();\n"
    "})()";

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::string bridge_quote(const std::string &text) {
  static const char hex[] = "0123456789abcdef";
  size_t length = 2;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r')
      length += 2;
    else if (c < 0x20)
      length += 6;
    else
      length += 1;
  }
  std::string out;
  out.reserve(length);
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += (char)c;
        }
    }
  }
  out += '"';
  return out;
}

std::string bridge_script(const std::string &post_fn) {
  return first_piece + post_fn + second_piece;
}

std::string bind_script_for(const std::string &names_array) {
  return "(function() {\n  'use strict';\n  var methods = " + names_array +
         ";\n  methods.forEach(function(name) {\n    window.__webview__.onBind(name);\n  });\n})()";
}

std::string bind_announcement(const std::string &name) {
  return "if (window.__webview__) {\nwindow.__webview__.onBind(" + bridge_quote(name) + ")\n}";
}

std::string reply_script(const std::string &id, int status, const std::string &result) {
  return "window.__webview__.onReply(" + bridge_quote(id) + ", " + std::to_string(status) + ", " +
         (result.empty() ? std::string("undefined") : bridge_quote(result)) + ")";
}

namespace {

// Reads the string starting at the quote at `i`; answers the index after its closing
// quote (or the text's end). `value` gets the decoded text, or is cleared and `ok`
// cleared when an escape other than the short ones appears.
size_t read_string(const std::string &s, size_t i, std::string *value, bool *ok) {
  *ok = true;
  value->clear();
  for (i++; i < s.size(); i++) {
    char c = s[i];
    if (c == '"') return i + 1;
    if (c != '\\') {
      *value += c;
      continue;
    }
    if (++i >= s.size()) break;
    switch (s[i]) {
      case '"': *value += '"'; break;
      case '\\': *value += '\\'; break;
      case '/': *value += '/'; break;
      case 'b': *value += '\b'; break;
      case 'f': *value += '\f'; break;
      case 'n': *value += '\n'; break;
      case 'r': *value += '\r'; break;
      case 't': *value += '\t'; break;
      default: *ok = false;
    }
  }
  *ok = false;  // unterminated
  return s.size();
}

// Steps over one raw value (number, literal, object, array) from `i`; answers its end.
size_t raw_end(const std::string &s, size_t i) {
  int depth = 0;
  while (i < s.size()) {
    char c = s[i];
    if (depth == 0 && (c == ',' || c == '}')) break;
    if (c == '[' || c == '{') {
      depth++;
    } else if (c == ']' || c == '}') {
      depth--;
    } else if (c == '"') {
      for (i++; i < s.size() && s[i] != '"'; i++)
        if (s[i] == '\\') i++;
    }
    i++;
  }
  return i < s.size() ? i : s.size();
}

size_t skip_space(const std::string &s, size_t i) {
  while (i < s.size() && is_space(s[i])) i++;
  return i;
}

}  // namespace

std::string message_field(const std::string &message, const std::string &key) {
  size_t i = skip_space(message, 0);
  if (i >= message.size() || message[i] != '{') return "";
  i++;
  while (true) {
    i = skip_space(message, i);
    if (i >= message.size() || message[i] != '"') return "";
    std::string name;
    bool ok;
    i = read_string(message, i, &name, &ok);
    i = skip_space(message, i);
    if (i >= message.size() || message[i] != ':') return "";
    i = skip_space(message, i + 1);
    if (i >= message.size()) return "";
    std::string value;
    bool value_ok = true;
    if (message[i] == '"') {
      i = read_string(message, i, &value, &value_ok);
    } else {
      size_t end = raw_end(message, i);
      size_t cut = end;
      while (cut > i && is_space(message[cut - 1])) cut--;
      value = message.substr(i, cut - i);
      i = end;
    }
    if (ok && name == key) return value_ok ? value : "";
    i = skip_space(message, i);
    if (i >= message.size() || message[i] != ',') return "";
    i++;
  }
}

}  // namespace webview
