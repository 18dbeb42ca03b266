#include "mirlet/platform/linux/sway/desktop_entry.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

namespace mirlet::sway {
namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::vector<std::string> dataFolders() {
  std::vector<std::string> folders;
  std::string home = environment("XDG_DATA_HOME");
  if (home.empty() && !environment("HOME").empty()) home = environment("HOME") + "/.local/share";
  if (!home.empty()) folders.push_back(home);
  std::string dirs = environment("XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
  for (std::size_t start = 0; start <= dirs.size();) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    if (end > start) folders.push_back(dirs.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

// A desktop entry is a few kilobytes; a file much larger is not one. Read at its own size: a
// buffer of the largest size, zeroed, cost sixteen page faults of `windows`' 113.
std::optional<std::string> readSmallFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat file {};
  if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_size > (1 << 16)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string contents(static_cast<std::size_t>(file.st_size), '\0');
  std::size_t size = 0;
  ssize_t got = 0;
  while (size < contents.size() &&
         (got = ::read(fd, contents.data() + size, contents.size() - size)) > 0)
    size += static_cast<std::size_t>(got);
  ::close(fd);
  if (got < 0) return std::nullopt;
  contents.resize(size);
  return contents;
}

// The keys of a locale to look for, best first: lang_COUNTRY@MODIFIER, lang_COUNTRY,
// lang@MODIFIER, lang.
std::vector<std::string> localeKeys(std::string_view locale) {
  std::string_view modifier;
  if (const auto at = locale.find('@'); at != locale.npos) {
    modifier = locale.substr(at + 1);
    locale = locale.substr(0, at);
  }
  locale = locale.substr(0, locale.find('.'));
  const std::string_view language = locale.substr(0, locale.find('_'));
  if (language.empty() || language == "C" || language == "POSIX") return {};
  std::vector<std::string> keys;
  const auto add = [&](std::string_view base, bool withModifier) {
    if (withModifier && modifier.empty()) return;
    std::string key(base);
    if (withModifier) key.append(1, '@').append(modifier);
    if (std::ranges::find(keys, key) == keys.end()) keys.push_back(key);
  };
  add(locale, true);
  add(locale, false);
  add(language, true);
  add(language, false);
  return keys;
}

std::string messagesLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
    if (std::string value = environment(name); !value.empty()) return value;
  return "";
}

}  // namespace

std::optional<std::string> desktopEntryName(std::string_view entry, std::string_view locale) {
  std::map<std::string, std::string, std::less<>> names;  // "" for the plain Name
  bool inEntry = false;
  while (!entry.empty()) {
    const auto end = entry.find('\n');
    std::string_view line = entry.substr(0, end);
    entry = end == entry.npos ? std::string_view() : entry.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.starts_with('[')) {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry || !line.starts_with("Name")) continue;
    const auto equals = line.find('=');
    if (equals == line.npos) continue;
    std::string_view key = line.substr(4, equals - 4);
    while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
    std::string_view value = line.substr(equals + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (key.empty())
      names.emplace("", value);
    else if (key.size() > 2 && key.front() == '[' && key.back() == ']')
      names.emplace(std::string(key.substr(1, key.size() - 2)), value);
  }
  for (const std::string& key : localeKeys(locale))
    if (const auto found = names.find(key); found != names.end()) return found->second;
  if (const auto plain = names.find(""); plain != names.end()) return plain->second;
  return std::nullopt;
}

std::string applicationName(const std::string& appId) {
  // An id is a file name, never a path.
  if (appId.empty() || appId.find('/') != appId.npos || appId.starts_with('.')) return appId;
  std::string lower = appId;
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return std::tolower(c); });
  // Windows of one application come together: their entry is read once.
  static std::map<std::string, std::string, std::less<>> known;
  if (const auto found = known.find(appId); found != known.end()) return found->second;
  std::string name = appId;
  for (const std::string& folder : dataFolders()) {
    for (const std::string& id : {appId, lower}) {
      const auto entry = readSmallFile(folder + "/applications/" + id + ".desktop");
      if (!entry) continue;
      if (auto named = desktopEntryName(*entry, messagesLocale()); named && !named->empty()) {
        name = std::move(*named);
        break;
      }
    }
    if (name != appId) break;
  }
  known.emplace(appId, name);
  return name;
}

}  // namespace mirlet::sway
