// Reports the window list to Velmora: front to back, per window its pid,
// frame (global logical coordinates) and whether it is on screen. Velmora
// loads a copy of this file with its own unique bus name filled in below, so
// the reports reach only the process that asked for them. No titles leave
// KWin.
//
// One file serves both scripting APIs: Plasma 5 (clientList, a stacking
// order per client) and Plasma 6 (windowList, workspace.stackingOrder,
// VirtualDesktop objects).

const destination = "@VELMORA_BUS_NAME@";
const objectPath = "/org/velmora/KWinReports";
const interfaceName = "org.velmora.KWinReports1";

// Bursts of signals (a drag, a restack touching every window) become at most
// one report per interval.
const reportIntervalMs = 50;

const plasma6 = typeof workspace.windowList === "function";

function connect(signal, handler) {
  if (signal && typeof signal.connect === "function") signal.connect(handler);
}

function allWindows() {
  return plasma6 ? workspace.windowList() : workspace.clientList();
}

// Front to back. Plasma 6 keeps the order in the workspace, bottom first;
// Plasma 5 gives each client a number, higher nearer the top.
function frontToBack() {
  if (plasma6 && workspace.stackingOrder) {
    return Array.prototype.slice.call(workspace.stackingOrder).reverse();
  }
  const windows = Array.prototype.slice.call(allWindows());
  return windows
    .map((w, index) => ({ w: w, index: index }))
    .sort((a, b) => b.w.stackingOrder - a.w.stackingOrder || a.index - b.index)
    .map((entry) => entry.w);
}

// Panels, the desktop, notifications and the like are not windows a player
// shows its picture in.
function isApplicationWindow(w) {
  if (w.deleted || w.desktopWindow || w.dock || w.specialWindow) return false;
  return w.normalWindow || w.dialog;
}

function onCurrentDesktop(w) {
  if (w.onAllDesktops) return true;
  if (plasma6) {
    const current = workspace.currentDesktop;
    const desktops = w.desktops || [];
    if (desktops.length === 0) return true;
    for (let i = 0; i < desktops.length; i++) {
      if (desktops[i] === current || (current && desktops[i].id === current.id)) return true;
    }
    return false;
  }
  return w.desktop === workspace.currentDesktop || w.desktop === -1;
}

function onCurrentActivity(w) {
  const activities = w.activities || [];
  if (activities.length === 0) return true;
  const current = workspace.currentActivity;
  // Without the activity manager there is no current activity to compare.
  if (!current) return true;
  return Array.prototype.indexOf.call(activities, current) >= 0;
}

function isOnScreen(w) {
  return !w.minimized && !w.hidden && onCurrentDesktop(w) && onCurrentActivity(w);
}

function finite(value) {
  return typeof value === "number" && isFinite(value) ? value : 0;
}

function snapshot() {
  const windows = [];
  const ordered = frontToBack();
  for (let i = 0; i < ordered.length; i++) {
    const w = ordered[i];
    if (!w || !isApplicationWindow(w)) continue;
    const g = w.frameGeometry || {};
    windows.push([finite(w.pid), finite(g.x), finite(g.y), finite(g.width), finite(g.height), isOnScreen(w)]);
  }
  return { api: plasma6 ? 6 : 5, windows: windows };
}

let lastSent = "";

function send() {
  const text = JSON.stringify(snapshot());
  if (text === lastSent) return;
  lastSent = text;
  callDBus(destination, objectPath, interfaceName, "Report", text);
}

// Without a timer (an API that no longer offers one) every change is sent
// at once, which is dearer but still right.
const timer = typeof QTimer === "function" ? new QTimer() : null;
if (timer) {
  timer.singleShot = true;
  timer.interval = reportIntervalMs;
  connect(timer.timeout, send);
}

function changed() {
  if (!timer) send();
  else if (!timer.active) timer.start();
}

function watch(w) {
  if (!w) return;
  connect(w.frameGeometryChanged, changed);
  connect(w.stackingOrderChanged, changed);
  connect(w.minimizedChanged, changed);
  connect(w.desktopChanged, changed);
  connect(w.desktopsChanged, changed);
  connect(w.activitiesChanged, changed);
  connect(w.hiddenChanged, changed);
  connect(w.windowShown, changed);
  connect(w.windowHidden, changed);
}

function added(w) {
  watch(w);
  changed();
}

const existing = allWindows();
for (let i = 0; i < existing.length; i++) watch(existing[i]);

if (plasma6) {
  connect(workspace.windowAdded, added);
  connect(workspace.windowRemoved, changed);
  connect(workspace.windowActivated, changed);
} else {
  connect(workspace.clientAdded, added);
  connect(workspace.clientRemoved, changed);
  connect(workspace.clientActivated, changed);
  connect(workspace.clientMinimized, changed);
  connect(workspace.clientUnminimized, changed);
}
connect(workspace.stackingOrderChanged, changed);
connect(workspace.currentDesktopChanged, changed);
connect(workspace.currentActivityChanged, changed);
connect(workspace.screensChanged, changed);

// The first report goes at once, so Velmora knows the script runs.
send();
