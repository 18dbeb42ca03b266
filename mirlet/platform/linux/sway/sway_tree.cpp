#include "mirlet/platform/linux/sway/sway_tree.hpp"

#include <algorithm>
#include <limits>

#include <nlohmann/json.hpp>

namespace mirlet::sway {
namespace {

using Json = nlohmann::json;

const Json kNone;

const Json& member(const Json& node, const char* name) {
  if (!node.is_object()) return kNone;
  const auto found = node.find(name);
  return found == node.end() ? kNone : *found;
}

std::string text(const Json& node, const char* name) {
  const Json& value = member(node, name);
  return value.is_string() ? value.get<std::string>() : std::string();
}

double number(const Json& node, const char* name) {
  const Json& value = member(node, name);
  return value.is_number() ? value.get<double>() : 0;
}

Rect rect(const Json& node) {
  return {number(node, "x"), number(node, "y"), number(node, "width"), number(node, "height")};
}

// The children under `key`, in the order of the node's focus list (most recent first), any that
// the list leaves out after them in their own order.
std::vector<const Json*> byFocus(const Json& node, const char* key) {
  std::vector<const Json*> children;
  const Json& list = member(node, key);
  if (!list.is_array()) return children;
  for (const Json& child : list) children.push_back(&child);
  const Json& focus = member(node, "focus");
  const auto rank = [&](const Json* child) {
    const Json& id = member(*child, "id");
    if (focus.is_array())
      for (std::size_t i = 0; i < focus.size(); ++i)
        if (focus[i] == id) return i;
    return std::numeric_limits<std::size_t>::max();
  };
  std::ranges::stable_sort(children, {}, rank);
  return children;
}

struct Walk {
  std::vector<TreeWindow> windows;

  // The views under `node`, each container's children by focus. A view's rectangle leaves out
  // its title bar, which sits above it; in a stacked container the titles of all its children
  // stand there, one row each.
  void views(const Json& node, std::size_t titleRows) {
    if (member(node, "shell").is_string()) {
      const Json& id = member(node, "id");
      if (member(node, "visible") != true || !id.is_number_unsigned() ||
          id.get<std::uint64_t>() > std::numeric_limits<std::uint32_t>::max())
        return;
      TreeWindow window;
      window.id = id.get<std::uint32_t>();
      window.frame = rect(member(node, "rect"));
      const double title = number(member(node, "deco_rect"), "height") * double(titleRows);
      window.frame.y -= title;
      window.frame.height += title;
      window.title = text(node, "name");
      window.xwayland = text(node, "shell") == "xwayland";
      window.appId = text(node, "app_id");
      window.xClass = text(member(node, "window_properties"), "class");
      windows.push_back(std::move(window));
      return;
    }
    const auto children = byFocus(node, "nodes");
    const std::size_t rows = text(node, "layout") == "stacked" ? children.size() : 1;
    for (const Json* child : children) views(*child, rows);
  }
};

}  // namespace

Result<std::vector<TreeWindow>> visibleWindows(std::string_view tree) {
  const Json root = Json::parse(tree, nullptr, false);
  if (root.is_discarded() || !root.is_object() || text(root, "type") != "root")
    return failure("sway's tree could not be read");
  Walk floating, tiled;
  for (const Json* output : byFocus(root, "nodes")) {
    // The scratchpad's hidden windows live on an output of their own.
    if (text(*output, "name") == "__i3") continue;
    for (const Json* workspace : byFocus(*output, "nodes")) {
      // Drawn in list order, so the last is on top.
      const Json& above = member(*workspace, "floating_nodes");
      if (above.is_array())
        for (auto window = above.rbegin(); window != above.rend(); ++window)
          floating.views(*window, 1);
      tiled.views(*workspace, 1);
    }
  }
  floating.windows.insert(floating.windows.end(), std::make_move_iterator(tiled.windows.begin()),
                          std::make_move_iterator(tiled.windows.end()));
  return std::move(floating.windows);
}

Result<std::vector<TreeOutput>> activeOutputs(std::string_view outputs) {
  const Json list = Json::parse(outputs, nullptr, false);
  if (list.is_discarded() || !list.is_array()) return failure("sway's outputs could not be read");
  std::vector<TreeOutput> active;
  for (const Json& output : list) {
    if (member(output, "active") != true) continue;
    // FNV-1a: a name's number, the same in every run.
    std::uint32_t id = 2166136261u;
    for (const unsigned char c : text(output, "name")) id = (id ^ c) * 16777619u;
    active.push_back({id, rect(member(output, "rect"))});
  }
  return active;
}

}  // namespace mirlet::sway
