#pragma once
// The desktops that keep their windows behind D-Bus: GNOME Shell, through mirlet's own extension,
// and KDE Plasma's KWin, through its scripting and its screenshot interface. Each owns the bus
// connection it is given.

#include <memory>

#include "mirlet/platform/linux/shell/bus.hpp"
#include "mirlet/platform/linux/wayland/desktop.hpp"

namespace mirlet::shell {

// GNOME gives ordinary programs no window list and no pictures; mirlet's extension
// (mirlet/platform/linux/gnome/) does, to the mirlet executable alone.
std::unique_ptr<wayland::Desktop> gnomeDesktop(Bus bus);

// KWin lists its windows to a script that any client may load, and gives pictures to the
// programs that a desktop entry grants its screenshot interface.
std::unique_ptr<wayland::Desktop> kwinDesktop(Bus bus);

}  // namespace mirlet::shell
