#pragma once
// The web view engine: a top-level window holding the platform's browser view, with the
// script bridge. Made by create(); every other operation is a method of the engine
// (engine_base.h), all on the UI thread except reply and dispatch, which any thread may
// call.
#include "engine_base.h"

namespace webview {

using engine = engine_base;

// The engine of the platform the build picked, with its own top-level window; null when
// the platform's browser view can't start.
engine *create(void);

// What a person is told when create() fails: which browser engine the program needs and
// where to get it.
extern const char missing_engine_text[];

}  // namespace webview
