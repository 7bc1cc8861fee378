// Reports the window list to Velmora: front to back, per window its pid,
// frame (global logical coordinates) and whether it is on screen. Velmora
// loads a copy of this file with its own unique bus name filled in below, so
// the reports reach only the process that asked for them. No titles leave
// KWin.
//
// One file serves both scripting APIs: Plasma 5 (clientList, a stacking
// order per client) and Plasma 6 (windowList, workspace.stackingOrder,
// VirtualDesktop objects, and from 6.7 a current desktop per screen).

const destination = "@VELMORA_BUS_NAME@";
const objectPath = "/org/velmora/KWinReports";
const interfaceName = "org.velmora.KWinReports1";

// Bursts of signals (a drag, a restack touching every window) become at most
// one report per interval.
const reportIntervalMs = 50;

const plasma6 = typeof workspace.windowList === "function";

// The signals each API offers that can change a report. Neither has a
// workspace-wide stacking signal: each window has its own.
const workspaceSignals = plasma6
  ? { added: "windowAdded", removed: "windowRemoved", others: ["windowActivated", "currentDesktopChanged", "currentActivityChanged"] }
  : { added: "clientAdded", removed: "clientRemoved", others: ["clientActivated", "currentDesktopChanged", "currentActivityChanged"] };
const windowSignals = plasma6
  ? ["frameGeometryChanged", "stackingOrderChanged", "minimizedChanged", "hiddenChanged", "desktopsChanged", "activitiesChanged", "outputChanged"]
  : ["frameGeometryChanged", "stackingOrderChanged", "minimizedChanged", "hiddenChanged", "desktopChanged", "activitiesChanged", "screenChanged", "windowShown", "windowHidden"];

// A signal the API lacks is said in KWin's log rather than skipped in
// silence, so an API that changes shows.
function connect(owner, name, handler) {
  const signal = owner[name];
  if (signal && typeof signal.connect === "function") signal.connect(handler);
  else print("velmora-windows: KWin offers no signal " + name);
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

// With desktops switched per screen (Plasma 6.7), the desktop shown where
// the window is; else the one desktop shown everywhere.
function currentDesktopOf(w) {
  if (typeof workspace.currentDesktopForScreen === "function" && w.output) {
    const current = workspace.currentDesktopForScreen(w.output);
    if (current) return current;
  }
  return workspace.currentDesktop;
}

function onCurrentDesktop(w) {
  if (w.onAllDesktops) return true;
  if (plasma6) {
    const current = currentDesktopOf(w);
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

// "Show desktop" hides every application window without a property to read
// it by; KWin's own showingDesktop says whether it is on.
let showingDesktop = false;

function isOnScreen(w) {
  return !w.minimized && !w.hidden && !showingDesktop && onCurrentDesktop(w) && onCurrentActivity(w);
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
  connect(timer, "timeout", send);
}

function changed() {
  if (!timer) send();
  else if (!timer.active) timer.start();
}

// Asked again whenever a window is hidden or shown for it (Plasma 6), and on
// activations, which end it.
function askShowingDesktop() {
  callDBus("org.kde.KWin", "/KWin", "org.freedesktop.DBus.Properties", "Get", "org.kde.KWin", "showingDesktop", (value) => {
    const showing = value === true;
    if (showing === showingDesktop) return;
    showingDesktop = showing;
    changed();
  });
}

function activated() {
  askShowingDesktop();
  changed();
}

function watch(w) {
  if (!w) return;
  for (let i = 0; i < windowSignals.length; i++) connect(w, windowSignals[i], changed);
  if (plasma6) connect(w, "hiddenByShowDesktopChanged", askShowingDesktop);
}

function added(w) {
  watch(w);
  changed();
}

const existing = allWindows();
for (let i = 0; i < existing.length; i++) watch(existing[i]);

connect(workspace, workspaceSignals.added, added);
connect(workspace, workspaceSignals.removed, changed);
for (let i = 0; i < workspaceSignals.others.length; i++) {
  const name = workspaceSignals.others[i];
  connect(workspace, name, name === "windowActivated" || name === "clientActivated" ? activated : changed);
}

// The first report goes at once, so Velmora knows the script runs.
send();
askShowingDesktop();
