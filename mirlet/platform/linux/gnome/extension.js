// mirlet's window list and window pictures on GNOME Shell.
//
// GNOME keeps the list of windows and their pictures from ordinary programs. This extension
// answers one program only: the mirlet executable named in metadata.json. Every call first looks
// at the process behind the caller's bus connection and is refused unless that process runs that
// very file (the same device and inode), so a plain `gdbus call` or any other program gets
// dev.mirlet.Error.NotAllowed and nothing else.
//
// Interface dev.mirlet.Shell1 at /dev/mirlet/Shell on the bus name dev.mirlet.Shell:
//   Version() -> u                     1; tells mirlet that the extension is enabled and answers
//   GetWindows() -> a(ussdddd)
//       the windows on screen front to back: id, application, title, frame x, y, width, height
//       in points (decorations included, shadows not)
//   CaptureWindow(u id, h file) -> a{sv}
//       the window alone, even where others cover it, over its frame (decorations included,
//       shadows not), at the display's own pixel density
//   CaptureArea(dddd frame, h file) -> a{sv}
//       what the screen shows inside frame (points), at the highest display scale
// A capture writes height * stride bytes at the file's offset (a memfd of the caller's: the
// pixels do not travel through the bus) and then answers width, height, stride (bytes per row)
// and format ("RGBA8888": bytes red, green, blue, alpha, not premultiplied).

const { Gio, GLib, Gdk, Shell, Clutter, cairo } = imports.gi;

const BUS_NAME = 'dev.mirlet.Shell';
const OBJECT_PATH = '/dev/mirlet/Shell';
const INTERFACE = `<node>
  <interface name="dev.mirlet.Shell1">
    <method name="Version"><arg type="u" direction="out"/></method>
    <method name="GetWindows">
      <arg name="windows" type="a(ussdddd)" direction="out"/>
    </method>
    <method name="CaptureWindow">
      <arg name="id" type="u" direction="in"/>
      <arg name="fd" type="h" direction="in"/>
      <arg name="image" type="a{sv}" direction="out"/>
    </method>
    <method name="CaptureArea">
      <arg name="frame" type="(dddd)" direction="in"/>
      <arg name="fd" type="h" direction="in"/>
      <arg name="image" type="a{sv}" direction="out"/>
    </method>
  </interface>
</node>`;

const NOT_ALLOWED = 'dev.mirlet.Error.NotAllowed';
const NO_SUCH_WINDOW = 'dev.mirlet.Error.NoSuchWindow';
const CAPTURE_FAILED = 'dev.mirlet.Error.CaptureFailed';
const NOT_A_FILE = 'dev.mirlet.Error.NotAFile';

class Refusal extends Error {
    constructor(name, message) {
        super(message);
        this.dbusName = name;
    }
}

// The device and inode of a file, following symbolic links; null when it cannot be read. For
// /proc/PID/exe this is the executable the process runs, even when its path was replaced since.
function fileIdentity(path) {
    try {
        return Gio.File.new_for_path(path).query_info('id::file', Gio.FileQueryInfoFlags.NONE, null)
            .get_attribute_string('id::file');
    } catch (e) {
        return null;
    }
}

function callBus(method, sender) {
    return new Promise((resolve, reject) => {
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus',
            'org.freedesktop.DBus', method, new GLib.Variant('(s)', [sender]), null,
            Gio.DBusCallFlags.NONE, -1, null, (connection, result) => {
                try {
                    resolve(connection.call_finish(result).deepUnpack()[0]);
                } catch (e) {
                    reject(e);
                }
            });
    });
}

// Windows as mutter stacks them, front to back: the ones shown on the active workspace, without
// override-redirect windows (menus, tooltips, the shell's own helper window), which belong to no
// application's window list.
function windowsOnScreen() {
    const workspace = global.workspace_manager.get_active_workspace();
    const shown = global.display.list_all_windows().filter(w =>
        !w.is_override_redirect() && w.showing_on_its_workspace() &&
        w.located_on_workspace(workspace) && w.get_compositor_private());
    return global.display.sort_windows_by_stacking(shown).reverse();
}

// mutter's stable sequence: a 32-bit number counted up for every window the compositor ever
// managed, never reused while it runs. get_id() is 64-bit and starts at a random 32-bit value,
// so it can leave the 32-bit range that mirlet's window ids have.
function findWindow(id) {
    return windowsOnScreen().find(w => w.get_stable_sequence() === id) ?? null;
}

function describeImage(pixbuf) {
    return {
        width: new GLib.Variant('u', pixbuf.get_width()),
        height: new GLib.Variant('u', pixbuf.get_height()),
        stride: new GLib.Variant('u', pixbuf.get_rowstride()),
        format: new GLib.Variant('s', 'RGBA8888'),
    };
}

// Writes the rows of pixbuf to the caller's file, tightly packed as describeImage says (GdkPixbuf
// has no padding after its last row, so its bytes are height * stride long). Only a regular file
// such as a memfd is taken: a write there never waits for a reader, so it can run at once and in
// full, where one into a pipe could stall the desktop until the caller reads.
function sendPixels(pixbuf, fd) {
    if (fd < 0)
        throw new Refusal(NOT_A_FILE, 'no file came with the call');
    const info = Gio.File.new_for_path(`/proc/self/fd/${fd}`)
        .query_info('standard::type', Gio.FileQueryInfoFlags.NONE, null);
    if (info.get_file_type() !== Gio.FileType.REGULAR)
        throw new Refusal(NOT_A_FILE, 'the pixels go to a regular file, such as a memfd');
    const stream = new Gio.UnixOutputStream({ fd, close_fd: false });
    stream.write_all(pixbuf.read_pixel_bytes().toArray(), null);
}

// Runs use(fd) with the file descriptor that came with the call as its argument number index,
// and closes it afterwards; -1 when none came.
function withCallerFd(invocation, index, use) {
    const fd = invocation.get_message().get_unix_fd_list()?.get(index) ?? -1;
    try {
        return use(fd);
    } finally {
        if (fd >= 0)
            GLib.close(fd);
    }
}

class MirletShell {
    constructor(extension) {
        this._executable = extension.metadata['mirlet-executable'];
    }

    enable() {
        this._dbus = Gio.DBusExportedObject.wrapJSObject(INTERFACE, this);
        this._dbus.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._nameId);
        this._dbus.unexport();
        this._dbus = null;
    }

    // Whether the caller's process runs the mirlet executable. The bus names the process that
    // opened the connection; its executable is read after the call arrived. A process id that
    // was freed and taken again in between by a mirlet process would pass, but the reply still
    // goes to the caller's connection, which closed with the process that made it, unless that
    // process handed its connection on before it exec'd mirlet: such a caller could as well run
    // mirlet itself, which answers everyone who runs it.
    async _checkCaller(invocation) {
        const expected = fileIdentity(this._executable);
        let pid = null;
        try {
            pid = await callBus('GetConnectionUnixProcessID', invocation.get_sender());
        } catch (e) {
            // A bus that does not tell the process cannot vouch for the caller.
        }
        if (expected === null || pid === null || fileIdentity(`/proc/${pid}/exe`) !== expected)
            throw new Refusal(NOT_ALLOWED, `only ${this._executable} may ask`);
    }

    // Runs answer() for a caller that passed the check and returns its value, or the refusal or
    // failure as a D-Bus error.
    _serve(invocation, answer) {
        this._checkCaller(invocation).then(answer).then(value => {
            invocation.return_value(value);
        }).catch(e => {
            if (e instanceof Refusal)
                invocation.return_dbus_error(e.dbusName, e.message);
            else
                invocation.return_dbus_error(CAPTURE_FAILED, String(e));
        });
    }

    VersionAsync(params, invocation) {
        this._serve(invocation, () => new GLib.Variant('(u)', [1]));
    }

    GetWindowsAsync(params, invocation) {
        this._serve(invocation, () => {
            const tracker = Shell.WindowTracker.get_default();
            const windows = windowsOnScreen().map(w => {
                const frame = w.get_frame_rect();
                return [w.get_stable_sequence(), tracker.get_window_app(w)?.get_name() ?? '',
                    w.get_title() ?? '', frame.x, frame.y, frame.width, frame.height];
            });
            return new GLib.Variant('(a(ussdddd))', [windows]);
        });
    }

    CaptureWindowAsync(params, invocation) {
        const [id, fdIndex] = params;
        this._serve(invocation, () => {
            const window = findWindow(id);
            if (!window)
                throw new Refusal(NO_SUCH_WINDOW, `no window ${id} on screen`);
            // The actor painted by itself into an image of its own, so whatever covers the
            // window is not in it; clipped to the frame, which leaves out client-side shadows.
            const actor = window.get_compositor_private();
            const frame = window.get_frame_rect();
            const clip = new cairo.RectangleInt({ x: frame.x - actor.x, y: frame.y - actor.y,
                width: frame.width, height: frame.height });
            const surface = actor.get_image(clip);
            if (!surface)
                throw new Error('the window has nothing painted');
            const pixbuf = Gdk.pixbuf_get_from_surface(surface, 0, 0, surface.getWidth(),
                surface.getHeight());
            withCallerFd(invocation, fdIndex, fd => sendPixels(pixbuf, fd));
            return new GLib.Variant('(a{sv})', [describeImage(pixbuf)]);
        });
    }

    CaptureAreaAsync(params, invocation) {
        const [[x, y, width, height], fdIndex] = params;
        this._serve(invocation, async () => {
            let scale = 1;
            for (let i = 0; i < global.display.get_n_monitors(); i++)
                scale = Math.max(scale, global.display.get_monitor_scale(i));
            const rect = new cairo.RectangleInt({ x: Math.floor(x), y: Math.floor(y),
                width: Math.ceil(x + width) - Math.floor(x),
                height: Math.ceil(y + height) - Math.floor(y) });
            const content = global.stage.paint_to_content(rect, scale,
                Clutter.PaintFlag.NO_CURSORS);
            // composite_to_stream is the shell's way from a texture to pixels; the PNG it also
            // writes goes to memory and is dropped.
            const pixbuf = await new Promise((resolve, reject) => {
                Shell.Screenshot.composite_to_stream(content.get_texture(), 0, 0, -1, -1, scale,
                    null, 0, 0, 1, Gio.MemoryOutputStream.new_resizable(), (o, result) => {
                        try {
                            resolve(Shell.Screenshot.composite_to_stream_finish(result));
                        } catch (e) {
                            reject(e);
                        }
                    });
            });
            withCallerFd(invocation, fdIndex, fd => sendPixels(pixbuf, fd));
            return new GLib.Variant('(a{sv})', [describeImage(pixbuf)]);
        });
    }
}

function init(extension) {
    return new MirletShell(extension);
}
