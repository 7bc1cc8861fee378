// Session-bus helpers of the GNOME bed, run with gjs (it comes with the Shell):
//   gjs bus_tool.js own NAME                  owns NAME until killed (a stand-in)
//   gjs bus_tool.js test METHOD [ARG...]      calls the test route of the
//                                             extension's test build and
//                                             prints the answer
//   gjs bus_tool.js screenshot FILE X Y W H   a PNG of that area, through the
//                                             Shell's Screenshot interface
// Exits 1 with a line on standard error when a call fails.

const {Gio, GLib} = imports.gi;

const TEST_SIGNATURES = {
    MoveWindow: '(iii)',
    Windows: '()',
    TopBar: '()',
    ActivateTopBarItem: '(s)',
    OpenTopBarMenu: '()',
    PressAlt: '(b)',
};

function fail(text) {
    printerr(`bus_tool.js: ${text}`);
    imports.system.exit(1);
}

function call(destination, path, iface, method, parameters) {
    try {
        return Gio.DBus.session.call_sync(destination, path, iface, method, parameters, null,
            Gio.DBusCallFlags.NONE, 10000, null);
    } catch (e) {
        return fail(`${method}: ${e.message}`);
    }
}

// Owns the name, then runs until killed or, with then, runs then once the
// name is ours.
function own(name, then) {
    const loop = new GLib.MainLoop(null, false);
    Gio.bus_own_name_on_connection(Gio.DBus.session, name, Gio.BusNameOwnerFlags.NONE,
        () => {
            if (then) {
                then();
                loop.quit();
            }
        },
        () => fail(`could not own ${name}`));
    loop.run();
}

function test(method, args) {
    const signature = TEST_SIGNATURES[method];
    if (!signature)
        fail(`no test method ${method}`);
    const values = args.map((a, i) => ({s: a, b: a === 'true'}[signature[i + 1]] ?? Number.parseInt(a, 10)));
    const reply = call('org.gnome.Shell', '/co/quennet/Velmora/Shell', 'co.quennet.Velmora.Shell.Test', method,
        new GLib.Variant(signature, values)).deep_unpack();
    if (reply.length)
        print(typeof reply[0] === 'string' ? reply[0] : JSON.stringify(reply[0]));
}

// The Shell lets the owners of a few names take screenshots; the media keys
// daemon's name is one in every GNOME the beds run (the bed has no daemon).
function screenshot(file, area) {
    own('org.gnome.SettingsDaemon.MediaKeys', () => {
        const [ok] = call('org.gnome.Shell.Screenshot', '/org/gnome/Shell/Screenshot', 'org.gnome.Shell.Screenshot',
            'ScreenshotArea', new GLib.Variant('(iiiibs)', [...area.map(Number), false, file])).deep_unpack();
        if (!ok)
            fail('the Shell took no screenshot');
    });
}

const [command, ...args] = ARGV;
if (command === 'own' && args.length === 1)
    own(args[0], null);
else if (command === 'test' && args.length >= 1)
    test(args[0], args.slice(1));
else if (command === 'screenshot' && args.length === 5)
    screenshot(args[0], args.slice(1));
else
    fail('usage: own NAME | test METHOD [ARG...] | screenshot FILE X Y W H');
