#pragma once
// The black-out key through the desktop portal's global shortcuts
// (org.freedesktop.portal.GlobalShortcuts), for sessions without X11 where no program may
// grab a key itself. UI thread.

// Binds one shortcut with the trigger in the shortcuts format ("F12", "a", "Pause") and
// calls on_press each time the portal reports it activated. False when no portal answers,
// it has no global shortcuts, or it (or the person) refused; nothing stays bound then.
bool portal_shortcut_bind(const char *trigger, void (*on_press)(void));

// Closes the portal session, if any: the shortcut is released.
void portal_shortcut_release(void);
