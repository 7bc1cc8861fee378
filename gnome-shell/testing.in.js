// The test build's own route into the extension, for the end-to-end tests;
// it is never part of the installed extension. It moves windows as a user
// would drag them, and lists them for the test bed (the real list is
// Velmora's alone).

//#if esm
import Gio from 'gi://Gio';
import {onScreenWindows} from './windows.js';
//#endif
//#if legacy
const {Gio} = imports.gi;
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
  </interface>
</node>`;

class TestRoute {
    enable() {
        this._exported = Gio.DBusExportedObject.wrapJSObject(TEST_XML, this);
        this._exported.export(Gio.DBus.session, '/co/quennet/Velmora/Shell');
    }

    disable() {
        this._exported.unexport();
        this._exported = null;
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
