// The window list, for Velmora alone.
//
// On Wayland no client can read other clients' windows, so the Shell, which
// can, exports them on its own session-bus connection: for each window on
// screen, its process id and frame rectangle, front to back. Nothing else
// (no titles, no application names) leaves the Shell, and only to the
// current owner of co.quennet.Velmora.Windows, the name Velmora holds:
// anyone else asking is refused, and the signal that the list changed goes
// to that owner alone.

//#if esm
import GLib from 'gi://GLib';
import Gio from 'gi://Gio';
import Meta from 'gi://Meta';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
//#endif
//#if legacy
const {GLib, Gio, Meta} = imports.gi;
const Main = imports.ui.main;
//#endif

const BUS_PATH = '/co/quennet/Velmora/Shell';
const INTERFACE = 'co.quennet.Velmora.Shell';
const INTERFACE_VERSION = 1;
const READER_NAME = 'co.quennet.Velmora.Windows';

// Changes are told at most this often; a window being dragged moves on
// every frame, and Velmora reads the list again after each signal.
const CHANGE_DELAY_MS = 100;

const SHELL_XML = `<node>
  <interface name="${INTERFACE}">
    <property name="Version" type="u" access="read"/>
    <method name="Windows">
      <arg name="windows" type="a(iiiii)" direction="out"/>
    </method>
    <signal name="Changed"/>
  </interface>
</node>`;

const LISTED_TYPES = [
    Meta.WindowType.NORMAL,
    Meta.WindowType.DIALOG,
    Meta.WindowType.MODAL_DIALOG,
    Meta.WindowType.UTILITY,
];

// What a window does that changes the list.
const WINDOW_SIGNALS = [
    'position-changed',
    'size-changed',
    'workspace-changed',
    'shown',
    'raised',
    'notify::minimized',
];

function isListed(window, workspace) {
    if (window.is_override_redirect() || window.minimized)
        return false;
    if (!LISTED_TYPES.includes(window.get_window_type()))
        return false;
    if (!window.is_on_all_workspaces() && !window.located_on_workspace(workspace))
        return false;
    return window.showing_on_its_workspace();
}

// On-screen windows front to back, as (pid, x, y, width, height) in the
// global layout; pid is -1 when the Shell does not know it.
function onScreenWindows() {
    const display = global.display;
    const workspace = global.workspace_manager.get_active_workspace();
    const stacked = display.sort_windows_by_stacking(display.list_all_windows());
    const windows = [];
    for (let i = stacked.length - 1; i >= 0; i--) {
        const window = stacked[i];
        if (!isListed(window, workspace))
            continue;
        const rect = window.get_frame_rect();
        windows.push([window.get_pid(), rect.x, rect.y, rect.width, rect.height]);
    }
    return windows;
}

class WindowList {
    get Version() {
        return INTERFACE_VERSION;
    }

    WindowsAsync(_params, invocation) {
        if (!this._reader || invocation.get_sender() !== this._reader) {
            invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                'The window list is for Velmora only');
            return;
        }
        invocation.return_value(new GLib.Variant('(a(iiiii))', [onScreenWindows()]));
    }

    enable() {
        this._windowSignals = new Map();
        this._globalSignals = [];
        this._changeSource = 0;
        this._reader = null;

        this._exported = Gio.DBusExportedObject.wrapJSObject(SHELL_XML, this);
        this._exported.export(Gio.DBus.session, BUS_PATH);
        // A Velmora that comes, or one already running, learns that the
        // list is there.
        this._readerWatch = Gio.bus_watch_name(Gio.BusType.SESSION, READER_NAME, Gio.BusNameWatcherFlags.NONE,
            (_connection, _name, owner) => {
                this._reader = owner;
                this._tellReader();
            },
            () => {
                this._reader = null;
            });

        const changed = () => this._changed();
        const display = global.display;
        this._connect(display, 'window-created', (_display, window) => {
            this._watchWindow(window);
            this._changed();
        });
        for (const name of ['restacked', 'notify::focus-window', 'window-entered-monitor', 'window-left-monitor'])
            this._connect(display, name, changed);
        this._connect(global.workspace_manager, 'active-workspace-changed', changed);
        this._connect(Main.layoutManager, 'monitors-changed', changed);
        for (const window of display.list_all_windows())
            this._watchWindow(window);
    }

    disable() {
        if (this._changeSource) {
            GLib.source_remove(this._changeSource);
            this._changeSource = 0;
        }
        for (const [object, id] of this._globalSignals)
            object.disconnect(id);
        this._globalSignals = [];
        for (const [window, ids] of this._windowSignals) {
            for (const id of ids)
                window.disconnect(id);
        }
        this._windowSignals.clear();
        // A Velmora reading the list learns that it is gone.
        this._tellReader();
        Gio.bus_unwatch_name(this._readerWatch);
        this._reader = null;
        this._exported.unexport();
        this._exported = null;
    }

    _tellReader() {
        if (this._reader)
            Gio.DBus.session.emit_signal(this._reader, BUS_PATH, INTERFACE, 'Changed', null);
    }

    _connect(object, name, handler) {
        this._globalSignals.push([object, object.connect(name, handler)]);
    }

    _watchWindow(window) {
        if (this._windowSignals.has(window))
            return;
        const ids = WINDOW_SIGNALS.map(name => window.connect(name, () => this._changed()));
        ids.push(window.connect('unmanaged', () => {
            for (const id of this._windowSignals.get(window) || [])
                window.disconnect(id);
            this._windowSignals.delete(window);
            this._changed();
        }));
        this._windowSignals.set(window, ids);
    }

    // One signal per burst: the first change starts a short one-shot timer,
    // and nothing runs while nothing changes.
    _changed() {
        if (this._changeSource)
            return;
        this._changeSource = GLib.timeout_add(GLib.PRIORITY_DEFAULT, CHANGE_DELAY_MS, () => {
            this._changeSource = 0;
            this._tellReader();
            return GLib.SOURCE_REMOVE;
        });
    }
}

//#if esm
export {WindowList, onScreenWindows};
//#endif
//#if legacy
/* exported api */
function api() {
    return {WindowList, onScreenWindows};
}
//#endif
