
// GNOME Shell 43 and 44: a script of the imports system, whose init() the
// shell calls once.
const { Gio, GLib } = imports.gi;

function init() {
    return new Foreground(window => window.get_stable_sequence());
}
