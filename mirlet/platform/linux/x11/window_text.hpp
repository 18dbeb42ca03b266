#pragma once
// What a window says about itself: its title and the program it belongs to.

#include <X11/Xlib.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirlet::x11 {

// The atoms the window texts are read by. An atom that no client has named yet is None: no
// window can carry it.
struct TextAtoms {
  Atom netWmName = None;
  Atom wmName = None;
  Atom wmClass = None;
  Atom netWmPid = None;
  Atom wmState = None;
  Atom utf8String = None;
};

// A window property as the server gave it.
struct Property {
  Atom type = None;
  int format = 0;
  std::string bytes;          // format 8
  std::vector<long> numbers;  // format 32, as Xlib hands them out (sign-extended)
};

// _NET_WM_NAME whatever its type, else WM_NAME converted to UTF-8; nothing when neither is set.
// The display is only asked for its text converters.
std::optional<std::string> windowTitle(::Display* display, const TextAtoms& atoms,
                                       const std::optional<Property>& netWmName,
                                       const std::optional<Property>& wmName);

// The class part of WM_CLASS, else the command name of the process in _NET_WM_PID.
std::optional<std::string> applicationName(const std::optional<Property>& wmClass,
                                           const std::optional<Property>& netWmPid);

// Latin-1 text (the STRING type) as UTF-8.
std::string latin1ToUtf8(std::string_view text);

}  // namespace mirlet::x11
