#pragma once
// What a window says about itself: its title and the program it belongs to.

#include <xcb/xcb.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mirlet::x11 {

// The atoms the window texts are read by. An atom that no client has named yet is
// XCB_ATOM_NONE: no window can carry it.
struct TextAtoms {
  xcb_atom_t netWmName = XCB_ATOM_NONE;
  xcb_atom_t wmName = XCB_ATOM_NONE;
  xcb_atom_t wmClass = XCB_ATOM_NONE;
  xcb_atom_t netWmPid = XCB_ATOM_NONE;
  xcb_atom_t wmState = XCB_ATOM_NONE;
  xcb_atom_t utf8String = XCB_ATOM_NONE;
  xcb_atom_t compoundText = XCB_ATOM_NONE;
};

// A window property as the server gave it.
struct Property {
  xcb_atom_t type = XCB_ATOM_NONE;
  int format = 0;
  std::string bytes;          // format 8
  std::vector<long> numbers;  // format 32, sign-extended
};

// _NET_WM_NAME whatever its type, else WM_NAME converted to UTF-8 (STRING, UTF8_STRING and
// COMPOUND_TEXT; any other type is read as Latin-1); nothing when neither is set.
std::optional<std::string> windowTitle(const TextAtoms& atoms,
                                       const std::optional<Property>& netWmName,
                                       const std::optional<Property>& wmName);

// The class part of WM_CLASS, else the command name of the process in _NET_WM_PID.
std::optional<std::string> applicationName(const std::optional<Property>& wmClass,
                                           const std::optional<Property>& netWmPid);

// Latin-1 text (the STRING type) as UTF-8.
std::string latin1ToUtf8(std::string_view text);

}  // namespace mirlet::x11
