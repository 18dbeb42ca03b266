#include "mirlet/platform/linux/sway/listing.hpp"

#include "mirlet/platform/linux/sway/desktop_entry.hpp"
#include "mirlet/platform/linux/sway/sway_ipc.hpp"

namespace mirlet::sway {

Result<std::vector<NamedWindow>> namedWindows(std::string_view tree) {
  auto found = visibleWindows(tree);
  if (!found) return failure(found.error());
  std::vector<NamedWindow> named;
  named.reserve(found->size());
  for (TreeWindow& w : *found) {
    // X clients are named by their class, as on X11.
    std::string app = w.xwayland ? w.xClass : applicationName(w.appId);
    named.push_back({std::move(w), std::move(app)});
  }
  return named;
}

void lendWindows(const std::vector<NamedWindow>& windows, const mirlet_content_sink& sink) {
  for (const NamedWindow& w : windows) {
    const Rect& f = w.tree.frame;
    const mirlet_window window{w.tree.id,           {f.x, f.y, f.width, f.height},
                               w.tree.title.data(), w.tree.title.size(),
                               w.app.data(),        w.app.size()};
    sink.window(sink.context, &window);
  }
}

Result<void> listContent(SwayIpc ipc, const mirlet_content_sink& sink) {
  const bool windows = sink.window != nullptr, displays = sink.display != nullptr;
  if (auto sent = !windows    ? ipc.send({SwayIpc::kGetOutputs})
                  : displays ? ipc.send({SwayIpc::kGetTree, SwayIpc::kGetOutputs})
                             : ipc.send({SwayIpc::kGetTree});
      !sent)
    return sent;
  if (windows) {
    const auto tree = ipc.receive(SwayIpc::kGetTree);
    if (!tree) return failure(tree.error());
    const auto named = namedWindows(*tree);
    if (!named) return failure(named.error());
    lendWindows(*named, sink);
  }
  if (!displays) return {};
  const auto answer = ipc.receive(SwayIpc::kGetOutputs);
  if (!answer) return failure(answer.error());
  const auto outputs = activeOutputs(*answer);
  if (!outputs) return failure(outputs.error());
  for (const TreeOutput& output : *outputs) {
    const Rect& f = output.frame;
    const mirlet_display display{output.id,
                                 {f.x, f.y, f.width, f.height},
                                 static_cast<std::int64_t>(f.width),
                                 static_cast<std::int64_t>(f.height)};
    sink.display(sink.context, &display);
  }
  return {};
}

}  // namespace mirlet::sway
