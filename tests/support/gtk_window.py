#!/usr/bin/python3
# The GTK 3 window desktop tests point at: nested panels holding a button, a picture, a link-like
# label and a three-line text. Once it has stood still for half a second it writes each widget's
# rectangle in root pixels to the file named by its first argument ("name x y width height"); the
# name of every key it receives goes to that name plus ".keys".
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import Gdk, GdkPixbuf, GLib, Gtk  # noqa: E402

window = Gtk.Window(title=sys.argv[2])
window.set_default_size(520, 420)
window.move(60, 80)
button = Gtk.Button(label="Enviar mensaje")
pixbuf = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, False, 8, 120, 80)
pixbuf.fill(0x3366CCFF)
picture = Gtk.Image.new_from_pixbuf(pixbuf)
link = Gtk.Label()
link.set_markup('<a href="https://example.org/">Abrir la ayuda</a>')
text = Gtk.TextView()
text.get_buffer().set_text("Primera línea del texto\nSegunda línea del texto\nTercera línea")
text.set_size_request(300, 90)
row = Gtk.Box(spacing=8)
row.pack_start(button, False, False, 0)
row.pack_start(picture, False, False, 0)
panel = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8, margin=8)
for child in (row, link, text):
    panel.pack_start(child, False, False, 0)
frame = Gtk.Frame(label="Panel", margin=12)
frame.add(panel)
window.add(frame)
window.connect("destroy", Gtk.main_quit)
timer = [0]


def write_report():
    timer[0] = 0
    _, ox, oy = window.get_window().get_origin()
    with open(sys.argv[1] + ".part", "w") as out:
        for name, widget in (("window", window), ("button", button), ("picture", picture), ("link", link), ("text", text)):
            x, y = (0, 0) if widget is window else widget.translate_coordinates(window, 0, 0)
            out.write(f"{name} {ox + x} {oy + y} {widget.get_allocated_width()} {widget.get_allocated_height()}\n")
    os.replace(sys.argv[1] + ".part", sys.argv[1])


def moved(*_):
    if timer[0]:
        GLib.source_remove(timer[0])
    timer[0] = GLib.timeout_add(500, write_report)


def key(_, event):
    with open(sys.argv[1] + ".keys", "a") as out:
        out.write(Gdk.keyval_name(event.keyval) + "\n")
    return False


window.connect("key-press-event", key)
window.connect("configure-event", moved)
window.connect("map-event", moved)
window.show_all()
Gtk.main()
