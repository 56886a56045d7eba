// Tells vorlix-monitor which window has the focus: its id (a number mutter
// never gives another window in the session), title and process id, and
// nothing else. The program asks once (Get) and then follows the Changed
// signal, sent when the focus moves and when the focused window's title
// changes. It stays enabled on the lock screen, where no window has the
// focus, so that a locked session records nothing instead of the window
// below.
//
// The class is shared by both forms of the extension; scripts/install-
// gnome-extension joins it with the form of the running GNOME Shell:
// extension-43.js (43 and 44, a script of the imports system) or
// extension-45.js (45 and later, an ES module), which bring Gio and GLib,
// the window's id and the entry point the shell looks for.

const BUS_NAME = 'org.vorlix.Monitor.Foreground';
const OBJECT_PATH = '/org/vorlix/Monitor/Foreground';
const INTERFACE = `<node>
  <interface name="org.vorlix.Monitor.Foreground1">
    <method name="Get">
      <arg type="t" name="id" direction="out"/>
      <arg type="s" name="title" direction="out"/>
      <arg type="u" name="pid" direction="out"/>
    </method>
    <signal name="Changed">
      <arg type="t" name="id"/>
      <arg type="s" name="title"/>
      <arg type="u" name="pid"/>
    </signal>
  </interface>
</node>`;

class Foreground {
    constructor(windowId) {
        this._windowId = windowId;
    }

    enable() {
        this._window = null;
        this._titleHandler = 0;
        this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._object.export(Gio.DBus.session, OBJECT_PATH);
        this._name = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
        this._focusHandler = global.display.connect('notify::focus-window',
            () => this._follow());
        this._follow();
    }

    disable() {
        global.display.disconnect(this._focusHandler);
        this._unfollow();
        Gio.bus_unown_name(this._name);
        this._object.unexport();
        this._object = null;
    }

    Get() {
        return this._state();
    }

    _follow() {
        this._unfollow();
        const window = global.display.focus_window;
        if (window) {
            this._window = window;
            this._titleHandler = window.connect('notify::title', () => this._changed());
        }
        this._changed();
    }

    _unfollow() {
        if (this._window && this._titleHandler)
            this._window.disconnect(this._titleHandler);
        this._window = null;
        this._titleHandler = 0;
    }

    _state() {
        const window = this._window;
        if (!window)
            return [0, '', 0];
        return [this._windowId(window), window.get_title() || '',
            Math.max(window.get_pid(), 0)];
    }

    _changed() {
        this._object.emit_signal('Changed', new GLib.Variant('(tsu)', this._state()));
    }
}
