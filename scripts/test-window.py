#!/usr/bin/python3
# A window of one solid colour for the screen tests on the Wayland desktops: GTK 3 through
# Debian's python3-gi (hence /usr/bin/python3, not whichever python3 comes first on PATH).
# Without decorations, so that the whole frame is the colour and a picture can be checked pixel
# by pixel; GDK_BACKEND=x11 makes it an Xwayland window instead of a Wayland one.
#
#   test-window.py APP_ID TITLE COLOUR WIDTH HEIGHT     e.g. dev.mirlet.Red "red" "#ff0000" 400 300
#
# APP_ID is the Wayland app id (on X11 it becomes the WM_CLASS instance; the class is the
# program's name). It prints "mapped" on standard output once the window is on screen, and
# minimises it on SIGUSR1.
import signal
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

app_id, title, colour, width, height = sys.argv[1:6]
GLib.set_prgname(app_id)
css = Gtk.CssProvider()
css.load_from_data(f"window {{ background: {colour}; }}".encode())
Gtk.StyleContext.add_provider_for_screen(
    Gdk.Screen.get_default(), css, Gtk.STYLE_PROVIDER_PRIORITY_USER)
window = Gtk.Window(title=title)
window.set_decorated(False)
window.set_default_size(int(width), int(height))
window.connect("destroy", Gtk.main_quit)
window.connect("map-event", lambda *_: print("mapped", flush=True))
window.show_all()
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, lambda: window.iconify() or True)
Gtk.main()
