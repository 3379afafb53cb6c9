// Zorvane's helper inside KWin (Plasma 5.27 on Wayland). Wayland tells no application where the
// other windows are or where the pointer is outside its own; KWin knows both. This script sends
// them to Zorvane over the session bus, and nothing else: the visible windows front to back with
// their client areas, process ids, titles and the active one, whenever they change; and the
// pointer's position with its time, at most every 8 ms. Zorvane loads it when it starts and
// unloads it when it quits; it is replaced with the program.
var service = "com.quenvar.Zorvane.WindowHelper";
var path = "/com/quenvar/Zorvane/WindowHelper";
var iface = "com.quenvar.Zorvane.WindowHelper";
var version = 1;

function visible(w) {
    if (!w || w.deleted || w.minimized || w.desktopWindow || !w.managed) return false;
    return w.onAllDesktops || w.desktop == workspace.currentDesktop;
}

function sendWindows() {
    // Each window knows its place in the stack; the top one first.
    var order = workspace.clientList().filter(visible);
    order.sort(function (a, b) { return b.stackingOrder - a.stackingOrder; });
    var list = [];
    for (var i = 0; i < order.length; ++i) {
        var w = order[i];
        // The client area: the surface under KWin's decorations, the window geometry of one that
        // draws its own (whose surface has shadows around it).
        var g = w.noBorder ? w.frameGeometry : w.bufferGeometry;
        // The surface, where the application's own coordinates start.
        var s = w.bufferGeometry;
        list.push({pid: w.pid, title: "" + w.caption, app: "" + w.resourceClass, x: g.x, y: g.y, width: g.width, height: g.height,
            surface: {x: s.x, y: s.y, width: s.width, height: s.height}, active: !!w.active});
    }
    callDBus(service, path, iface, "Windows", JSON.stringify({version: version, windows: list}));
}

// Many changes come at once (a window opens: added, activated, restacked): each sends the list,
// Zorvane keeps the last.
function changed() {
    sendWindows();
}

function watch(w) {
    if (!w) return;
    w.clientGeometryChanged.connect(changed);
    w.captionChanged.connect(changed);
    w.minimizedChanged.connect(changed);
    w.desktopChanged.connect(changed);
}

var windows = workspace.clientList();
for (var i = 0; i < windows.length; ++i) watch(windows[i]);
workspace.clientAdded.connect(function (w) { watch(w); changed(); });
workspace.clientRemoved.connect(changed);
workspace.clientActivated.connect(changed);
workspace.currentDesktopChanged.connect(changed);
workspace.clientMinimized.connect(changed);
workspace.clientUnminimized.connect(changed);

var lastSent = 0;
workspace.cursorPosChanged.connect(function () {
    var now = Date.now();
    if (now - lastSent < 8) return;
    lastSent = now;
    var p = workspace.cursorPos;
    callDBus(service, path, iface, "Pointer", p.x + " " + p.y + " " + now);
});

sendWindows();
