#pragma once
// The shape every native function the page calls has: the page's call id, the JSON text
// of its argument array and the binding's user data (null for all of ours). The services
// supply a table of them; the host binds the table into the page.

typedef void (*native_handler)(const char *id, const char *args, void *user);

struct native_binding {
  const char *name;
  native_handler handler;
};
