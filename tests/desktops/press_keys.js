// press_keys.js KEYSYM...: presses each key on a headless GNOME Shell, which
// has no input device, through mutter's RemoteDesktop session (one bus
// connection: the session ends with the connection that made it).
const {Gio, GLib} = imports.gi;
const bus = Gio.bus_get_sync(Gio.BusType.SESSION, null);
function call(path, iface, method, args) {
  return bus.call_sync('org.gnome.Mutter.RemoteDesktop', path, iface, method,
      args, null, Gio.DBusCallFlags.NONE, 5000, null);
}
const [session] = call('/org/gnome/Mutter/RemoteDesktop', 'org.gnome.Mutter.RemoteDesktop',
    'CreateSession', null).deepUnpack();
const S = 'org.gnome.Mutter.RemoteDesktop.Session';
call(session, S, 'Start', null);
for (const k of ARGV) {
  for (const down of [true, false])
    call(session, S, 'NotifyKeyboardKeysym', new GLib.Variant('(ub)', [parseInt(k), down]));
  GLib.usleep(200000);
}
call(session, S, 'Stop', null);
