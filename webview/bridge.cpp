#include "bridge.h"

#include "json_text.h"

namespace webview {

namespace {

const char first_piece[] =
    "(function() {\n"
    "  'use strict';\n"
    "  function generateId() {\n"
    "    var bytes = new Uint8Array(16);\n"
    "    window.crypto.getRandomValues(bytes);\n"
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
    "      if (status === 0) {\n"
    "        promise.resolve(result);\n"
    "      } else if (status === 1) {\n"
    "        promise.reject(result);\n"
    "      } else {\n"
    "        promise.reject(new Error(\"Failed to parse binding result as JSON\"));\n"
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
    "    return Webview_;\n"
    "  })();\n"
    "  window.__webview__ = new Webview();\n"
    "})()";

}  // namespace

std::string bridge_script(const std::string &post_fn) {
  return first_piece + post_fn + second_piece;
}

std::string bind_script_for(const std::string &names_array) {
  return "(function() {\n  'use strict';\n  var methods = " + names_array +
         ";\n  methods.forEach(function(name) {\n    window.__webview__.onBind(name);\n  });\n})()";
}

std::string bind_announcement(const std::string &name) {
  return "if (window.__webview__) {\nwindow.__webview__.onBind(" + json_quoted(name) + ")\n}";
}

std::string reply_script(const std::string &id, int status, const std::string &result) {
  std::string head = "window.__webview__.onReply(" + json_quoted(id) + ", ";
  if (result.empty()) return head + std::to_string(status) + ")";
  // The result is JSON and so already a script expression: it goes in as it is, quoted
  // once by the function that made it. Text that is not JSON never reaches the script.
  if (!json_valid(result)) return head + "-1)";
  std::string code = head + std::to_string(status) + ", ";
  code.reserve(code.size() + result.size() + 1);  // one allocation for a result of megabytes
  code += result;
  code += ")";
  return code;
}

}  // namespace webview
