// Runs the KWin script against made-up Plasma 5 and Plasma 6 workspaces and
// checks the reports it sends. Usage: node velmora_windows_test.js SCRIPT
"use strict";

const assert = require("assert");
const fs = require("fs");
const vm = require("vm");

const scriptPath = process.argv[2];
const busName = ":1.42";
const source = fs.readFileSync(scriptPath, "utf8").split("@VELMORA_BUS_NAME@").join(busName);

function signal() {
  const handlers = [];
  return {
    connect: (h) => handlers.push(h),
    emit: (...args) => handlers.forEach((h) => h(...args)),
    count: () => handlers.length,
  };
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

function window(fields) {
  const w = Object.assign(
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
  );
  for (const name of ["frameGeometryChanged", "stackingOrderChanged", "minimizedChanged", "desktopsChanged"]) {
    w[name] = signal();
  }
  return w;
}

function run(workspace, timer = FakeTimer) {
  const calls = [];
  const context = {
    workspace,
    QTimer: timer,
    callDBus: (...args) => calls.push(args),
    print: () => {},
  };
  vm.createContext(context);
  vm.runInContext(source, context, { filename: scriptPath });
  const reports = () => calls.map((c) => JSON.parse(c[4]));
  return { calls, reports, timer: FakeTimer.last };
}

const cases = [];
function test(name, body) {
  cases.push({ name, body });
}

test("Plasma 5: front to back by stacking number, desktop elements left out, on-screen rules", () => {
  const workspace = {
    currentDesktop: 2,
    currentActivity: "act-a",
    clientList: () => clients,
    clientAdded: signal(),
    clientRemoved: signal(),
    clientActivated: signal(),
    currentDesktopChanged: signal(),
  };
  const clients = [
    window({ pid: 10, stackingOrder: 1, desktop: 2, frameGeometry: { x: 5, y: 6, width: 7, height: 8 } }),
    window({ pid: 11, stackingOrder: 4, desktop: 2, minimized: true }),
    window({ pid: 12, stackingOrder: 3, desktop: 1 }),
    window({ pid: 13, stackingOrder: 2, desktop: 1, onAllDesktops: true, activities: ["act-b"] }),
    window({ pid: 14, stackingOrder: 9, desktop: 2, normalWindow: false, dock: true }),
    window({ pid: 15, stackingOrder: 0, desktop: 2, activities: ["act-b", "act-a"] }),
    window({ pid: 16, stackingOrder: 5, desktop: 2, normalWindow: false, desktopWindow: true }),
    window({ pid: 17, stackingOrder: 6, desktop: 2, hidden: true }),
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
  const a = window({ pid: 20, desktops: [d1], frameGeometry: { x: 1.5, y: 2, width: 640.5, height: 480 } });
  const b = window({ pid: 21, desktops: [d2] });
  const c = window({ pid: 22, desktops: [] });
  const d = window({ pid: 23, desktops: [d2, { id: "d1" }], frameGeometry: { x: NaN, y: 1, width: 2, height: 3 } });
  const workspace = {
    currentDesktop: d1,
    currentActivity: "",
    windowList: () => [a, b, c, d],
    stackingOrder: [c, b, a, d],
    windowAdded: signal(),
    windowRemoved: signal(),
    windowActivated: signal(),
    clientList: () => assert.fail("Plasma 6 has no client list"),
  };
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

test("bursts of changes make one report; unchanged lists are not sent again; new windows are watched", () => {
  const first = window({ pid: 30, desktops: [] });
  const list = [first];
  const workspace = {
    currentDesktop: {},
    windowList: () => list,
    get stackingOrder() {
      return list;
    },
    windowAdded: signal(),
    windowRemoved: signal(),
    windowActivated: signal(),
  };
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

  const second = window({ pid: 31, desktops: [] });
  list.push(second);
  workspace.windowAdded.emit(second);
  timer.fire();
  assert.strictEqual(calls.length, 3);
  assert.strictEqual(second.frameGeometryChanged.count(), 1, "the new window's moves are followed");
  second.minimized = true;
  second.frameGeometryChanged.emit();
  timer.fire();
  assert.deepStrictEqual(reports()[3].windows, [
    [31, 0, 0, 100, 100, false],
    [30, 20, 0, 100, 100, true],
  ]);
});

test("without QTimer every change is sent at once", () => {
  const w = window({ pid: 40, desktops: [] });
  const workspace = { currentDesktop: {}, windowList: () => [w], stackingOrder: [w], windowAdded: signal() };
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
