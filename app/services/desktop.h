#pragma once
// Small desktop services: title, attention, in-front test, clipboard, notifications,
// session autostart and the global black-out key.
#include <stddef.h>

#include <string>

// A notification field as it is shown: the text when it fits in room - 1 UTF-16 units
// (the notification fields' size on every platform), else empty. Bad UTF-8 is repaired.
std::string notification_field(const char *text, size_t room);

void msw_set_panic(const char *id, const char *args, void *user);
void msw_attention(const char *id, const char *args, void *user);
void msw_title(const char *id, const char *args, void *user);
void msw_copy(const char *id, const char *args, void *user);
void msw_paste(const char *id, const char *args, void *user);
void msw_startup(const char *id, const char *args, void *user);
void msw_focused(const char *id, const char *args, void *user);
void msw_notify_setup(const char *id, const char *args, void *user);
void msw_notify(const char *id, const char *args, void *user);
