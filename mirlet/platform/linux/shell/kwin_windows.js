// mirlet's window list on KDE Plasma: a KWin script (the scripting API of KWin 5.27), built into
// mirlet-shell.so.
//
// mirlet writes it into a file after one line that names the connection waiting for the answer,
// such as
//     const replyTo = ":1.42";
// loads it through org.kde.kwin.Scripting.loadScript and runs it. The script answers with one
// call of dev.mirlet.KWin.Windows at /dev/mirlet/KWin on that connection: the windows on screen
// front to back, eight values each, one after another,
//     uuid, desktop file name, resource class, caption, frame x, y, width, height
// (strings, then numbers; the frame in points, decorations included). Nothing is kept: the
// script ends after that call, and mirlet unloads it.

// Managed windows that are shown on the current desktop: not minimised, not the desktop or a
// panel, which are no application windows.
const shown = workspace.clientList().filter(w =>
    !w.minimized && !w.desktopWindow && !w.dock && (w.onAllDesktops ||
        w.desktop === workspace.currentDesktop));

// stackingOrder counts up from the bottom (KWin 5.27 has no workspace.stackingOrder); mirlet
// lists the top first.
shown.sort((a, b) => b.stackingOrder - a.stackingOrder);

const values = [];
for (const w of shown) {
    const frame = w.frameGeometry;
    values.push(String(w.internalId), String(w.desktopFileName), String(w.resourceClass),
        String(w.caption), frame.x, frame.y, frame.width, frame.height);
}
callDBus(replyTo, '/dev/mirlet/KWin', 'dev.mirlet.KWin', 'Windows', values);
