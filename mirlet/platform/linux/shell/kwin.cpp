// KDE Plasma's KWin: the windows from a KWin script (kwin_windows.js) that calls back on mirlet's
// own connection, the pictures from org.kde.KWin.ScreenShot2 over a pipe.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "mirlet/platform/linux/shell/desktops.hpp"
#include "mirlet/platform/linux/shell/sent_pixels.hpp"
#include "mirlet/platform/linux/sway/desktop_entry.hpp"

namespace mirlet::shell {

extern const char kKWinWindowsScript[];  // kwin_windows.js, built in

namespace {

constexpr const char* kKWin = "org.kde.KWin";
constexpr const char* kScreenShotPath = "/org/kde/KWin/ScreenShot2";
constexpr const char* kScreenShot = "org.kde.KWin.ScreenShot2";
constexpr const char* kAnswerPath = "/dev/mirlet/KWin";
// KWin renders the window into a picture of its own and writes it from a thread of its own.
constexpr std::chrono::milliseconds kPictureTime{5000};

struct KWinWindow {
  std::uint32_t id = 0;
  std::string uuid, app, title;
  mirlet_rect frame{};
};

// mirlet's 32-bit id of a window: the first 32 bits of KWin's uuid for it ("{1767eb58-…}" gives
// 0x1767eb58). KWin's uuids are random, so the same window has the same id in every run and
// nothing needs keeping. Two windows whose uuids begin alike (about n² / 2³³ for n windows: one
// in 3.4 million for 50) share an id: both are listed with it, and a picture by that id is of
// the front one, the first in the list.
std::optional<std::uint32_t> windowId(const std::string& uuid) {
  const std::size_t start = uuid.starts_with('{') ? 1 : 0;
  if (uuid.size() < start + 8) return std::nullopt;
  std::uint32_t id = 0;
  for (std::size_t i = start; i < start + 8; ++i) {
    const char c = uuid[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    id = id << 4 | std::uint32_t(digit);
  }
  return id;
}

// One value of the script's answer: a text or a number (KWin sends ints and doubles).
Result<std::variant<std::string, double>> readValue(sd_bus_message* message) {
  const char* contents = nullptr;
  char type = 0;
  if (auto ok = check(sd_bus_message_peek_type(message, &type, &contents), "KWin's answer"); !ok)
    return failure(ok.error());
  if (type != 'v' || contents == nullptr || std::strlen(contents) != 1 ||
      std::strchr("suidxt", contents[0]) == nullptr)
    return failure("KWin's answer holds a value of an unexpected type");
  if (auto ok = check(sd_bus_message_enter_container(message, 'v', contents), "KWin's answer");
      !ok)
    return failure(ok.error());
  std::variant<std::string, double> value;
  union {
    const char* s;
    std::int32_t i;
    std::uint32_t u;
    std::int64_t x;
    std::uint64_t t;
    double d;
  } raw{};
  if (auto ok = check(sd_bus_message_read_basic(message, contents[0], &raw), "KWin's answer"); !ok)
    return failure(ok.error());
  switch (contents[0]) {
    case 's': value = std::string(raw.s); break;
    case 'i': value = double(raw.i); break;
    case 'u': value = double(raw.u); break;
    case 'x': value = double(raw.x); break;
    case 't': value = double(raw.t); break;
    default: value = raw.d; break;
  }
  if (auto ok = check(sd_bus_message_exit_container(message), "KWin's answer"); !ok)
    return failure(ok.error());
  return value;
}

// The script's call: eight values a window (kwin_windows.js).
Result<std::vector<KWinWindow>> readWindows(sd_bus_message* message) {
  if (auto ok = check(sd_bus_message_enter_container(message, 'a', "v"), "KWin's answer"); !ok)
    return failure(ok.error());
  std::vector<std::variant<std::string, double>> values;
  while (sd_bus_message_at_end(message, 0) == 0) {
    auto value = readValue(message);
    if (!value) return failure(value.error());
    values.push_back(std::move(*value));
  }
  if (values.size() % 8 != 0) return failure("KWin's answer does not hold eight values a window");
  std::vector<KWinWindow> windows;
  for (std::size_t at = 0; at < values.size(); at += 8) {
    const auto* texts = &values[at];
    for (int i = 0; i < 8; ++i)
      if (std::holds_alternative<std::string>(texts[i]) != (i < 4))
        return failure("KWin's answer holds a window of unexpected values");
    KWinWindow window;
    window.uuid = std::get<std::string>(texts[0]);
    const auto id = windowId(window.uuid);
    if (!id) return failure("KWin named a window " + window.uuid + ", which is no uuid");
    window.id = *id;
    // The installed desktop entry's Name for the application KWin names (for a native window
    // from its app id), else the window's class, which KWin gives in lower case.
    const std::string& desktopFile = std::get<std::string>(texts[1]);
    window.app = desktopFile.empty() ? std::get<std::string>(texts[2])
                                     : sway::applicationName(desktopFile);
    window.title = std::get<std::string>(texts[3]);
    window.frame = {std::get<double>(texts[4]), std::get<double>(texts[5]),
                    std::get<double>(texts[6]), std::get<double>(texts[7])};
    windows.push_back(std::move(window));
  }
  return windows;
}

// The script's answer, taken from KWin's connection only: anyone on the bus could call here.
struct Answer {
  std::string kwin;
  std::optional<Result<std::vector<KWinWindow>>> windows;

  static int take(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* answer = static_cast<Answer*>(self);
    if (!sd_bus_message_is_method_call(message, "dev.mirlet.KWin", "Windows")) return 0;
    const char* sender = sd_bus_message_get_sender(message);
    if (sender == nullptr || answer->kwin != sender || answer->windows)
      return sd_bus_reply_method_errorf(message, SD_BUS_ERROR_ACCESS_DENIED,
                                        "only KWin answers here, once");
    answer->windows = readWindows(message);
    return sd_bus_reply_method_return(message, "");
  }
};

struct Slot {
  sd_bus_slot* slot = nullptr;
  ~Slot() { sd_bus_slot_unref(slot); }
};

// The script in a file of its own in the runtime folder, which KWin (the same user) reads when it
// runs it; removed when it goes.
struct ScriptFile {
  std::string path, plugin;
  ~ScriptFile() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

Result<void> writeScript(ScriptFile& file, const std::string& replyTo) {
  // A unique name is ":" and digits with dots; nothing else goes into the script.
  if (replyTo.empty() || replyTo.find_first_not_of(":.0123456789") != std::string::npos)
    return failure("the bus gave this connection an unexpected name: " + replyTo);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string path = std::string(runtime != nullptr && *runtime != '\0' ? runtime : "/tmp") +
                     "/mirlet-windows-XXXXXX.js";
  Descriptor out{::mkstemps(path.data(), 3)};
  if (out.fd < 0) return failure("cannot write KWin's script at " + path + ": " + std::strerror(errno));
  file.path = path;
  file.plugin = path.substr(path.rfind('/') + 1, path.size() - path.rfind('/') - 4);
  const std::string text = "const replyTo = \"" + replyTo + "\";\n" + kKWinWindowsScript;
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t n = ::write(out.fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return failure("cannot write KWin's script at " + path + ": " + std::strerror(errno));
    written += std::size_t(n);
  }
  return {};
}

class KWinDesktop final : public wayland::Desktop {
 public:
  explicit KWinDesktop(Bus bus) : bus_(std::move(bus)) {}

  // KWin has no prompt: a desktop entry grants its screenshot interface, or nothing does.
  Result<bool> access(bool) override {
    if (!authorised_) {
      Probe probe;
      if (auto sent = sendProbe(probe, Clock::now() + kAnswerTime); !sent)
        return failure(sent.error());
      if (auto answered = bus_.waitFor([&] { return probe.call.answered(); }, probe.deadline,
                                       "KWin's answer on the grant");
          !answered)
        return failure(answered.error());
      authorised_ = granted(probe);
    }
    return *authorised_;
  }

  Result<void> listWindows(const mirlet_content_sink& sink) override {
    const auto listed = windows();
    if (!listed) return failure(listed.error());
    for (const KWinWindow& w : **listed) {
      const mirlet_window window{w.id,           w.frame,    w.title.data(),
                                 w.title.size(), w.app.data(), w.app.size()};
      sink.window(sink.context, &window);
    }
    return {};
  }

  Result<pixels::Picture> captureWindow(std::uint32_t id, std::int64_t width,
                                        std::int64_t height) override {
    const auto listed = windows();
    if (!listed) return failure(listed.error());
    const auto window = std::ranges::find(**listed, id, &KWinWindow::id);
    if (window == (*listed)->end()) return failure("no window on screen has that id");
    return capture("CaptureWindow", width, height, [&](sd_bus_message* message, int fd) {
      return sd_bus_message_append(message, "sa{sv}h", window->uuid.c_str(), 2,
                                   "include-decoration", "b", 1, "native-resolution", "b", 1, fd);
    });
  }

  Result<pixels::Picture> captureArea(const mirlet_rect& frame, std::int64_t width,
                                      std::int64_t height) override {
    // Whole points outward: a picture never misses a pixel the frame touches.
    const double x0 = std::floor(std::min(frame.x, frame.x + frame.width));
    const double y0 = std::floor(std::min(frame.y, frame.y + frame.height));
    const double x1 = std::ceil(std::max(frame.x, frame.x + frame.width));
    const double y1 = std::ceil(std::max(frame.y, frame.y + frame.height));
    if (!(x1 - x0 >= 1 && y1 - y0 >= 1 && x1 - x0 < 1 << 16 && y1 - y0 < 1 << 16))
      return failure("no picture of that area can be taken");
    return capture("CaptureArea", width, height, [&](sd_bus_message* message, int fd) {
      return sd_bus_message_append(message, "iiuua{sv}h", std::int32_t(x0), std::int32_t(y0),
                                   std::uint32_t(x1 - x0), std::uint32_t(y1 - y0), 1,
                                   "native-resolution", "b", 1, fd);
    });
  }

 private:
  // A picture of a window that no window has: KWin answers InvalidWindow to a program it lets
  // take pictures and NoAuthorized to the others, and takes no picture either way.
  struct Probe {
    Call call;
    Descriptor reading, writing;
    Clock::time_point deadline;
  };

  Result<void> sendProbe(Probe& probe, Clock::time_point deadline) {
    probe.deadline = deadline;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return failure(std::string("pipe: ") + std::strerror(errno));
    probe.reading.fd = fds[0];
    probe.writing.fd = fds[1];
    auto message = bus_.method(kKWin, kScreenShotPath, kScreenShot, "CaptureWindow");
    if (!message) return failure(message.error());
    if (auto ok = check(sd_bus_message_append(message->get(), "sa{sv}h",
                                              "{00000000-0000-0000-0000-000000000000}", 0,
                                              probe.writing.fd),
                        "CaptureWindow");
        !ok)
      return ok;
    return bus_.send(*message, probe.call, deadline);
  }

  static bool granted(const Probe& probe) {
    return probe.call.error() == "org.kde.KWin.ScreenShot2.Error.InvalidWindow";
  }

  // The windows, asked for once per run: one snapshot, as the commands expect. The grant, KWin's
  // name on the bus and the script's loading are asked for together.
  Result<const std::vector<KWinWindow>*> windows() {
    if (listed_) return &*listed_;
    const auto deadline = Clock::now() + kAnswerTime;
    Probe probe;
    if (!authorised_)
      if (auto sent = sendProbe(probe, deadline); !sent) return failure(sent.error());
    Call owner, load;
    auto ownerCall = bus_.method("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                 "org.freedesktop.DBus", "GetNameOwner");
    if (!ownerCall) return failure(ownerCall.error());
    if (auto ok = check(sd_bus_message_append(ownerCall->get(), "s", kKWin), "GetNameOwner"); !ok)
      return failure(ok.error());
    if (auto sent = bus_.send(*ownerCall, owner, deadline); !sent) return failure(sent.error());
    // The script names this connection, which the bus names in its greeting.
    const auto replyTo = bus_.uniqueName(deadline);
    if (!replyTo) return failure(replyTo.error());
    ScriptFile script;
    if (auto written = writeScript(script, *replyTo); !written) return failure(written.error());
    auto loadCall = bus_.method(kKWin, "/Scripting", "org.kde.kwin.Scripting", "loadScript");
    if (!loadCall) return failure(loadCall.error());
    if (auto ok = check(sd_bus_message_append(loadCall->get(), "ss", script.path.c_str(),
                                              script.plugin.c_str()),
                        "loadScript");
        !ok)
      return failure(ok.error());
    if (auto sent = bus_.send(*loadCall, load, deadline); !sent) return failure(sent.error());
    if (auto answered = bus_.waitFor(
            [&] {
              return (authorised_ || probe.call.answered()) && owner.answered() && load.answered();
            },
            deadline, "KWin's answers on the grant and the window script");
        !answered)
      return failure(answered.error());
    const bool loaded = load.reply().has_value();
    // Unloaded whatever happens next; a script that ran has ended by itself.
    struct Unload {
      KWinDesktop& desktop;
      const ScriptFile& script;
      bool loaded;
      ~Unload() {
        if (loaded) desktop.unloadScript(script.plugin);
      }
    } unload{*this, script, loaded};
    if (!authorised_) authorised_ = granted(probe);
    if (!*authorised_)
      return failure("KWin does not let mirlet take pictures: no desktop entry for this "
                     "executable grants it org.kde.KWin.ScreenShot2");
    std::int32_t id = -1;
    const char* kwin = nullptr;
    if (!loaded || sd_bus_message_read(*load.reply(), "i", &id) < 0 || id < 0)
      return failure("KWin did not load mirlet's window script");
    if (!owner.reply() || sd_bus_message_read(*owner.reply(), "s", &kwin) < 0)
      return failure("KWin has no name on the bus");

    Answer answer{kwin, std::nullopt};
    Slot slot;
    if (auto ok = check(sd_bus_add_object(bus_.get(), &slot.slot, kAnswerPath, &Answer::take,
                                          &answer),
                        "waiting for KWin's answer");
        !ok)
      return failure(ok.error());
    const std::string path = "/" + std::to_string(id);
    auto runCall = bus_.method(kKWin, path.c_str(), "org.kde.kwin.Script", "run");
    if (!runCall) return failure(runCall.error());
    Call run;
    if (auto sent = bus_.send(*runCall, run, deadline); !sent) return failure(sent.error());
    if (auto answered = bus_.waitFor(
            [&] { return answer.windows || (run.answered() && !run.reply()); }, deadline,
            "the windows from KWin's script");
        !answered)
      return failure(answered.error());
    if (!answer.windows) return failure("KWin did not run mirlet's window script: " + run.reply().error());
    if (!*answer.windows) return failure(answer.windows->error());
    listed_ = std::move(**answer.windows);
    return &*listed_;
  }

  void unloadScript(const std::string& plugin) {
    auto message = bus_.method(kKWin, "/Scripting", "org.kde.kwin.Scripting", "unloadScript");
    if (!message || sd_bus_message_append(message->get(), "s", plugin.c_str()) < 0) return;
    Call call;
    (void)bus_.call(*message, call, Clock::now() + kAnswerTime, "unloading the window script");
  }

  // KWin answers with the picture's description at once and writes its pixels into the pipe from
  // a thread of its own: both are waited for together.
  template <class Append>
  Result<pixels::Picture> capture(const char* method, std::int64_t width, std::int64_t height,
                                  Append&& append) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return failure(std::string("pipe: ") + std::strerror(errno));
    Descriptor reading{fds[0]}, writing{fds[1]};
    ::fcntl(reading.fd, F_SETFL, O_NONBLOCK);
    const auto deadline = Clock::now() + kPictureTime;
    Call call;
    {
      auto message = bus_.method(kKWin, kScreenShotPath, kScreenShot, method);
      if (!message) return failure(message.error());
      if (auto ok = check(append(message->get(), writing.fd), method); !ok)
        return failure(ok.error());
      if (auto sent = bus_.send(*message, call, deadline); !sent) return failure(sent.error());
    }
    // The message holds a copy of the write end until it is sent, and KWin its own: the pipe ends
    // when KWin has written.
    writing.reset();
    Drain drain{reading.fd, {}, false};
    if (auto waited = bus_.waitFor(
            [&] { return call.answered() && (!call.error().empty() || drain.ended); }, deadline,
            "a picture from KWin", &drain);
        !waited)
      return failure(waited.error());
    const auto reply = call.reply();
    if (!reply) return failure("KWin gave no picture: " + reply.error());
    const auto description = readDictionary(*reply);
    if (!description) return failure(description.error());
    // QImage's formats: RGB32, ARGB32 and its premultiplied form lie in memory as blue, green,
    // red, alpha on a little-endian machine; RGBX8888, RGBA8888 and its premultiplied form as
    // red, green, blue, alpha.
    const auto format = description->numbers.find("format");
    const int code = format == description->numbers.end() ? -1 : int(format->second);
    if (code != 4 && code != 5 && code != 6 && code != 16 && code != 17 && code != 18)
      return failure("KWin sent pixels in a format mirlet does not read");
    const auto layout = sentLayout(*description, code >= 16, drain.bytes.size());
    if (!layout) return failure(layout.error());
    auto* bytes = new std::string(std::move(drain.bytes));
    pixels::Picture sent{
        {layout->width, layout->height, layout->bytesPerRow,
         reinterpret_cast<const std::uint8_t*>(bytes->data())},
        {bytes, [](void* owned) { delete static_cast<std::string*>(owned); }}};
    return fromSent(std::move(sent), layout->redFirst, width, height);
  }

  Bus bus_;
  std::optional<bool> authorised_;
  std::optional<std::vector<KWinWindow>> listed_;
};

}  // namespace

std::unique_ptr<wayland::Desktop> kwinDesktop(Bus bus) {
  return std::make_unique<KWinDesktop>(std::move(bus));
}

}  // namespace mirlet::shell
