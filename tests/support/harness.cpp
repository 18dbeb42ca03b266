#include "support/harness.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace mirlet::testing {
namespace {

// CTest runs tests once more against other desktops and names their folder here.
std::string chosenServicesDir() {
  const char* chosen = std::getenv("MIRLET_SERVICES_DIR");
  return chosen != nullptr && *chosen != '\0' ? chosen : MIRLET_SERVICES_DIR;
}

struct TestServers {
  std::string dir, display, pulseServer, desktop;
  // GNOME and KDE: the environment of a program there, its user (uid:gid) and mirlet's copy.
  std::vector<std::string> desktopEnv;
  std::string desktopUser, mirlet;
  TestServers() {
    dir = chosenServicesDir();
    const auto firstLine = [&](const char* name) {
      const std::string text = readFile(dir + "/" + name);
      return text.substr(0, text.find('\n'));
    };
    display = firstLine("display");
    pulseServer = firstLine("pulse-server");
    desktop = firstLine("desktop");
    if (display.empty() || pulseServer.empty())
      throw std::runtime_error("the private test servers are not running (" + dir + ")");
    ::setenv("PULSE_SERVER", pulseServer.c_str(), 1);
    ::setenv("PULSE_CLIENTCONFIG", (dir + "/client.conf").c_str(), 1);
    // Nothing started from here may reach the user's own session, its display or its bus.
    for (const char* name : {"WAYLAND_DISPLAY", "SWAYSOCK", "DISPLAY", "XAUTHORITY",
                             "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"})
      ::unsetenv(name);
    if (desktop == "gnome" || desktop == "kde") {
      std::istringstream lines(readFile(dir + "/env"));
      for (std::string line; std::getline(lines, line);)
        if (!line.empty()) desktopEnv.push_back(line);
      desktopUser = firstLine("desktop-user");
      mirlet = firstLine("mirlet");
      if (desktopEnv.empty() || desktopUser.empty() || mirlet.empty())
        throw std::runtime_error("the " + desktop + " desktop in " + dir + " is incomplete");
      // The tests' own X clients go to its Xwayland.
      ::setenv("DISPLAY", display.c_str(), 1);
    } else if (desktop == "sway") {
      // A Wayland session as sway gives its clients, but without DISPLAY: mirlet must not need
      // XWayland there. The X clients of the tests get it themselves.
      ::setenv("WAYLAND_DISPLAY", firstLine("wayland-display").c_str(), 1);
      ::setenv("SWAYSOCK", firstLine("swaysock").c_str(), 1);
    } else {
      desktop = "xvfb";
      ::setenv("DISPLAY", display.c_str(), 1);
    }
  }
};

const TestServers& servers() {
  static const TestServers instance;
  return instance;
}

std::string contents(int fd) { return readFile("/proc/self/fd/" + std::to_string(fd)); }

}  // namespace

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), reaped_(other.reaped_), status_(other.status_),
      out_(std::exchange(other.out_, -1)), err_(std::exchange(other.err_, -1)) {}

Process::~Process() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  for (int fd : {out_, err_})
    if (fd >= 0) ::close(fd);
}

// Once reaped, never asked again: the id may already belong to another child.
bool Process::reap(bool block) {
  pid_t result = 0;
  const int options = block ? 0 : WNOHANG;
  while (!reaped_ && (result = ::waitpid(pid_, &status_, options)) < 0 && errno == EINTR) {
  }
  return reaped_ = reaped_ || result == pid_;
}

Process Process::start(const std::vector<std::string>& argv, const EnvChanges& env,
                       const std::string& workdir) {
  servers();
  Process process;
  process.out_ = ::memfd_create("stdout", MFD_CLOEXEC);
  process.err_ = ::memfd_create("stderr", MFD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, process.out_, 1);
  posix_spawn_file_actions_adddup2(&actions, process.err_, 2);
  if (!workdir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> args;
  if (!env.empty()) args.push_back("env");
  for (const auto& [name, value] : env)
    if (value) args.push_back(name + "=" + *value);
    else args.insert(args.begin() + 1, {"-u", name});
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char*> pointers;
  for (auto& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const int error = ::posix_spawnp(&process.pid_, args[0].c_str(), &actions, &attributes,
                                   pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (process.out_ < 0 || process.err_ < 0 || error != 0)
    throw std::runtime_error("cannot start " + argv.at(0) + ": " + std::strerror(error));
  return process;
}

void Process::signal(int signal) const {
  if (!reaped_) ::kill(pid_, signal);
}

std::optional<std::string> Process::waitForLine(std::chrono::milliseconds timeout) {
  const auto line = [&] { return contents(out_).find('\n') != std::string::npos; };
  eventually([&] { return line() || reap(false); }, timeout);
  const std::string out = contents(out_);
  if (!line()) return std::nullopt;
  return out.substr(0, out.find('\n'));
}

RunResult Process::wait(std::chrono::milliseconds timeout) {
  RunResult result;
  if (!eventually([&] { return reap(false); }, timeout)) {
    result.timedOut = true;
    ::kill(pid_, SIGKILL);
    reap(true);
  }
  result.out = contents(out_);
  result.err = contents(err_);
  if (WIFEXITED(status_)) result.status = WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) result.signal = WTERMSIG(status_);
  return result;
}

RunResult run(const std::vector<std::string>& argv, const EnvChanges& env,
              std::chrono::milliseconds timeout, const std::string& workdir) {
  return Process::start(argv, env, workdir).wait(timeout);
}

std::string mirletBinary() {
  return servers().mirlet.empty() ? MIRLET_BINARY : servers().mirlet;
}

Process startOnDesktop(const std::vector<std::string>& argv, const EnvChanges& env,
                       const std::string& workdir) {
  const TestServers& s = servers();
  if (s.desktopEnv.empty()) return Process::start(argv, env, workdir);
  std::vector<std::string> wrapped;
  const std::string uid = s.desktopUser.substr(0, s.desktopUser.find(':'));
  if (uid != std::to_string(::getuid()))
    wrapped = {"setpriv", "--reuid", uid, "--regid", s.desktopUser.substr(uid.size() + 1),
               "--clear-groups"};
  wrapped.insert(wrapped.end(), {"env", "-i"});
  const auto changed = [&](const std::string& line) {
    return std::ranges::any_of(env, [&](const auto& change) {
      return line.starts_with(change.first + "=");
    });
  };
  for (const std::string& line : s.desktopEnv)
    if (!changed(line)) wrapped.push_back(line);
  // The sanitizers' settings of a sanitizer build's run.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
    if (const char* value = std::getenv(name)) wrapped.push_back(std::string(name) + "=" + value);
  for (const auto& [name, value] : env)
    if (value) wrapped.push_back(name + "=" + *value);
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return Process::start(wrapped, {}, workdir);
}

RunResult runOnDesktop(const std::vector<std::string>& argv, const EnvChanges& env,
                       std::chrono::milliseconds timeout) {
  return startOnDesktop(argv, env).wait(timeout);
}

Process startMirlet(const std::vector<std::string>& args, const EnvChanges& env,
                    const std::string& workdir) {
  std::vector<std::string> argv{mirletBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return startOnDesktop(argv, env, workdir);
}

RunResult runMirlet(const std::vector<std::string>& args, const EnvChanges& env,
                    std::chrono::milliseconds timeout, const std::string& workdir) {
  return startMirlet(args, env, workdir).wait(timeout);
}

std::string pactl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"pactl"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string out = run(argv).out;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

const std::string& testDisplay() { return servers().display; }
const std::string& testPulseServer() { return servers().pulseServer; }
const std::string& testServicesDir() { return servers().dir; }
DesktopKind testDesktop() {
  const std::string& desktop = servers().desktop;
  return desktop == "sway"    ? DesktopKind::sway
         : desktop == "gnome" ? DesktopKind::gnome
         : desktop == "kde"   ? DesktopKind::kde
                              : DesktopKind::xvfb;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mirlet-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  // Read here rather than through the fixture's set-up: the unit tests have no desktop.
  const std::string user = readFile(chosenServicesDir() + "/desktop-user");
  if (!user.empty() &&
      ::chown(path_.c_str(), std::stoi(user), std::stoi(user.substr(user.find(':') + 1))) != 0)
    throw std::runtime_error("cannot give " + path_ + " to the desktop's user");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

SilentSocket::SilentSocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  // Any user may connect: mirlet may run as the desktop's.
  ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::chmod(path.c_str(), 0777) == 0 && ::listen(fd_, 16) == 0;
}

SilentSocket::~SilentSocket() { ::close(fd_); }

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

std::string readFile(const std::string& path) {
  std::ostringstream contents;
  contents << std::ifstream(path, std::ios::binary).rdbuf();
  return contents.str();
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

bool fileExists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace mirlet::testing
