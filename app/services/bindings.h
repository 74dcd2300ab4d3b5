#pragma once
// The 19 native functions the page calls through the script bridge. Every one has the
// bridge's handler shape: the page's call id, the JSON text of its argument array and
// the binding's user data (null for all of ours). Each answers through host_reply with
// a JSON result text and never rejects.

typedef void (*msw_handler)(const char *id, const char *args, void *user);

struct msw_binding {
  const char *name;
  msw_handler handler;
};

// In the order start-up binds them.
extern const msw_binding msw_bindings[];
extern const int msw_binding_count;
