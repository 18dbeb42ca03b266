#pragma once
// Running real programs in end-to-end tests: build/mirlet itself, X clients, sound tools. Every
// program started here sees only the tests' private X and sound servers.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mirlet::testing {

using namespace std::chrono_literals;

// Environment changes for one program, made on its command line through env(1): a value sets the
// variable, nullopt removes it.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct RunResult {
  std::string out, err;
  int status = -1;  // exit status, when the program exited
  int signal = 0;   // the signal that ended it, when one did
  bool timedOut = false;
};

// A program running in the background with no signal held or ignored, its standard output and
// error going to memory files of their own. Killed (SIGKILL) and reaped when dropped.
class Process {
 public:
  static Process start(const std::vector<std::string>& argv, const EnvChanges& env = {},
                       const std::string& workdir = "");
  Process(Process&& other) noexcept;
  ~Process();

  pid_t pid() const { return pid_; }
  void signal(int signal) const;
  // The first line on standard output, without its line feed; nullopt on timeout or when the
  // program ended without one.
  std::optional<std::string> waitForLine(std::chrono::milliseconds timeout);
  // Waits for the program to end; kills it with SIGKILL after `timeout`.
  RunResult wait(std::chrono::milliseconds timeout = 20s);

 private:
  Process() = default;
  bool reap(bool block);
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0, out_ = -1, err_ = -1;
};

// Runs `argv` (for runMirlet, build/mirlet with `args`) to its end, standard input empty.
RunResult run(const std::vector<std::string>& argv, const EnvChanges& env = {},
              std::chrono::milliseconds timeout = 20s, const std::string& workdir = "");
RunResult runMirlet(const std::vector<std::string>& args, const EnvChanges& env = {},
                    std::chrono::milliseconds timeout = 20s, const std::string& workdir = "");
Process startMirlet(const std::vector<std::string>& args, const EnvChanges& env = {},
                    const std::string& workdir = "");
// The mirlet under test: build/mirlet, or on GNOME and KDE the fixture's copy of it, which the
// desktop's user may run wherever the build folder is.
std::string mirletBinary();
// `argv` as a program of the desktop runs it, with `env` applied: on GNOME and KDE, which look at
// which program asks them, as the desktop's user in exactly its environment; elsewhere as it is.
Process startOnDesktop(const std::vector<std::string>& argv, const EnvChanges& env = {},
                       const std::string& workdir = "");
RunResult runOnDesktop(const std::vector<std::string>& argv, const EnvChanges& env = {},
                       std::chrono::milliseconds timeout = 20s);
// Runs pactl on the tests' sound server; its output without the last line feed.
std::string pactl(const std::vector<std::string>& args);

// The private servers that the test fixture started (":N" and "unix:/...") and its folder. The
// first call also puts them into this process's environment, for every program started here.
// On the Wayland desktops the display is XWayland's, for X clients only: mirlet sees
// WAYLAND_DISPLAY (and on sway SWAYSOCK).
const std::string& testDisplay();
const std::string& testPulseServer();
const std::string& testServicesDir();
enum class DesktopKind { xvfb, sway, gnome, kde };
DesktopKind testDesktop();

// A fresh empty folder, removed with its contents when the holder goes; on GNOME and KDE it
// belongs to the desktop's user, whose programs write there.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Checks `condition` every 5 ms until it holds or `timeout` passes; its last answer.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

// A unix socket that takes connections into its backlog and never says a word.
class SilentSocket {
 public:
  explicit SilentSocket(const std::string& path);
  ~SilentSocket();
  SilentSocket(const SilentSocket&) = delete;
  bool ok() const { return ok_; }

 private:
  int fd_;
  bool ok_ = false;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
bool fileExists(const std::string& path);

}  // namespace mirlet::testing
