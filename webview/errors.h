#pragma once
// Result codes of the web view engine and the error classes that carry them inside it.
// At the engine's outer interface (webview.h) every error becomes its code.
#include <exception>
#include <string>
#include <utility>

namespace webview {

enum error_code : int {
  WEBVIEW_ERROR_OK = 0,
  WEBVIEW_ERROR_DUPLICATE = 1,          // a bind of a name that is already bound
  WEBVIEW_ERROR_UNSPECIFIED = -1,
  WEBVIEW_ERROR_INVALID_ARGUMENT = -2,  // a missing engine or required argument
  WEBVIEW_ERROR_INVALID_STATE = -3,
  WEBVIEW_ERROR_CANCELED = -4,
  WEBVIEW_ERROR_MISSING_DEPENDENCY = -5,
};

extern const char null_instance_message[];  // "Cannot cast null pointer to webview instance"

class exception : public std::exception {
 public:
  exception(int code, std::string message) : code_(code), message_(std::move(message)) {}
  explicit exception(int code) : code_(code) {}
  int code() const noexcept { return code_; }
  const std::string &message() const noexcept { return message_; }
  const char *what() const noexcept override {
    return message_.empty() ? "Unknown exception" : message_.c_str();
  }

 private:
  int code_;
  std::string message_;
};

// Raised when the value of a result that holds an error is read.
class bad_access : public std::exception {
 public:
  const char *what() const noexcept override { return "Bad access"; }
};

// A value or the error that stands in its place.
template <typename T>
class result {
 public:
  result(T value) : value_(std::move(value)), code_(WEBVIEW_ERROR_OK) {}  // NOLINT
  result(const exception &e) : value_(), code_(e.code()), message_(e.message()) {}  // NOLINT

  bool ok() const noexcept { return code_ == WEBVIEW_ERROR_OK; }
  int code() const noexcept { return code_; }
  const std::string &message() const noexcept { return message_; }
  const T &value() const {
    if (!ok()) throw bad_access();
    return value_;
  }

 private:
  T value_;
  int code_;
  std::string message_;
};

}  // namespace webview
