#pragma once
// The entry points (module.h) of a screen module for Wayland sessions, over the screen that
// `Connect` makes once per process: the displays from the session, everything else from its
// desktop. mirlet-wayland.so (sway) and mirlet-shell.so (GNOME Shell, KWin) differ only in that.

#include "mirlet/platform/linux/module_entry.hpp"
#include "mirlet/platform/linux/wayland/desktop.hpp"

namespace mirlet::wayland {

template <Result<Screen> (*Connect)()>
class ScreenModule {
  // Connects at the first question; later ones get the same screen, or the same reason.
  static Result<Screen*> screen() {
    static Result<Screen> connected = Connect();
    if (!connected) return failure(connected.error());
    return &*connected;
  }

  static Result<Desktop*> desktop() {
    const auto found = screen();
    if (!found) return failure(found.error());
    if ((*found)->desktop == nullptr) return failure(kNoWindows);
    return (*found)->desktop.get();
  }

  // Hands the picture's pixels to the caller, who gives them back through `release`.
  static Result<void> handOver(Result<pixels::Picture> made, mirlet_picture* picture) {
    if (!made) return failure(made.error());
    picture->image = made->image;
    picture->release = made->owner.get_deleter();
    picture->owner = made->owner.release();
    return {};
  }

  // Where mirlet cannot see the windows the answer is no, so that a caller does not go on to an
  // empty window list.
  static int allowed(int ask, int* granted, mirlet_reason* why) noexcept {
    return module::guard(why, [&]() -> Result<void> {
      const auto found = desktop();
      const auto answer = found ? (*found)->access(ask != 0) : Result<bool>(false);
      if (!answer) return failure(answer.error());
      *granted = *answer ? 1 : 0;
      return {};
    });
  }

  static int listContent(const mirlet_content_sink* sink, mirlet_reason* why) noexcept {
    return module::guard(why, [&]() -> Result<void> {
      const auto found = screen();
      if (!found) return failure(found.error());
      if (sink->window != nullptr) {
        const auto windows = desktop();
        if (!windows) return failure(windows.error());
        if (auto listed = (*windows)->listWindows(*sink); !listed) return listed;
      }
      if (sink->display == nullptr) return {};
      for (const auto& output : (*found)->session->outputs()) {
        const Rect& f = output->logical;
        const mirlet_display display{output->name, {f.x, f.y, f.width, f.height},
                                     static_cast<std::int64_t>(f.width),
                                     static_cast<std::int64_t>(f.height)};
        sink->display(sink->context, &display);
      }
      return {};
    });
  }

  static int captureWindow(std::uint32_t id, std::int64_t width, std::int64_t height,
                           mirlet_picture* picture, mirlet_reason* why) noexcept {
    return module::guard(why, [&]() -> Result<void> {
      const auto found = desktop();
      if (!found) return failure(found.error());
      return handOver((*found)->captureWindow(id, width, height), picture);
    });
  }

  static int captureDisplay(mirlet_rect frame, std::int64_t width, std::int64_t height,
                            mirlet_picture* picture, mirlet_reason* why) noexcept {
    return module::guard(why, [&]() -> Result<void> {
      const auto found = desktop();
      if (!found) return failure(found.error());
      return handOver((*found)->captureArea(frame, width, height), picture);
    });
  }

 public:
  static constexpr mirlet_screen_module kTable{&allowed, &listContent, &captureWindow,
                                               &captureDisplay};
};

}  // namespace mirlet::wayland
