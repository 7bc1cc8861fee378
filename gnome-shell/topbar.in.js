// Velmora's status menu in the top bar, for sessions without a tray host
// (stock GNOME has none): the icon, items and states of the tray menu, read
// from Velmora over the session bus.
//
// It shows while Velmora owns co.quennet.Velmora and nobody owns
// org.kde.StatusNotifierWatcher (where a tray host exists, Velmora's tray
// icon is there, and one icon is enough), and never on the lock screen. It
// calls only the current owner of Velmora's name and follows its Changed
// signal: nothing runs while nothing changes.

//#if esm
import Clutter from 'gi://Clutter';
import GLib from 'gi://GLib';
import Gio from 'gi://Gio';
import St from 'gi://St';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as PanelMenu from 'resource:///org/gnome/shell/ui/panelMenu.js';
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';
//#endif
//#if legacy
const {Clutter, GLib, Gio, St} = imports.gi;
const Main = imports.ui.main;
const PanelMenu = imports.ui.panelMenu;
const PopupMenu = imports.ui.popupMenu;
//#endif

const MENU_NAME = 'co.quennet.Velmora';
const MENU_PATH = '/co/quennet/Velmora/Menu';
const MENU_INTERFACE = 'co.quennet.Velmora.Menu';
const TRAY_HOST_NAME = 'org.kde.StatusNotifierWatcher';
// revision, status kind, message, accessible name, icon name, items
const LAYOUT_TYPE = '(ussssa(ssssbbbbb))';
const ITEM_TYPES = ['action', 'separator', 'submenu'];
// The images the extension carries, by the names Velmora gives them; the
// first stands in for a name it does not know.
const ICONS = ['MenuBarIcon', 'MenuBarIcon-idle', 'MenuBarIcon-override', 'MenuBarIcon-external'];
// A reply is outside data: a longer menu is cut.
const MAX_ITEMS = 100;

// The layout's items as records, in menu order. The top bar nests one level:
// an item whose parent is not a submenu of the top level is left out, as is
// an item of an unknown type or an id seen before.
function parseItems(rows) {
    const items = [];
    const ids = new Set();
    const submenus = new Set();
    for (const [id, parent, type, title, enabled, visible, checkable, checked, alternate] of rows.slice(0, MAX_ITEMS)) {
        if (ids.has(id) || !ITEM_TYPES.includes(type) || (parent !== '' && !submenus.has(parent)))
            continue;
        ids.add(id);
        if (type === 'submenu' && parent === '')
            submenus.add(id);
        items.push({id, parent, type, title, enabled, visible, checkable, checked, alternate});
    }
    return items;
}

function altHeld() {
    const [, , modifiers] = global.get_pointer();
    return (modifiers & Clutter.ModifierType.MOD1_MASK) !== 0;
}

class TopBar {
    constructor(iconDir) {
        this._iconDir = iconDir;
    }

    enable() {
        this._owner = null;
        this._trayHost = false;
        this._following = null;
        this._indicator = null;
        this._watches = [
            Gio.bus_watch_name(Gio.BusType.SESSION, MENU_NAME, Gio.BusNameWatcherFlags.NONE,
                (_connection, _name, owner) => this._setOwner(owner), () => this._setOwner(null)),
            Gio.bus_watch_name(Gio.BusType.SESSION, TRAY_HOST_NAME, Gio.BusNameWatcherFlags.NONE,
                () => this._setTrayHost(true), () => this._setTrayHost(false)),
        ];
        this._sessionModeId = Main.sessionMode.connect('updated', () => this._sync());
    }

    disable() {
        for (const id of this._watches)
            Gio.bus_unwatch_name(id);
        Main.sessionMode.disconnect(this._sessionModeId);
        this._unfollow();
    }

    // The indicator while it is shown, its items by id, in menu order, and
    // the name of the icon it shows.
    get indicator() {
        return this._indicator;
    }

    get items() {
        return this._items;
    }

    get iconName() {
        return this._iconName;
    }

    _setOwner(owner) {
        this._owner = owner;
        this._sync();
    }

    _setTrayHost(present) {
        this._trayHost = present;
        this._sync();
    }

    _sync() {
        const wanted = this._trayHost || Main.sessionMode.isLocked ? null : this._owner;
        if (wanted === this._following)
            return;
        this._unfollow();
        if (wanted)
            this._follow(wanted);
    }

    // The indicator shows once the first layout is read.
    _follow(owner) {
        this._following = owner;
        this._cancellable = new Gio.Cancellable();
        this._revision = -1;
        this._complained = false;
        this._subscription = Gio.DBus.session.signal_subscribe(owner, MENU_INTERFACE, 'Changed', MENU_PATH, null,
            Gio.DBusSignalFlags.NONE, (_connection, _sender, _path, _interface, _signal, parameters) => {
                const [revision] = parameters.deep_unpack();
                if (revision > this._revision)
                    this._read();
            });
        this._read();
    }

    _unfollow() {
        if (!this._following)
            return;
        this._cancellable.cancel();
        Gio.DBus.session.signal_unsubscribe(this._subscription);
        this._indicator?.destroy();
        this._indicator = null;
        this._items = null;
        this._following = null;
    }

    _call(method, parameters, replyType, done) {
        const cancellable = this._cancellable;
        Gio.DBus.session.call(this._following, MENU_PATH, MENU_INTERFACE, method, parameters,
            replyType ? new GLib.VariantType(replyType) : null, Gio.DBusCallFlags.NONE, -1, cancellable,
            (connection, result) => {
                let reply;
                try {
                    reply = connection.call_finish(result);
                } catch (e) {
                    if (!cancellable.is_cancelled() && !this._complained) {
                        this._complained = true;
                        log(`velmora@quennet.co: ${method} on Velmora's menu failed: ${e.message}`);
                    }
                    return;
                }
                if (!cancellable.is_cancelled())
                    done(reply);
            });
    }

    _read() {
        this._call('GetLayout', null, LAYOUT_TYPE, reply => this._apply(reply.deep_unpack()));
    }

    _apply([revision, _kind, _message, accessibleName, iconName, rows]) {
        if (revision < this._revision)
            return;
        this._revision = revision;
        if (!this._indicator)
            this._makeIndicator();
        if (!ICONS.includes(iconName))
            iconName = ICONS[0];
        if (iconName !== this._iconName) {
            this._iconName = iconName;
            this._icon.gicon = Gio.FileIcon.new(Gio.File.new_for_path(`${this._iconDir}/${iconName}.svg`));
        }
        this._indicator.accessible_name = accessibleName;
        this._showItems(parseItems(rows));
    }

    _makeIndicator() {
        this._indicator = new PanelMenu.Button(0.0, 'Velmora', false);
        this._icon = new St.Icon({style_class: 'system-status-icon'});
        this._iconName = null;
        this._indicator.add_child(this._icon);
        this._items = new Map();
        this._shape = null;
        this._alt = false;
        const menu = this._indicator.menu;
        // An opening menu asks again: a toggle may have changed elsewhere.
        menu.connect('open-state-changed', (_menu, open) => {
            this._setAlt(open && altHeld());
            if (open)
                this._read();
        });
        // While the menu is open, Alt shows each alternate in place of the
        // item before it, as in the tray menu.
        menu.actor.connect('key-press-event', (_actor, event) => this._altKey(event, true));
        menu.actor.connect('key-release-event', (_actor, event) => this._altKey(event, false));
        Main.panel.addToStatusArea('velmora', this._indicator);
    }

    _altKey(event, pressed) {
        const key = event.get_key_symbol();
        if (key === Clutter.KEY_Alt_L || key === Clutter.KEY_Alt_R)
            this._setAlt(pressed);
        return Clutter.EVENT_PROPAGATE;
    }

    _setAlt(held) {
        if (held === this._alt)
            return;
        this._alt = held;
        this._present();
    }

    // Made anew only when the items, their order or kinds change; otherwise
    // each item is brought up to date where it is.
    _showItems(items) {
        const shape = items.map(i => [i.id, i.parent, i.type, i.checkable, i.alternate].join('\t')).join('\n');
        if (shape !== this._shape) {
            this._shape = shape;
            this._indicator.menu.removeAll();
            this._items.clear();
            for (const item of items)
                this._add(item);
        }
        for (const item of items)
            this._update(item);
        this._present();
    }

    _add(item) {
        let widget;
        if (item.type === 'separator') {
            widget = new PopupMenu.PopupSeparatorMenuItem();
        } else if (item.type === 'submenu') {
            widget = new PopupMenu.PopupSubMenuMenuItem('');
        } else {
            widget = new PopupMenu.PopupMenuItem('');
            widget.connect('activate', () => this._call('Activate', new GLib.Variant('(s)', [item.id]), null, () => {}));
        }
        const into = item.parent ? this._items.get(item.parent).widget.menu : this._indicator.menu;
        into.addMenuItem(widget);
        this._items.set(item.id, {widget, item});
    }

    _update(item) {
        const entry = this._items.get(item.id);
        entry.item = item;
        const widget = entry.widget;
        if (item.type !== 'separator') {
            widget.label.text = item.title;
            widget.setSensitive(item.enabled);
        }
        if (item.checkable)
            widget.setOrnament(item.checked ? PopupMenu.Ornament.CHECK : PopupMenu.Ornament.NONE);
    }

    _present() {
        const entries = [...this._items.values()];
        entries.forEach(({widget, item}, i) => {
            const next = entries[i + 1]?.item;
            let shown = item.visible && (!item.alternate || this._alt);
            if (next && next.parent === item.parent && next.alternate)
                shown = shown && !this._alt;
            widget.visible = shown;
        });
    }
}

//#if esm
export {TopBar};
//#endif
//#if legacy
/* exported api */
function api() {
    return {TopBar};
}
//#endif
