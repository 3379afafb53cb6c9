// Zorvane's helper inside GNOME Shell (43) on Wayland. Wayland tells no application where the
// other windows are or where the pointer is outside its own; the shell knows both. This extension
// sends them to Zorvane over the session bus, and nothing else: the visible windows front to back
// with their client areas, process ids, titles and the focused one, whenever they change; and the
// pointer's position with its time, at most every 8 ms. Zorvane installs it only when the user
// asks; it is replaced with the program.
const { Gio, GLib, Meta } = imports.gi;

const service = 'com.quenvar.Zorvane.WindowHelper';
const path = '/com/quenvar/Zorvane/WindowHelper';
const iface = 'com.quenvar.Zorvane.WindowHelper';

function send(method, text) {
    Gio.DBus.session.call(service, path, iface, method, new GLib.Variant('(s)', [text]), null,
        Gio.DBusCallFlags.NO_AUTO_START, 1000, null, null);
}

class Reporter {
    enable() {
        this._signals = [];
        this._windowSignals = new Map();
        this._lastPointer = 0;
        const connect = (object, name, handler) => this._signals.push([object, object.connect(name, handler)]);
        const changed = () => this._changed();
        connect(global.display, 'window-created', (_, w) => { this._watch(w); changed(); });
        connect(global.display, 'notify::focus-window', changed);
        connect(global.display, 'restacked', changed);
        connect(global.workspace_manager, 'active-workspace-changed', changed);
        const tracker = Meta.CursorTracker.get_for_display(global.display);
        connect(tracker, 'position-invalidated', () => this._sendPointer());
        for (const actor of global.get_window_actors()) this._watch(actor.meta_window);
        this._sendWindows();
    }

    disable() {
        if (this._pending) GLib.source_remove(this._pending);
        this._pending = 0;
        for (const [object, id] of this._signals) object.disconnect(id);
        for (const [w, ids] of this._windowSignals) ids.forEach(id => w.disconnect(id));
        this._signals = [];
        this._windowSignals.clear();
    }

    // Changes come in bursts, and a window going away is still half there while it goes: the list is
    // sent once the shell is idle again.
    _changed() {
        if (this._pending) return;
        this._pending = GLib.idle_add(GLib.PRIORITY_DEFAULT_IDLE, () => {
            this._pending = 0;
            this._sendWindows();
            return GLib.SOURCE_REMOVE;
        });
    }

    _watch(w) {
        if (!w || this._windowSignals.has(w)) return;
        const changed = () => this._changed();
        this._windowSignals.set(w, [w.connect('position-changed', changed), w.connect('size-changed', changed),
            w.connect('notify::title', changed), w.connect('notify::minimized', changed),
            w.connect('unmanaged', () => { this._windowSignals.delete(w); changed(); })]);
    }

    _sendWindows() {
        const workspace = global.workspace_manager.get_active_workspace();
        const list = [];
        // The actors are in stacking order, bottom first.
        for (const actor of global.get_window_actors().reverse()) {
            const w = actor.meta_window;
            if (!w || !w.get_compositor_private() || w.minimized || w.is_hidden() || w.get_window_type() === Meta.WindowType.DESKTOP) continue;
            if (!w.is_on_all_workspaces() && w.get_workspace() !== workspace) continue;
            // Without the shadows of a window that draws its own decorations.
            const r = w.get_frame_rect();
            // The surface, shadows included, where the application's own coordinates start.
            const s = w.get_buffer_rect();
            list.push({pid: w.get_pid(), title: w.get_title() || '', app: w.get_wm_class() || '', x: r.x, y: r.y,
                width: r.width, height: r.height, surface: {x: s.x, y: s.y, width: s.width, height: s.height},
                active: w.has_focus()});
        }
        send('Windows', JSON.stringify({version: 1, windows: list}));
    }

    _sendPointer() {
        const now = Date.now();
        if (now - this._lastPointer < 8) return;
        this._lastPointer = now;
        const [x, y] = global.get_pointer();
        send('Pointer', `${x} ${y} ${now}`);
    }
}

function init() {
    return new Reporter();
}
