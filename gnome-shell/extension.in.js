// Velmora's GNOME Shell extension: tells Velmora where the windows are, and
// shows Velmora's menu in the top bar where the session has no tray host.
//
// One source serves GNOME 43-44 (imports) and 45 and later (ES modules); the
// build keeps the lines between "//#if esm" or "//#if legacy" and "//#endif"
// that fit the flavour it makes, and those between "//#if ... test" and
// "//#endif" only in the test build, which the end-to-end tests run.

//#if esm
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
import {WindowList} from './windows.js';
import {TopBar} from './topbar.js';
//#endif
//#if esm test
import {TestRoute} from './testing.js';
//#endif
//#if legacy
const Me = imports.misc.extensionUtils.getCurrentExtension();
const {WindowList} = Me.imports.windows.api();
const {TopBar} = Me.imports.topbar.api();
//#endif
//#if legacy test
const {TestRoute} = Me.imports.testing.api();
//#endif

//#if esm
export default class VelmoraExtension extends Extension {
//#endif
//#if legacy
class VelmoraExtension {
    constructor(meta) {
        this.path = meta.path;
    }

//#endif
    enable() {
        this._windows = new WindowList();
        this._windows.enable();
        this._topBar = new TopBar(`${this.path}/icons`);
        this._topBar.enable();
//#if test
        this._test = new TestRoute(this._topBar);
        this._test.enable();
//#endif
    }

    disable() {
//#if test
        this._test.disable();
        this._test = null;
//#endif
        this._topBar.disable();
        this._topBar = null;
        this._windows.disable();
        this._windows = null;
    }
}
//#if legacy

function init(meta) {
    return new VelmoraExtension(meta);
}
//#endif
