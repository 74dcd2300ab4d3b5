#pragma once
// How the engine reports a failure inside itself: a result code and a message. At the
// engine's outer interface every error becomes its code, and creation gives no engine.
#include <exception>
#include <string>

namespace webview {

enum result_code {
  result_ok = 0,
  result_duplicate = 1,
  result_unspecified = -1,
  result_invalid_argument = -2,
  result_invalid_state = -3,
  result_canceled = -4,
  result_missing_dependency = -5,
};

class exception : public std::exception {
 public:
  exception(int code, std::string message) : code_(code), message_(std::move(message)) {}
  int code() const noexcept { return code_; }
  const char *what() const noexcept override {
    return message_.empty() ? "Unknown exception" : message_.c_str();
  }

 private:
  int code_;
  std::string message_;
};

}  // namespace webview
