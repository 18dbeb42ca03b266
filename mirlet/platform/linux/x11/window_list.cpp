#include "mirlet/platform/linux/x11/window_list.hpp"

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "mirlet/platform/linux/x11/window_text.hpp"

namespace mirlet::x11 {
namespace {

// The window list asks the same few questions of every window. Asked one at a time that is a
// round trip each, dozens per window under a window manager's frames; here all the questions of
// one step go out together and their answers are collected afterwards. An error (a window gone
// meanwhile) comes back with its reply.

// Longer values are cut at a megabyte (the length is counted in 4-byte units).
constexpr std::uint32_t kLongestProperty = 1 << 18;

struct PropertyRequest {
  bool sent = false;
  xcb_get_property_cookie_t cookie{};
};

// An atom no client has named cannot be on any window, and asking for it would be an error.
PropertyRequest requestProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t atom,
                                std::uint32_t length = kLongestProperty) {
  if (atom == XCB_ATOM_NONE) return {};
  return {true, xcb_get_property(c, 0, window, static_cast<xcb_atom_t>(atom), XCB_ATOM_ANY, 0,
                                 length)};
}

struct PropertyReply {
  bool failed = false;              // the window is gone (or the connection broke)
  std::optional<Property> property;  // nothing when it is not set
};

PropertyReply collectProperty(xcb_connection_t* c, const PropertyRequest& request) {
  if (!request.sent) return {};
  const auto reply = collect(xcb_get_property_reply, c, request.cookie);
  if (!reply) return {true, std::nullopt};
  if (reply->type == XCB_ATOM_NONE) return {};
  Property property{reply->type, reply->format, {}, {}};
  const auto* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
  const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
  if (reply->format == 8) property.bytes.assign(value, length);
  if (reply->format == 32) {
    property.numbers.reserve(length / 4);
    for (std::size_t i = 0; i + 4 <= length; i += 4) {
      std::int32_t number;
      std::memcpy(&number, value + i, 4);
      property.numbers.push_back(number);
    }
  }
  return {false, std::move(property)};
}

std::vector<xcb_window_t> childrenOf(const xcb_query_tree_reply_t& tree) {
  const xcb_window_t* children = xcb_query_tree_children(&tree);
  return {children, children + xcb_query_tree_children_length(&tree)};
}

constexpr std::size_t kAtomCount = 7;

TextAtoms internAtoms(xcb_connection_t* c,
                      const std::array<xcb_intern_atom_cookie_t, kAtomCount>& cookies) {
  std::array<xcb_atom_t, kAtomCount> atoms{};
  for (std::size_t i = 0; i < cookies.size(); ++i)
    if (auto reply = collect(xcb_intern_atom_reply, c, cookies[i])) atoms[i] = reply->atom;
  return TextAtoms{atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6]};
}

std::array<xcb_intern_atom_cookie_t, kAtomCount> requestAtoms(xcb_connection_t* c) {
  constexpr std::array<std::string_view, kAtomCount> names = {
      "_NET_WM_NAME", "WM_NAME",     "WM_CLASS",     "_NET_WM_PID",
      "WM_STATE",     "UTF8_STRING", "COMPOUND_TEXT"};
  std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
  for (std::size_t i = 0; i < names.size(); ++i)
    cookies[i] = xcb_intern_atom(c, 1, static_cast<std::uint16_t>(names[i].size()),
                                 names[i].data());
  return cookies;
}

struct Candidate {
  xcb_window_t topLevel = XCB_NONE;
  xcb_window_t client = XCB_NONE;
  mirlet_rect frame{};
};

// The listed top-levels, front to back, with their outer rectangles: every child of the root
// asked for its attributes and geometry at once.
std::vector<Candidate> listedTopLevels(xcb_connection_t* c,
                                       const std::vector<xcb_window_t>& children) {
  struct Requests {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
  };
  std::vector<Requests> requests;
  requests.reserve(children.size());
  for (auto it = children.rbegin(); it != children.rend(); ++it)
    requests.push_back({xcb_get_window_attributes(c, *it), xcb_get_geometry(c, *it)});

  std::vector<Candidate> candidates;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const xcb_window_t window = children[children.size() - 1 - i];
    const auto attributes = collect(xcb_get_window_attributes_reply, c, requests[i].attributes);
    const auto geometry = collect(xcb_get_geometry_reply, c, requests[i].geometry);
    if (!attributes || !geometry) continue;  // gone meanwhile
    if (attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT || attributes->override_redirect)
      continue;
    if (attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
    const double border = 2.0 * geometry->border_width;
    candidates.push_back({window, window,
                          {static_cast<double>(geometry->x), static_cast<double>(geometry->y),
                           geometry->width + border, geometry->height + border}});
  }
  return candidates;
}

// Sets each candidate's client: the first window carrying WM_STATE, breadth first, or the
// top-level itself when none does (no window manager, or a window it does not manage). The
// searches of all top-levels go down together, one level of every tree per round trip.
void findClients(xcb_connection_t* c, xcb_atom_t wmState, std::vector<Candidate>& candidates) {
  if (wmState == XCB_ATOM_NONE) return;
  // Frames nest a few levels at most; the bound keeps a hostile tree from costing much.
  constexpr std::size_t kMostVisited = 64;
  struct Search {
    Candidate* candidate;
    std::vector<xcb_window_t> level;
    std::size_t visited = 0;
  };
  std::vector<Search> searches;
  searches.reserve(candidates.size());
  for (auto& candidate : candidates) searches.push_back({&candidate, {candidate.topLevel}});

  // Asking each window of a level for WM_STATE and for its children at once saves a round trip
  // where the client lies deeper. But a window manager's frame holds dozens of decoration
  // windows beside its client: on a wide level WM_STATE goes first, and only the searches that
  // found nothing ask for the children.
  constexpr std::size_t kAskedTogether = 32;
  struct Requests {
    PropertyRequest state;
    bool treeSent = false;
    xcb_query_tree_cookie_t tree{};
  };
  for (bool searching = true; searching;) {
    std::size_t width = 0;
    for (auto& search : searches) {
      if (search.level.size() > kMostVisited - search.visited)
        search.level.resize(kMostVisited - search.visited);
      width += search.level.size();
    }
    const bool together = width <= kAskedTogether;
    std::vector<Requests> requests;
    requests.reserve(width);
    for (const auto& search : searches)
      for (const xcb_window_t window : search.level)
        requests.push_back({requestProperty(c, window, wmState, 0), together,
                            together ? xcb_query_tree(c, window) : xcb_query_tree_cookie_t{}});

    std::vector<xcb_window_t> found(searches.size(), XCB_NONE);
    std::size_t next = 0;
    for (std::size_t s = 0; s < searches.size(); ++s)
      for (const xcb_window_t window : searches[s].level) {
        const PropertyReply state = collectProperty(c, requests[next++].state);
        if (found[s] == XCB_NONE && state.property) found[s] = window;
      }
    if (!together) {
      next = 0;
      for (std::size_t s = 0; s < searches.size(); ++s)
        for (const xcb_window_t window : searches[s].level) {
          Requests& request = requests[next++];
          if (found[s] != XCB_NONE) continue;
          request.treeSent = true;
          request.tree = xcb_query_tree(c, window);
        }
    }

    searching = false;
    next = 0;
    for (std::size_t s = 0; s < searches.size(); ++s) {
      Search& search = searches[s];
      std::vector<xcb_window_t> below;
      for (std::size_t i = 0; i < search.level.size(); ++i) {
        const Requests& request = requests[next++];
        if (!request.treeSent) continue;
        const auto tree = collect(xcb_query_tree_reply, c, request.tree);
        if (tree && found[s] == XCB_NONE) {
          const auto children = childrenOf(*tree);
          below.insert(below.end(), children.begin(), children.end());
        }
      }
      search.visited += search.level.size();
      if (found[s] != XCB_NONE) search.candidate->client = found[s];
      search.level = std::move(below);
      searching = searching || !search.level.empty();
    }
  }
}

}  // namespace

WindowListRequest requestWindowList(const Connection& connection) {
  return {xcb_query_tree(connection.get(), connection.root()), requestAtoms(connection.get())};
}

void listWindows(const Connection& connection, const WindowListRequest& request,
                 const mirlet_content_sink& sink) {
  xcb_connection_t* c = connection.get();
  const auto tree = collect(xcb_query_tree_reply, c, request.tree);
  const TextAtoms atoms = internAtoms(c, request.atoms);
  if (!tree) return;

  std::vector<Candidate> candidates = listedTopLevels(c, childrenOf(*tree));

  struct TextRequests {
    PropertyRequest netWmName, wmName, wmClass, netWmPid;
  };
  const auto requestTexts = [&](xcb_window_t window) {
    return TextRequests{requestProperty(c, window, atoms.netWmName),
                        requestProperty(c, window, atoms.wmName),
                        requestProperty(c, window, atoms.wmClass),
                        requestProperty(c, window, atoms.netWmPid)};
  };
  // Without a window manager each top-level is its own client: its texts are asked for along
  // with the client search, a round trip saved. Where the search finds a client below, they are
  // dropped and the client is asked instead.
  std::vector<TextRequests> requests;
  requests.reserve(candidates.size());
  for (const auto& candidate : candidates) requests.push_back(requestTexts(candidate.topLevel));
  findClients(c, atoms.wmState, candidates);
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (candidates[i].client == candidates[i].topLevel) continue;
    for (const PropertyRequest* asked : {&requests[i].netWmName, &requests[i].wmName,
                                         &requests[i].wmClass, &requests[i].netWmPid})
      if (asked->sent) xcb_discard_reply(c, asked->cookie.sequence);
    requests[i] = requestTexts(candidates[i].client);
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const PropertyReply netWmName = collectProperty(c, requests[i].netWmName);
    const PropertyReply wmName = collectProperty(c, requests[i].wmName);
    const PropertyReply wmClass = collectProperty(c, requests[i].wmClass);
    const PropertyReply netWmPid = collectProperty(c, requests[i].netWmPid);
    if (netWmName.failed || wmName.failed || wmClass.failed || netWmPid.failed) continue;  // gone

    const std::string title = windowTitle(atoms, netWmName.property, wmName.property).value_or("");
    const std::string app = applicationName(wmClass.property, netWmPid.property).value_or("");
    const mirlet_window window{candidates[i].client, candidates[i].frame, title.data(),
                               title.size(),         app.data(),          app.size()};
    sink.window(sink.context, &window);
  }
}

MonitorRequest requestMonitors(const Connection& connection) {
  xcb_connection_t* c = connection.get();
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
  if (randr == nullptr || randr->present == 0) return {};
  // Both go out together; the server answers the version first, and a server older than 1.5
  // answers the monitor request with an error, which leaves the whole screen.
  return {true, xcb_randr_query_version(c, 1, 5), xcb_randr_get_monitors(c, connection.root(), 1)};
}

void listMonitors(const Connection& connection, const MonitorRequest& request,
                  const mirlet_content_sink& sink) {
  xcb_connection_t* c = connection.get();
  bool listed = false;
  if (request.sent) {
    const auto version = collect(xcb_randr_query_version_reply, c, request.version);
    const auto reply = collect(xcb_randr_get_monitors_reply, c, request.monitors);
    const bool recent = version && (version->major_version > 1 ||
                                    (version->major_version == 1 && version->minor_version >= 5));
    if (recent && reply) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
           xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t& monitor = *it.data;
        if (monitor.width == 0 || monitor.height == 0) continue;
        const mirlet_display display{monitor.name,
                                     {static_cast<double>(monitor.x),
                                      static_cast<double>(monitor.y),
                                      static_cast<double>(monitor.width),
                                      static_cast<double>(monitor.height)},
                                     monitor.width,
                                     monitor.height};
        sink.display(sink.context, &display);
        listed = true;
      }
    }
  }
  if (!listed) {
    const xcb_screen_t& screen = connection.screen();
    const mirlet_display whole{connection.root(),
                               {0, 0, static_cast<double>(screen.width_in_pixels),
                                static_cast<double>(screen.height_in_pixels)},
                               screen.width_in_pixels,
                               screen.height_in_pixels};
    sink.display(sink.context, &whole);
  }
}

}  // namespace mirlet::x11
