#include "mirlet/platform/linux/x11/window_capture.hpp"

#include <poll.h>
#include <xcb/composite.h>
#include <xcb/damage.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

namespace mirlet::x11 {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long a redirected window may take to repaint what it was asked to: the first drawing after
// the exposures, then a short quiet spell after the last. A program that does not answer in time
// is captured as it stands.
constexpr auto kRepaintLimit = 500ms;
constexpr auto kQuietAfterDrawing = 15ms;

// A server object this client made (a pixmap, a damage record), freed with its holder.
template <auto Free>
class Owned {
 public:
  Owned(xcb_connection_t* c, std::uint32_t id) : c_(c), id_(id) {}
  ~Owned() { Free(c_, id_); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  std::uint32_t get() const { return id_; }

 private:
  xcb_connection_t* c_;
  std::uint32_t id_;
};

// Sends the window back on screen when the capture is done.
class Redirection {
 public:
  Redirection(xcb_connection_t* c, xcb_window_t window)
      : c_(c),
        window_(window),
        done_(xcb_composite_redirect_window_checked(c, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC)) {}
  ~Redirection() { xcb_composite_unredirect_window(c_, window_, XCB_COMPOSITE_REDIRECT_AUTOMATIC); }
  Redirection(const Redirection&) = delete;
  Redirection& operator=(const Redirection&) = delete;
  xcb_void_cookie_t done() const { return done_; }

 private:
  xcb_connection_t* c_;
  xcb_window_t window_;
  xcb_void_cookie_t done_;
};

// Asks for the exposures of `window` and every window inside it, one level of the tree per round
// trip: a redirected window is exposed where its pixels were not on screen, and those are the
// parts its program must paint again.
void watchExposures(xcb_connection_t* c, xcb_window_t window) {
  constexpr std::size_t kMostWatched = 256;
  constexpr std::uint32_t kExposures = XCB_EVENT_MASK_EXPOSURE;
  std::vector<xcb_window_t> level{window};
  for (std::size_t watched = 0; !level.empty() && watched < kMostWatched;) {
    level.resize(std::min(level.size(), kMostWatched - watched));
    std::vector<xcb_query_tree_cookie_t> trees;
    for (const xcb_window_t current : level) {
      xcb_change_window_attributes(c, current, XCB_CW_EVENT_MASK, &kExposures);
      trees.push_back(xcb_query_tree(c, current));
    }
    watched += level.size();
    level.clear();
    for (const auto cookie : trees)
      if (const auto tree = collect(xcb_query_tree_reply, c, cookie)) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        level.insert(level.end(), children, children + xcb_query_tree_children_length(tree.get()));
      }
  }
}

// Waits, within the limit, for the program to repaint after the exposures the redirection caused.
// `damageNotify` is the event type of Damage's notices, or -1 without Damage.
void awaitRepaint(const Connection& connection, int damageNotify) {
  xcb_connection_t* c = connection.get();
  if (!connection.sync()) return;
  const auto start = Clock::now();
  bool exposed = false;
  std::optional<Clock::time_point> lastDrawing;
  for (;;) {
    // Errors of requests nobody checks (a child gone before its exposures were asked for) come
    // here too, as type 0, and are dropped.
    while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
      const int type = event->response_type & 0x7F;
      if (type == XCB_EXPOSE) exposed = true;
      if (type == damageNotify && exposed) lastDrawing = Clock::now();
    }
    if (!exposed) return;  // every pixel was already on screen, so the picture is current
    const auto now = Clock::now();
    if (now - start >= kRepaintLimit) return;
    if (lastDrawing && now - *lastDrawing >= kQuietAfterDrawing) return;
    auto wait = kRepaintLimit - (now - start);
    if (lastDrawing)
      wait = std::min<Clock::duration>(wait, kQuietAfterDrawing - (now - *lastDrawing));
    pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    if (poll(&fd, 1, static_cast<int>(std::max<long long>(ms, 1))) < 0 && errno != EINTR) return;
    if (!connection.alive()) return;
  }
}

// The child of the root that holds `window` (the window manager's frame around a client), or
// nothing when `window` is not on this screen or no longer exists. `tree` asks for the tree
// around `window`.
std::optional<xcb_window_t> topLevelOf(const Connection& connection, xcb_window_t window,
                                       xcb_query_tree_cookie_t tree) {
  xcb_connection_t* c = connection.get();
  const xcb_window_t root = connection.root();
  for (int depth = 0; depth < 64; ++depth) {
    const auto place = collect(xcb_query_tree_reply, c, tree);
    if (!place || window == root || place->parent == XCB_NONE) return std::nullopt;
    if (place->parent == root) return window;
    window = place->parent;
    tree = xcb_query_tree(c, window);
  }
  xcb_discard_reply(c, tree.sequence);
  return std::nullopt;
}

bool present(xcb_connection_t* c, xcb_extension_t* extension) {
  const xcb_query_extension_reply_t* reply = xcb_get_extension_data(c, extension);
  return reply != nullptr && reply->present != 0;
}

}  // namespace

Result<Picture> captureWindowPixels(const Connection& connection, xcb_window_t client) {
  xcb_connection_t* c = connection.get();
  // The questions about the extensions and the first step of the search share a round trip.
  for (xcb_extension_t* extension : {&xcb_composite_id, &xcb_damage_id, &xcb_shm_id})
    xcb_prefetch_extension_data(c, extension);
  const xcb_query_tree_cookie_t tree = xcb_query_tree(c, client);
  if (!present(c, &xcb_composite_id)) return failure("the X server has no Composite extension");
  const bool damage = present(c, &xcb_damage_id);
  // Damage takes requests only from a client that has told it which version it speaks.
  const auto compositeVersion = xcb_composite_query_version(c, 0, 4);
  const auto damageVersion = damage ? xcb_damage_query_version(c, 1, 1)
                                    : xcb_damage_query_version_cookie_t{};
  const auto topLevel = topLevelOf(connection, client, tree);
  const auto version = collect(xcb_composite_query_version_reply, c, compositeVersion);
  if (damage) collect(xcb_damage_query_version_reply, c, damageVersion);
  // Naming a window's pixmap came with Composite 0.2.
  if (!version || (version->major_version == 0 && version->minor_version < 2))
    return failure("the X server has no Composite extension");
  if (!topLevel) return failure("no such window");

  const auto attributesAsked = xcb_get_window_attributes(c, *topLevel);
  const auto geometryAsked = xcb_get_geometry(c, *topLevel);
  const auto attributes = collect(xcb_get_window_attributes_reply, c, attributesAsked);
  const auto geometry = collect(xcb_get_geometry_reply, c, geometryAsked);
  if (!attributes || !geometry) return failure("the window is gone");
  if (attributes->map_state != XCB_MAP_STATE_VIEWABLE) return failure("the window is not on screen");

  watchExposures(c, *topLevel);
  std::optional<Owned<xcb_damage_destroy>> drawing;
  if (damage) {
    drawing.emplace(c, xcb_generate_id(c));
    xcb_damage_create(c, drawing->get(), *topLevel, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
  }
  const Redirection redirection(c, *topLevel);
  awaitRepaint(connection,
               damage ? xcb_get_extension_data(c, &xcb_damage_id)->first_event + XCB_DAMAGE_NOTIFY
                      : -1);
  if (auto redirected = connection.check(redirection.done()); !redirected)
    return failure(redirected.error());

  const Owned<xcb_free_pixmap> pixmap(c, xcb_generate_id(c));
  if (auto named = connection.check(
          xcb_composite_name_window_pixmap_checked(c, *topLevel, pixmap.get()));
      !named)
    return failure(named.error());
  const int border = geometry->border_width;
  return readPixels(connection,
                    Source{pixmap.get(), connection.visual(attributes->visual), geometry->depth,
                           0, 0, static_cast<std::uint16_t>(geometry->width + 2 * border),
                           static_cast<std::uint16_t>(geometry->height + 2 * border)});
}

Result<Picture> captureScreenPixels(const Connection& connection, const mirlet_rect& frame) {
  const xcb_screen_t& screen = connection.screen();
  const auto left = static_cast<long long>(std::min(frame.x, frame.x + frame.width));
  const auto top = static_cast<long long>(std::min(frame.y, frame.y + frame.height));
  const auto right = static_cast<long long>(std::max(frame.x, frame.x + frame.width));
  const auto bottom = static_cast<long long>(std::max(frame.y, frame.y + frame.height));
  if (right <= left || bottom <= top || right - left > 65535 || bottom - top > 65535)
    return failure("the display has no usable size");
  const long long inLeft = std::max<long long>(left, 0);
  const long long inTop = std::max<long long>(top, 0);
  const long long inRight = std::min<long long>(right, screen.width_in_pixels);
  const long long inBottom = std::min<long long>(bottom, screen.height_in_pixels);
  Source source{screen.root, connection.visual(screen.root_visual), screen.root_depth};
  if (inRight > inLeft && inBottom > inTop) {
    source.x = static_cast<std::int16_t>(inLeft);
    source.y = static_cast<std::int16_t>(inTop);
    source.width = static_cast<std::uint16_t>(inRight - inLeft);
    source.height = static_cast<std::uint16_t>(inBottom - inTop);
  }
  const bool inside = inLeft == left && inTop == top && inRight == right && inBottom == bottom;
  if (inside) return readPixels(connection, source);

  // A monitor reaching past the screen's edge: what lies outside is black.
  std::optional<Picture> visible;
  if (source.width > 0) {
    auto read = readPixels(connection, source);
    if (!read) return read;
    visible = std::move(*read);
  }
  const auto height = static_cast<std::uint32_t>(bottom - top);
  return makePicture(static_cast<std::uint32_t>(right - left), height,
                     [&](std::uint8_t* pixels, std::size_t stride) {
                       std::memset(pixels, 0, stride * height);
                       if (!visible) return;
                       for (std::uint32_t y = 0; y < visible->image.height; ++y)
                         std::memcpy(pixels + (inTop - top + y) * stride + (inLeft - left) * 4,
                                     visible->row(y), std::size_t{visible->image.width} * 4);
                     });
}

}  // namespace mirlet::x11
