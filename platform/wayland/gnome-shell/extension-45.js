
// GNOME Shell 45 and later: an ES module whose default export the shell
// constructs, then enables and disables.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

export default class VorlixMonitorExtension extends Extension {
    enable() {
        this._foreground = new Foreground(window => window.get_id());
        this._foreground.enable();
    }

    disable() {
        this._foreground.disable();
        this._foreground = null;
    }
}
