#pragma once
// The black-out key through the desktop portal's global shortcuts
// (org.freedesktop.portal.GlobalShortcuts), for sessions without X11 where no program may
// grab a key itself. UI thread.

// Starts binding one shortcut with the trigger in the shortcuts format ("F12", "a",
// "Pause"); on_press is called each time the portal reports it activated. The portal may
// first ask the person, so this returns at once and the main loop keeps running; answer
// is called exactly once, on the UI thread, with true when the shortcut is bound, false
// when no portal answers, it has no global shortcuts, it (or the person) refused, it did
// not answer in time, or the bind was given up by a later bind or release. Nothing stays
// bound after false. answer may be called before this returns (no session bus).
void portal_shortcut_bind(const char *trigger, void (*on_press)(void), void (*answer)(bool bound, void *data),
                          void *data);

// Gives up a bind still waiting (its answer is false) and closes the portal session, if
// any: the shortcut is released.
void portal_shortcut_release(void);

// How long each step of a bind waits for the portal before it answers false (25 s unless
// set); tests shorten it.
void portal_shortcut_set_answer_wait(unsigned ms);
