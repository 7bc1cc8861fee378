// The test build's own route into the extension, for the end-to-end tests;
// it is never part of the installed extension. It moves windows as a user
// would drag them, lists them for the test bed (the real list is Velmora's
// alone), and reads and works the top-bar menu.

//#if esm
import Clutter from 'gi://Clutter';
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import St from 'gi://St';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';
import {onScreenWindows} from './windows.js';
//#endif
//#if legacy
const {Clutter, Gio, GLib, St} = imports.gi;
const Main = imports.ui.main;
const PopupMenu = imports.ui.popupMenu;
const {onScreenWindows} = imports.misc.extensionUtils.getCurrentExtension().imports.windows.api();
//#endif

const TEST_XML = `<node>
  <interface name="co.quennet.Velmora.Shell.Test">
    <method name="MoveWindow">
      <arg name="pid" type="i" direction="in"/>
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
      <arg name="moved" type="b" direction="out"/>
    </method>
    <method name="Windows">
      <arg name="windows" type="a(iiiii)" direction="out"/>
    </method>
    <method name="TopBar">
      <arg name="json" type="s" direction="out"/>
    </method>
    <method name="ActivateTopBarItem">
      <arg name="id" type="s" direction="in"/>
      <arg name="activated" type="b" direction="out"/>
    </method>
    <method name="OpenTopBarMenu"/>
    <method name="PressAlt">
      <arg name="pressed" type="b" direction="in"/>
    </method>
  </interface>
</node>`;

function menuArea(indicator) {
    const monitor = Main.layoutManager.primaryMonitor;
    const [, menuY] = indicator.menu.actor.get_transformed_position();
    const [menuWidth, menuHeight] = indicator.menu.actor.get_transformed_size();
    const scale = St.ThemeContext.get_for_stage(global.stage).scale_factor;
    const width = Math.min(monitor.width, menuWidth + 24 * scale);
    const height = Math.min(monitor.height, Math.max(menuY + menuHeight, Main.panel.height) + 12 * scale);
    return [monitor.x + monitor.width - width, monitor.y, width, height].map(v => Math.floor(v / scale));
}

class TestRoute {
    constructor(topBar) {
        this._topBar = topBar;
    }

    enable() {
        this._exported = Gio.DBusExportedObject.wrapJSObject(TEST_XML, this);
        this._exported.export(Gio.DBus.session, '/co/quennet/Velmora/Shell');
    }

    disable() {
        this._exported.unexport();
        this._exported = null;
        this._keyboard = null;
    }

    MoveWindow(pid, x, y) {
        const window = global.display.list_all_windows().find(w => w.get_pid() === pid);
        if (!window)
            return false;
        window.move_frame(true, x, y);
        return true;
    }

    Windows() {
        return onScreenWindows();
    }

    // The indicator as the user meets it: whether it is in the panel, its
    // icon and accessible name, and each menu item as drawn; beside it, the
    // items as Velmora sent them. With the menu open, the area that shows it
    // and the top bar's right end, in the units of the Shell's Screenshot
    // interface.
    TopBar() {
        const indicator = this._topBar.indicator;
        const description = {shown: false, menu: [], layout: []};
        if (indicator) {
            description.shown = Main.panel.statusArea['velmora'] === indicator && indicator.visible;
            description.icon = this._topBar.iconName;
            description.accessibleName = indicator.accessible_name;
            for (const {widget, item} of this._topBar.items.values()) {
                description.menu.push({
                    id: item.id,
                    type: item.type,
                    title: item.type === 'separator' ? '' : widget.label.text,
                    enabled: item.type === 'separator' ? item.enabled : widget.sensitive,
                    visible: widget.visible,
                    checked: widget._ornament === PopupMenu.Ornament.CHECK,
                });
                description.layout.push(item);
            }
            if (indicator.menu.isOpen)
                description.area = menuArea(indicator);
        }
        return JSON.stringify(description);
    }

    ActivateTopBarItem(id) {
        const entry = this._topBar.items?.get(id);
        if (!entry || entry.item.type !== 'action')
            return false;
        entry.widget.activate(null);
        return true;
    }

    OpenTopBarMenu() {
        Main.overview.hide();
        this._topBar.indicator?.menu.open(false);
    }

    // From a keyboard of its own, as a user would press the key.
    PressAlt(pressed) {
        if (!this._keyboard) {
            // GNOME 51 has only the stage's way, GNOME 43 only Clutter's.
            const backend = global.stage.context?.get_backend() ?? Clutter.get_default_backend();
            const seat = backend.get_default_seat();
            this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
        }
        this._keyboard.notify_keyval(GLib.get_monotonic_time(), Clutter.KEY_Alt_L,
            pressed ? Clutter.KeyState.PRESSED : Clutter.KeyState.RELEASED);
    }
}

//#if esm
export {TestRoute};
//#endif
//#if legacy
/* exported api */
function api() {
    return {TestRoute};
}
//#endif
