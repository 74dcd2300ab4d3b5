#include "webview.h"

#include <exception>

#include "gtk_webkit_engine.h"

namespace webview {

engine *create(void) {
  try {
    return new gtk_webkit_engine();
  } catch (const std::exception &) {
    return nullptr;
  }
}

}  // namespace webview
