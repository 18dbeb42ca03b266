#include "mirlet/platform/linux/x11/window_text.hpp"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <fstream>
#include <memory>
#include <vector>

namespace mirlet::x11 {
namespace {

struct XFreeDeleter {
  void operator()(void* p) const {
    if (p != nullptr) XFree(p);
  }
};

struct Property {
  Atom type = None;
  int format = 0;
  std::string bytes;          // format 8
  std::vector<long> numbers;  // format 32, as Xlib hands them out
};

// The value of `atom` on `window`, any type; nothing when it is not set. Longer than a megabyte
// is cut there.
std::optional<Property> readProperty(::Display* display, ::Window window, Atom atom) {
  if (atom == None) return std::nullopt;
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* raw = nullptr;
  if (XGetWindowProperty(display, window, atom, 0, 1 << 18, False, AnyPropertyType, &type, &format,
                         &count, &remaining, &raw) != Success)
    return std::nullopt;
  std::unique_ptr<unsigned char, XFreeDeleter> data(raw);
  if (type == None || !data) return std::nullopt;
  Property property{type, format, {}, {}};
  if (format == 8) property.bytes.assign(reinterpret_cast<const char*>(data.get()), count);
  if (format == 32) {
    const auto* numbers = reinterpret_cast<const long*>(data.get());
    property.numbers.assign(numbers, numbers + count);
  }
  return property;
}

// Text in a legacy encoding (COMPOUND_TEXT and its kin) through Xlib's converters.
std::optional<std::string> convertedText(::Display* display, const Property& property) {
  XTextProperty text;
  std::string copy = property.bytes;
  text.value = reinterpret_cast<unsigned char*>(copy.data());
  text.encoding = property.type;
  text.format = property.format;
  text.nitems = copy.size();
  char** list = nullptr;
  int count = 0;
  if (Xutf8TextPropertyToTextList(display, &text, &list, &count) < Success || list == nullptr)
    return std::nullopt;
  std::string result;
  for (int i = 0; i < count; ++i) result += list[i];
  XFreeStringList(list);
  return result;
}

}  // namespace

TextAtoms TextAtoms::fetch(::Display* display) {
  char names[][16] = {"_NET_WM_NAME", "WM_NAME",  "WM_CLASS",
                      "_NET_WM_PID",  "WM_STATE", "UTF8_STRING"};
  char* pointers[6];
  for (int i = 0; i < 6; ++i) pointers[i] = names[i];
  Atom atoms[6] = {};
  XInternAtoms(display, pointers, 6, True, atoms);
  return TextAtoms{atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5]};
}

std::string latin1ToUtf8(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      result += c;
    } else {
      result += static_cast<char>(0xC0 | (byte >> 6));
      result += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return result;
}

std::optional<std::string> windowTitle(::Display* display, const TextAtoms& atoms,
                                       ::Window window) {
  if (auto name = readProperty(display, window, atoms.netWmName); name && name->format == 8)
    return name->bytes;
  const auto name = readProperty(display, window, atoms.wmName);
  if (!name || name->format != 8) return std::nullopt;
  if (name->type == XA_STRING) return latin1ToUtf8(name->bytes);
  if (atoms.utf8String != None && name->type == atoms.utf8String) return name->bytes;
  if (auto converted = convertedText(display, *name)) return converted;
  return latin1ToUtf8(name->bytes);
}

std::optional<std::string> applicationName(::Display* display, const TextAtoms& atoms,
                                           ::Window window) {
  if (auto hint = readProperty(display, window, atoms.wmClass); hint && hint->format == 8) {
    // Two texts, each ended by a NUL: the instance, then the class.
    if (const auto end = hint->bytes.find('\0'); end != std::string::npos) {
      std::string name = hint->bytes.substr(end + 1);
      if (const auto classEnd = name.find('\0'); classEnd != std::string::npos)
        name.resize(classEnd);
      if (!name.empty()) return latin1ToUtf8(name);
    }
  }
  const auto pid = readProperty(display, window, atoms.netWmPid);
  if (!pid || pid->numbers.empty() || pid->numbers[0] <= 0) return std::nullopt;
  std::ifstream comm("/proc/" + std::to_string(pid->numbers[0]) + "/comm");
  std::string command;
  if (!std::getline(comm, command) || command.empty()) return std::nullopt;
  return command;
}

}  // namespace mirlet::x11
