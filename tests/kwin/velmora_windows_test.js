// Runs the KWin script against made-up Plasma 5 and Plasma 6 workspaces and
// checks the reports it sends. Usage: node velmora_windows_test.js SCRIPT
"use strict";

const assert = require("assert");
const fs = require("fs");
const vm = require("vm");

const scriptPath = process.argv[2];
const busName = ":1.42";
const source = fs.readFileSync(scriptPath, "utf8").split("@VELMORA_BUS_NAME@").join(busName);

// The signals the scripting objects offer, as KWin 5.27, 6.3 and 6.7 list
// them (those that concern windows on screen); the fakes have these and no
// others, so a signal the script hooks that KWin lacks fails the tests.
const apiSignals = {
  5: {
    workspace: ["clientAdded", "clientRemoved", "clientActivated", "clientMinimized", "clientUnminimized",
      "currentDesktopChanged", "currentActivityChanged", "numberScreensChanged", "screenResized"],
    window: ["frameGeometryChanged", "stackingOrderChanged", "minimizedChanged", "hiddenChanged", "desktopChanged",
      "activitiesChanged", "screenChanged", "windowShown", "windowHidden", "clientMinimized", "clientUnminimized"],
  },
  6: {
    workspace: ["windowAdded", "windowRemoved", "windowActivated", "currentDesktopChanged", "currentActivityChanged",
      "screensChanged", "desktopsChanged"],
    window: ["frameGeometryChanged", "stackingOrderChanged", "minimizedChanged", "hiddenChanged", "desktopsChanged",
      "activitiesChanged", "outputChanged", "hiddenByShowDesktopChanged"],
  },
};

function signal() {
  const handlers = [];
  return {
    connect: (h) => handlers.push(h),
    emit: (...args) => handlers.forEach((h) => h(...args)),
    count: () => handlers.length,
  };
}

function withSignals(object, names) {
  for (const name of names) object[name] = signal();
  return object;
}

class FakeTimer {
  constructor() {
    this.singleShot = false;
    this.interval = 0;
    this.active = false;
    this.starts = 0;
    this.timeout = signal();
    FakeTimer.last = this;
  }
  start() {
    this.active = true;
    this.starts++;
  }
  fire() {
    this.active = false;
    this.timeout.emit();
  }
}

function makeWindow(api, fields) {
  return withSignals(
    Object.assign(
      {
        caption: "secret title",
        normalWindow: true,
        minimized: false,
        hidden: false,
        onAllDesktops: false,
        activities: [],
        frameGeometry: { x: 0, y: 0, width: 100, height: 100 },
      },
      fields,
    ),
    apiSignals[api].window,
  );
}

function makeWorkspace(api, fields) {
  return withSignals(Object.assign({ currentActivity: "" }, fields), apiSignals[api].workspace);
}

// KWin's own state the script asks for over D-Bus.
const kwin = { showingDesktop: false };

function run(workspace, timer = FakeTimer) {
  const calls = [];
  const printed = [];
  kwin.showingDesktop = false;
  const context = {
    workspace,
    QTimer: timer,
    callDBus: (...args) => {
      if (args[3] === "Get") args[args.length - 1](kwin.showingDesktop);
      else calls.push(args);
    },
    print: (line) => printed.push(line),
  };
  vm.createContext(context);
  vm.runInContext(source, context, { filename: scriptPath });
  const reports = () => calls.map((c) => JSON.parse(c[4]));
  const last = () => reports()[reports().length - 1];
  assert.deepStrictEqual(printed, [], "every signal hooked is one KWin offers");
  return { calls, reports, last, timer: FakeTimer.last };
}

const cases = [];
function test(name, body) {
  cases.push({ name, body });
}

test("Plasma 5: front to back by stacking number, desktop elements left out, on-screen rules", () => {
  const workspace = makeWorkspace(5, { currentDesktop: 2, currentActivity: "act-a", clientList: () => clients });
  const clients = [
    makeWindow(5, { pid: 10, stackingOrder: 1, desktop: 2, frameGeometry: { x: 5, y: 6, width: 7, height: 8 } }),
    makeWindow(5, { pid: 11, stackingOrder: 4, desktop: 2, minimized: true }),
    makeWindow(5, { pid: 12, stackingOrder: 3, desktop: 1 }),
    makeWindow(5, { pid: 13, stackingOrder: 2, desktop: 1, onAllDesktops: true, activities: ["act-b"] }),
    makeWindow(5, { pid: 14, stackingOrder: 9, desktop: 2, normalWindow: false, dock: true }),
    makeWindow(5, { pid: 15, stackingOrder: 0, desktop: 2, activities: ["act-b", "act-a"] }),
    makeWindow(5, { pid: 16, stackingOrder: 5, desktop: 2, normalWindow: false, desktopWindow: true }),
    makeWindow(5, { pid: 17, stackingOrder: 6, desktop: 2, hidden: true }),
  ];
  const { calls, reports } = run(workspace);
  assert.strictEqual(calls.length, 1, "one report at start");
  assert.deepStrictEqual(calls[0].slice(0, 4), [busName, "/org/velmora/KWinReports", "org.velmora.KWinReports1", "Report"]);
  assert.ok(!calls[0][4].includes("secret"), "no titles in a report");
  assert.deepStrictEqual(reports()[0], {
    api: 5,
    windows: [
      [17, 0, 0, 100, 100, false],
      [11, 0, 0, 100, 100, false],
      [12, 0, 0, 100, 100, false],
      [13, 0, 0, 100, 100, false],
      [10, 5, 6, 7, 8, true],
      [15, 0, 0, 100, 100, true],
    ],
  });
});

test("Plasma 6: workspace stacking order reversed, virtual desktop objects, fractional frames", () => {
  const d1 = { id: "d1" };
  const d2 = { id: "d2" };
  const a = makeWindow(6, { pid: 20, desktops: [d1], frameGeometry: { x: 1.5, y: 2, width: 640.5, height: 480 } });
  const b = makeWindow(6, { pid: 21, desktops: [d2] });
  const c = makeWindow(6, { pid: 22, desktops: [] });
  const d = makeWindow(6, { pid: 23, desktops: [d2, { id: "d1" }], frameGeometry: { x: NaN, y: 1, width: 2, height: 3 } });
  const workspace = makeWorkspace(6, {
    currentDesktop: d1,
    windowList: () => [a, b, c, d],
    stackingOrder: [c, b, a, d],
    clientList: () => assert.fail("Plasma 6 has no client list"),
  });
  const { reports } = run(workspace);
  assert.deepStrictEqual(reports()[0], {
    api: 6,
    windows: [
      [23, 0, 1, 2, 3, true],
      [20, 1.5, 2, 640.5, 480, true],
      [21, 0, 0, 100, 100, false],
      [22, 0, 0, 100, 100, true],
    ],
  });
});

test("a restack is reported in both APIs, though neither has a workspace-wide signal for it", () => {
  for (const api of [5, 6]) {
    const a = makeWindow(api, { pid: 1, desktops: [], desktop: 1, stackingOrder: 1 });
    const b = makeWindow(api, { pid: 2, desktops: [], desktop: 1, stackingOrder: 2 });
    const workspace = makeWorkspace(api, { currentDesktop: 1, clientList: () => [a, b] });
    if (api === 6) {
      workspace.windowList = () => [a, b];
      workspace.stackingOrder = [a, b];
    }
    const { last, timer } = run(workspace);
    assert.deepStrictEqual(last().windows.map((w) => w[0]), [2, 1]);
    a.stackingOrder = 3;
    workspace.stackingOrder = [b, a];
    a.stackingOrderChanged.emit();
    timer.fire();
    assert.deepStrictEqual(last().windows.map((w) => w[0]), [1, 2], "Plasma " + api);
  }
});

test("Plasma 6.7: a window is on screen by the desktop its own screen shows", () => {
  const left = { name: "DP-1" };
  const right = { name: "DP-2" };
  const d1 = { id: "d1" };
  const d2 = { id: "d2" };
  const shown = new Map([[left, d1], [right, d2]]);
  const player = makeWindow(6, { pid: 40, desktops: [d2], output: right });
  const other = makeWindow(6, { pid: 41, desktops: [d2], output: left });
  const workspace = makeWorkspace(6, {
    // The pointer is on the left screen.
    currentDesktop: d1,
    currentDesktopForScreen: (output) => shown.get(output),
    windowList: () => [player, other],
    stackingOrder: [other, player],
  });
  const { last, timer } = run(workspace);
  assert.deepStrictEqual(last().windows, [[40, 0, 0, 100, 100, true], [41, 0, 0, 100, 100, false]]);

  // The right screen switches; the report follows.
  shown.set(right, d1);
  workspace.currentDesktopChanged.emit(d2);
  timer.fire();
  assert.deepStrictEqual(last().windows, [[40, 0, 0, 100, 100, false], [41, 0, 0, 100, 100, false]]);

  // The player moves to the left screen, which shows its desktop no more.
  shown.set(left, d2);
  player.output = left;
  player.outputChanged.emit();
  timer.fire();
  assert.deepStrictEqual(last().windows, [[40, 0, 0, 100, 100, true], [41, 0, 0, 100, 100, true]]);
});

test("windows hidden by Show desktop are not on screen until it ends", () => {
  const w = makeWindow(6, { pid: 50, desktops: [] });
  const workspace = makeWorkspace(6, { currentDesktop: {}, windowList: () => [w], stackingOrder: [w] });
  const { last, timer } = run(workspace);
  assert.deepStrictEqual(last().windows, [[50, 0, 0, 100, 100, true]]);
  kwin.showingDesktop = true;
  w.hiddenByShowDesktopChanged.emit();
  timer.fire();
  assert.deepStrictEqual(last().windows, [[50, 0, 0, 100, 100, false]]);
  // Activating a window ends it.
  kwin.showingDesktop = false;
  workspace.windowActivated.emit(w);
  timer.fire();
  assert.deepStrictEqual(last().windows, [[50, 0, 0, 100, 100, true]]);
});

test("bursts of changes make one report; unchanged lists are not sent again; new windows are watched", () => {
  const first = makeWindow(6, { pid: 30, desktops: [] });
  const list = [first];
  const workspace = makeWorkspace(6, {
    currentDesktop: {},
    windowList: () => list,
    get stackingOrder() {
      return list;
    },
  });
  const { calls, reports, timer } = run(workspace);
  assert.strictEqual(timer.singleShot, true);
  assert.ok(timer.interval > 0 && timer.interval <= 100, "reports keep up with a drag");

  for (let x = 1; x <= 20; x++) {
    first.frameGeometry = { x, y: 0, width: 100, height: 100 };
    first.frameGeometryChanged.emit();
  }
  assert.strictEqual(timer.starts, 1, "a running timer is not restarted");
  timer.fire();
  assert.strictEqual(calls.length, 2);
  assert.deepStrictEqual(reports()[1].windows, [[30, 20, 0, 100, 100, true]]);

  workspace.windowActivated.emit(first);
  timer.fire();
  assert.strictEqual(calls.length, 2, "an unchanged list is not sent again");

  const second = makeWindow(6, { pid: 31, desktops: [] });
  list.push(second);
  workspace.windowAdded.emit(second);
  timer.fire();
  assert.strictEqual(calls.length, 3);
  assert.strictEqual(second.frameGeometryChanged.count(), 1, "the new window's moves are followed");
  second.minimized = true;
  second.minimizedChanged.emit();
  timer.fire();
  assert.deepStrictEqual(reports()[3].windows, [
    [31, 0, 0, 100, 100, false],
    [30, 20, 0, 100, 100, true],
  ]);
});

test("without QTimer every change is sent at once", () => {
  const w = makeWindow(6, { pid: 40, desktops: [] });
  const workspace = makeWorkspace(6, { currentDesktop: {}, windowList: () => [w], stackingOrder: [w] });
  const { calls, reports } = run(workspace, null);
  w.frameGeometry = { x: 9, y: 0, width: 100, height: 100 };
  w.frameGeometryChanged.emit();
  assert.strictEqual(calls.length, 2);
  assert.deepStrictEqual(reports()[1].windows, [[40, 9, 0, 100, 100, true]]);
});

let failed = 0;
for (const c of cases) {
  try {
    c.body();
    console.log("ok   " + c.name);
  } catch (e) {
    failed++;
    console.log("FAIL " + c.name + "\n" + (e.stack || e));
  }
}
process.exit(failed ? 1 : 0);
