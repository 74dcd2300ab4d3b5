#!/usr/bin/python3
"""Opens one address in a WebKitGTK view (the engine the Linux host embeds) and keeps it
running until the page is done or the time limit passes. Run under xvfb-run. The page
reports its result to its own server; this script only hosts it."""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.1")
from gi.repository import GLib, Gtk, WebKit2  # noqa: E402

url, limit = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 120
window = Gtk.Window()
view = WebKit2.WebView()
window.add(view)
window.connect("destroy", Gtk.main_quit)
GLib.timeout_add_seconds(limit, Gtk.main_quit)
view.load_uri(url)
window.show_all()
Gtk.main()
