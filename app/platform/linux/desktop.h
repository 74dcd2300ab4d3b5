#pragma once
// The main window's desktop state on Linux. window is the host's GtkWindow* (or null).

// Asks for the user's attention: the urgency hint, cleared once the window is active.
void window_request_attention(void *window);

// Visible, not minimised and the active (focused) toplevel.
bool window_in_front(void *window);
