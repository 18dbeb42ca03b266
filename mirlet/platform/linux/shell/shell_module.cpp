// The entry of mirlet-shell.so: the screen of a Wayland session whose windows a desktop keeps
// behind D-Bus, GNOME Shell or KDE Plasma's KWin. The loader sends every Wayland session but
// sway's here; on a compositor that is neither, mirlet sees no windows, and the displays still
// come from the session.

#include <optional>

#include "mirlet/platform/linux/shell/desktops.hpp"
#include "mirlet/platform/linux/wayland/screen_module.hpp"

namespace mirlet::shell {
namespace {

Result<void> askOwner(Bus& bus, const char* name, Call& call, Clock::time_point deadline) {
  auto message = bus.method("org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameHasOwner");
  if (!message) return failure(message.error());
  if (auto ok = check(sd_bus_message_append(message->get(), "s", name), "NameHasOwner"); !ok)
    return ok;
  return bus.send(*message, call, deadline);
}

bool owned(const Call& call) {
  int owner = 0;
  const auto reply = call.reply();
  return reply && sd_bus_message_read(*reply, "b", &owner) >= 0 && owner != 0;
}

Result<wayland::Screen> connectShell() {
  // The desktop's names are asked for first, so that the bus answers while the Wayland globals
  // come. A session bus that cannot be reached leaves the session without windows, not without
  // displays.
  const auto deadline = Clock::now() + kAnswerTime;
  std::optional<Bus> bus;
  Call gnome, kwin;
  if (auto connected = Bus::connectSession(); connected) {
    bus.emplace(std::move(*connected));
    if (!askOwner(*bus, "org.gnome.Shell", gnome, deadline) ||
        !askOwner(*bus, "org.kde.KWin", kwin, deadline))
      bus.reset();
  }
  auto session = wayland::Session::connect();
  if (!session) return failure(session.error());
  wayland::Screen screen{std::move(*session), nullptr};
  if (bus && bus->waitFor([&] { return gnome.answered() && kwin.answered(); }, deadline,
                          "the desktop's names")) {
    if (owned(gnome)) screen.desktop = gnomeDesktop(std::move(*bus));
    else if (owned(kwin)) screen.desktop = kwinDesktop(std::move(*bus));
  }
  return screen;
}

}  // namespace
}  // namespace mirlet::shell

extern "C" __attribute__((visibility("default"))) const mirlet_screen_module*
mirlet_shell_entry() {
  return &mirlet::wayland::ScreenModule<&mirlet::shell::connectShell>::kTable;
}
