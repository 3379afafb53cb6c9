#!/usr/bin/python3
# A GTK 3 window for the accessibility tests: nested panels holding a button, a picture, a
# link-like label and a multi-line text. Writes each widget's rectangle in root pixels to the
# file named by its first argument ("name x y width height" lines), again whenever the window
# moves, so the test compares with what the toolkit itself reports.
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib, Gtk  # noqa: E402

report = sys.argv[1]
title = sys.argv[2] if len(sys.argv) > 2 else "Ventana GTK"

window = Gtk.Window(title=title)
window.set_default_size(520, 420)
window.move(60, 80)

outer = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8, margin=12)
frame = Gtk.Frame(label="Panel")
inner = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8, margin=8)
row = Gtk.Box(orientation=Gtk.Orientation.HORIZONTAL, spacing=8)

button = Gtk.Button(label="Enviar mensaje")
pixbuf = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, False, 8, 120, 80)
pixbuf.fill(0x3366CCFF)
picture = Gtk.Image.new_from_pixbuf(pixbuf)
link = Gtk.Label()
link.set_markup('<a href="https://example.org/">Abrir la ayuda</a>')
text = Gtk.TextView()
text.get_buffer().set_text("Primera línea del texto\nSegunda línea del texto\nTercera línea")
text.set_size_request(300, 90)

row.pack_start(button, False, False, 0)
row.pack_start(picture, False, False, 0)
inner.pack_start(row, False, False, 0)
inner.pack_start(link, False, False, 0)
inner.pack_start(text, False, False, 0)
frame.add(inner)
outer.pack_start(frame, True, True, 0)
window.add(outer)
window.connect("destroy", Gtk.main_quit)

pending = [False]


def write_report():
    pending[0] = False
    gdk_window = window.get_window()
    if gdk_window is None:
        return False
    _, ox, oy = gdk_window.get_origin()
    lines = []
    for name, widget in (("window", window), ("button", button), ("picture", picture), ("link", link), ("text", text)):
        if widget is window:
            x, y = 0, 0
        else:
            x, y = widget.translate_coordinates(window, 0, 0)
        allocation = widget.get_allocation()
        lines.append(f"{name} {ox + x} {oy + y} {allocation.width} {allocation.height}")
    with open(report + ".part", "w") as out:
        out.write("\n".join(lines) + "\n")
    os.replace(report + ".part", report)
    return False


def schedule(*_):
    if not pending[0]:
        pending[0] = True
        GLib.timeout_add(150, write_report)
    return False


window.connect("configure-event", schedule)
window.connect("map-event", schedule)
window.show_all()
Gtk.main()
