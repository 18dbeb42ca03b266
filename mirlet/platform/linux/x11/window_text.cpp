#include "mirlet/platform/linux/x11/window_text.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "mirlet/platform/linux/x11/compound_text.hpp"

namespace mirlet::x11 {

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

std::optional<std::string> windowTitle(const TextAtoms& atoms,
                                       const std::optional<Property>& netWmName,
                                       const std::optional<Property>& name) {
  if (netWmName && netWmName->format == 8) return netWmName->bytes;
  if (!name || name->format != 8) return std::nullopt;
  if (atoms.utf8String != XCB_ATOM_NONE && name->type == atoms.utf8String) return name->bytes;
  if (atoms.compoundText != XCB_ATOM_NONE && name->type == atoms.compoundText)
    return compoundTextToUtf8(name->bytes);
  return latin1ToUtf8(name->bytes);  // STRING, and the best guess for anything else
}

std::optional<std::string> applicationName(const std::optional<Property>& hint,
                                           const std::optional<Property>& pid) {
  if (hint && hint->format == 8) {
    // Two texts, each ended by a NUL: the instance, then the class.
    if (const auto end = hint->bytes.find('\0'); end != std::string::npos) {
      std::string name = hint->bytes.substr(end + 1);
      if (const auto classEnd = name.find('\0'); classEnd != std::string::npos)
        name.resize(classEnd);
      if (!name.empty()) return latin1ToUtf8(name);
    }
  }
  if (!pid || pid->numbers.empty() || pid->numbers[0] <= 0) return std::nullopt;
  // Plain POSIX calls: a std::ifstream brought C++'s streams and locales into the module, 775 KB
  // of code and 2,300 relocations that cost every listing 5% of its instructions.
  const std::string path = "/proc/" + std::to_string(pid->numbers[0]) + "/comm";
  const int comm = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (comm < 0) return std::nullopt;
  char line[64];  // the kernel keeps 15 bytes of a command name
  const ssize_t length = ::read(comm, line, sizeof line);
  ::close(comm);
  const std::string_view command(line, length > 0 ? static_cast<std::size_t>(length) : 0);
  const std::string_view name = command.substr(0, command.find('\n'));
  if (name.empty()) return std::nullopt;
  return std::string(name);
}

}  // namespace mirlet::x11
