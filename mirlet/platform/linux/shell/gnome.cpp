// GNOME Shell through mirlet's extension: interface dev.mirlet.Shell1 at /dev/mirlet/Shell on the
// bus name dev.mirlet.Shell (mirlet/platform/linux/gnome/extension.js says what each call does).

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "mirlet/platform/linux/shell/desktops.hpp"
#include "mirlet/platform/linux/shell/sent_pixels.hpp"

namespace mirlet::shell {
namespace {

constexpr const char* kName = "dev.mirlet.Shell";
constexpr const char* kPath = "/dev/mirlet/Shell";
constexpr const char* kInterface = "dev.mirlet.Shell1";
constexpr const char* kUuid = "mirlet@mirlet.dev";

// The shell paints a window into its own picture on its main loop; a busy desktop takes longer
// than for an answer.
constexpr std::chrono::milliseconds kPictureTime{5000};

struct Mapped {
  void* address = MAP_FAILED;
  std::size_t size = 0;
  ~Mapped() {
    if (address != MAP_FAILED) ::munmap(address, size);
  }
};

class GnomeDesktop final : public wayland::Desktop {
 public:
  explicit GnomeDesktop(Bus bus) : bus_(std::move(bus)) {}

  Result<bool> access(bool ask) override {
    const auto deadline = Clock::now() + kAnswerTime;
    const auto answered = answers(deadline);
    if (!answered || *answered || !ask) return answered;
    // GNOME's one way to ask: enabling the extension, which the shell does without a dialog. It
    // knows only the extensions that were installed when the session began, and answers false
    // for one installed later.
    auto message = bus_.method("org.gnome.Shell", "/org/gnome/Shell",
                               "org.gnome.Shell.Extensions", "EnableExtension");
    if (!message) return failure(message.error());
    if (auto ok = check(sd_bus_message_append(message->get(), "s", kUuid), "EnableExtension"); !ok)
      return failure(ok.error());
    Call call;
    if (auto sent = bus_.call(*message, call, deadline, "EnableExtension"); !sent)
      return failure(sent.error());
    int enabled = 0;
    const auto reply = call.reply();
    if (!reply || sd_bus_message_read(*reply, "b", &enabled) < 0 || !enabled) return false;
    return answers(deadline);
  }

  Result<void> listWindows(const mirlet_content_sink& sink) override {
    auto message = bus_.method(kName, kPath, kInterface, "GetWindows");
    if (!message) return failure(message.error());
    Call call;
    const auto reply = ask(*message, call, Clock::now() + kAnswerTime, "the windows");
    if (!reply) return failure(reply.error());
    const std::string what = "the windows GNOME Shell listed";
    if (auto ok = check(sd_bus_message_enter_container(*reply, 'a', "(ussdddd)"), what); !ok)
      return ok;
    for (;;) {
      mirlet_window window{};
      const char* app = nullptr;
      const char* title = nullptr;
      const int read = sd_bus_message_read(*reply, "(ussdddd)", &window.id, &app, &title,
                                           &window.frame.x, &window.frame.y, &window.frame.width,
                                           &window.frame.height);
      if (auto ok = check(read, what); !ok) return ok;
      if (read == 0) break;
      window.app = app;
      window.app_length = std::strlen(app);
      window.title = title;
      window.title_length = std::strlen(title);
      sink.window(sink.context, &window);
    }
    return check(sd_bus_message_exit_container(*reply), what);
  }

  Result<pixels::Picture> captureWindow(std::uint32_t id, std::int64_t width,
                                        std::int64_t height) override {
    return capture("CaptureWindow", width, height, [&](sd_bus_message* message, int fd) {
      return sd_bus_message_append(message, "uh", id, fd);
    });
  }

  Result<pixels::Picture> captureArea(const mirlet_rect& frame, std::int64_t width,
                                      std::int64_t height) override {
    return capture("CaptureArea", width, height, [&](sd_bus_message* message, int fd) {
      return sd_bus_message_append(message, "(dddd)h", frame.x, frame.y, frame.width,
                                   frame.height, fd);
    });
  }

 private:
  // Whether the extension answers mirlet: it is enabled, and this is the executable it serves.
  Result<bool> answers(Clock::time_point deadline) {
    auto message = bus_.method(kName, kPath, kInterface, "Version");
    if (!message) return failure(message.error());
    Call call;
    if (auto sent = bus_.call(*message, call, deadline, "the extension's version"); !sent)
      return failure(sent.error());
    return !!call.reply();
  }

  // The reply to `message`, or why the extension gave none.
  Result<sd_bus_message*> ask(Message& message, Call& call, Clock::time_point deadline,
                              const std::string& what) {
    if (auto sent = bus_.call(message, call, deadline, what); !sent) return failure(sent.error());
    const auto reply = call.reply();
    if (reply) return reply;
    if (call.error() == "org.freedesktop.DBus.Error.ServiceUnknown")
      return failure("mirlet's GNOME Shell extension (" + std::string(kUuid) +
                     ") is not enabled");
    return failure("GNOME Shell, asked for " + what + ": " + reply.error());
  }

  // The pixels come in a memory file of mirlet's: the extension writes them there whole before
  // it answers, where a pipe would stall the shell's main loop until mirlet read it.
  template <class Append>
  Result<pixels::Picture> capture(const char* method, std::int64_t width, std::int64_t height,
                                  Append&& append) {
    Descriptor file{::memfd_create("mirlet-picture", MFD_CLOEXEC)};
    if (file.fd < 0) return failure(std::string("memfd_create: ") + std::strerror(errno));
    auto message = bus_.method(kName, kPath, kInterface, method);
    if (!message) return failure(message.error());
    if (auto ok = check(append(message->get(), file.fd), method); !ok) return failure(ok.error());
    Call call;
    const auto reply = ask(*message, call, Clock::now() + kPictureTime, "a picture");
    if (!reply) return failure(reply.error());
    const auto description = readDictionary(*reply);
    if (!description) return failure(description.error());
    const auto format = description->strings.find("format");
    if (format == description->strings.end() || format->second != "RGBA8888")
      return failure("GNOME Shell sent pixels in a format mirlet does not read");
    struct stat status {};
    if (::fstat(file.fd, &status) != 0)
      return failure(std::string("fstat: ") + std::strerror(errno));
    const auto layout = sentLayout(*description, true, static_cast<std::size_t>(status.st_size));
    if (!layout) return failure(layout.error());
    auto mapped = std::make_unique<Mapped>();
    mapped->size = layout->bytesPerRow * layout->height;
    mapped->address = ::mmap(nullptr, mapped->size, PROT_READ, MAP_PRIVATE, file.fd, 0);
    if (mapped->address == MAP_FAILED)
      return failure(std::string("mmap: ") + std::strerror(errno));
    const auto* pixels = static_cast<const std::uint8_t*>(mapped->address);
    pixels::Picture sent{{layout->width, layout->height, layout->bytesPerRow, pixels},
                         {mapped.release(), [](void* m) { delete static_cast<Mapped*>(m); }}};
    return fromSent(std::move(sent), layout->redFirst, width, height);
  }

  Bus bus_;
};

}  // namespace

std::unique_ptr<wayland::Desktop> gnomeDesktop(Bus bus) {
  return std::make_unique<GnomeDesktop>(std::move(bus));
}

}  // namespace mirlet::shell
