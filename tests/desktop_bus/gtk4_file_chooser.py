#!/usr/bin/env python3
# A modal GTK 4 open dialog over a window of its own, as a GTK 4 program
# shows one, with a "Text Documents (*.txt)" filter. With --location it
# switches to its location entry as Ctrl+L does. Prints the chosen path on
# Open. Exits with 77 when GTK 4 for Python is not installed.
import sys

try:
    import gi

    gi.require_version("Gtk", "4.0")
    from gi.repository import Gio, GLib, Gtk
except (ImportError, ValueError) as error:
    print(f"GTK 4 for Python is not installed: {error}", file=sys.stderr)
    sys.exit(77)


def find_widget(widget, type_name):
    if widget.__gtype__.name == type_name:
        return widget
    child = widget.get_first_child()
    while child is not None:
        found = find_widget(child, type_name)
        if found is not None:
            return found
        child = child.get_next_sibling()
    return None


def activate(app):
    parent = Gtk.Window(application=app, title="Editor")
    parent.present()
    dialog = Gtk.FileChooserDialog(title="Open File", transient_for=parent, modal=True,
                                   action=Gtk.FileChooserAction.OPEN)
    dialog.add_button("_Cancel", Gtk.ResponseType.CANCEL)
    dialog.add_button("_Open", Gtk.ResponseType.ACCEPT)
    text = Gtk.FileFilter()
    text.set_name("Text Documents (*.txt)")
    text.add_pattern("*.txt")
    dialog.add_filter(text)

    def respond(chooser, response):
        if response == Gtk.ResponseType.ACCEPT and chooser.get_file() is not None:
            print(chooser.get_file().get_path(), flush=True)
        app.quit()

    dialog.connect("response", respond)
    dialog.present()
    if "--location" in sys.argv:
        def location_popup():
            find_widget(dialog, "GtkFileChooserWidget").emit("location-popup", "")
            return False

        GLib.timeout_add(200, location_popup)


app = Gtk.Application(flags=Gio.ApplicationFlags.NON_UNIQUE)
app.connect("activate", activate)
app.run([sys.argv[0]])
