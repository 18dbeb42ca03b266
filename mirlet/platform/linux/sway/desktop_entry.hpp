#pragma once
// Application names from the installed desktop entries, as launchers and docks show them.

#include <optional>
#include <string>
#include <string_view>

namespace mirlet::sway {

// The Name of the entry's [Desktop Entry] group, in the language of `locale` (a POSIX locale
// such as "de_CH.UTF-8@euro") where the entry has it; nullopt when it has no Name.
std::optional<std::string> desktopEntryName(std::string_view entry, std::string_view locale);

// The name of the application whose windows carry `appId`: the Name of the desktop entry of that
// id (in XDG_DATA_HOME, then XDG_DATA_DIRS; the id as it is, then in lower case), else the id.
std::string applicationName(const std::string& appId);

}  // namespace mirlet::sway
