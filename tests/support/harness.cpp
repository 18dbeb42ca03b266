#include "support/harness.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/mman.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace mirlet::testing {
namespace {

std::string firstLineOf(const std::string& path) {
  const std::string text = readFile(path);
  return text.substr(0, text.find('\n'));
}

struct TestServers {
  std::string dir;
  std::string display;
  std::string pulseServer;
  TestServers() {
    // CTest runs the sound tests once more against a second desktop and names its folder here.
    const char* chosen = std::getenv("MIRLET_SERVICES_DIR");
    dir = chosen != nullptr && *chosen != '\0' ? chosen : MIRLET_SERVICES_DIR;
    display = firstLineOf(dir + "/display");
    pulseServer = firstLineOf(dir + "/pulse-server");
    if (display.empty() || pulseServer.empty())
      throw std::runtime_error("the private test servers are not running (" + dir + ")");
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("PULSE_SERVER", pulseServer.c_str(), 1);
    ::setenv("PULSE_CLIENTCONFIG", (dir + "/client.conf").c_str(), 1);
    // Nothing started from here may reach the user's own session.
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("XAUTHORITY");
  }
};

const TestServers& servers() {
  static const TestServers instance;
  return instance;
}

// The program's output goes to files of its own, read when asked for: no reader threads.
int outputFile(const char* name) {
  const int fd = ::memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error("memfd_create failed");
  return fd;
}

std::string contents(int fd) { return readFile("/proc/self/fd/" + std::to_string(fd)); }

}  // namespace

struct Process::State {
  pid_t pid = -1;
  bool reaped = false;
  int waitStatus = 0;
  int out = -1;
  int err = -1;

  bool reap(bool block) {
    while (!reaped) {
      const pid_t result = ::waitpid(pid, &waitStatus, block ? 0 : WNOHANG);
      if (result == pid) reaped = true;
      if (result == pid || (result < 0 && errno != EINTR) || result == 0) break;
    }
    return reaped;
  }
  ~State() {
    if (pid > 0 && !reaped) {
      ::kill(pid, SIGKILL);
      reap(true);
    }
    if (out >= 0) ::close(out);
    if (err >= 0) ::close(err);
  }
};

Process::Process(std::unique_ptr<State> state) : state_(std::move(state)) {}
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;
Process::~Process() = default;

Process Process::start(const std::vector<std::string>& argv, const EnvChanges& env,
                       const std::string& workdir) {
  servers();
  auto state = std::make_unique<State>();
  state->out = outputFile("stdout");
  state->err = outputFile("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, state->out, 1);
  posix_spawn_file_actions_adddup2(&actions, state->err, 2);
  if (!workdir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());
  // The child starts with no signal held or ignored, whatever this test process does.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  // Environment changes go on the command line, through env(1).
  std::vector<std::string> args;
  if (!env.empty()) args.push_back("env");
  for (const auto& [name, value] : env)
    if (!value) args.insert(args.end(), {"-u", name});
  for (const auto& [name, value] : env)
    if (value) args.push_back(name + "=" + *value);
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char*> pointers;
  for (auto& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const int error = ::posix_spawnp(&state->pid, args.at(0).c_str(), &actions, &attributes,
                                   pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(error));
  return Process(std::move(state));
}

pid_t Process::pid() const { return state_->pid; }

void Process::signal(int signal) const {
  if (!state_->reaped) ::kill(state_->pid, signal);
}

std::optional<std::string> Process::waitForLine(std::chrono::milliseconds timeout) {
  std::string out;
  eventually([&] {
    out = contents(state_->out);
    return out.find('\n') != std::string::npos || state_->reap(false);
  }, timeout);
  out = contents(state_->out);
  const auto end = out.find('\n');
  if (end == std::string::npos) return std::nullopt;
  return out.substr(0, end);
}

RunResult Process::wait(std::chrono::milliseconds timeout) {
  RunResult result;
  if (!eventually([&] { return state_->reap(false); }, timeout)) {
    result.timedOut = true;
    ::kill(state_->pid, SIGKILL);
    state_->reap(true);
  }
  result.out = contents(state_->out);
  result.err = contents(state_->err);
  if (WIFEXITED(state_->waitStatus)) result.status = WEXITSTATUS(state_->waitStatus);
  if (WIFSIGNALED(state_->waitStatus)) result.signal = WTERMSIG(state_->waitStatus);
  return result;
}

std::string Process::errorSoFar() const { return contents(state_->err); }

RunResult run(const std::vector<std::string>& argv, const EnvChanges& env,
              std::chrono::milliseconds timeout, const std::string& workdir) {
  return Process::start(argv, env, workdir).wait(timeout);
}

std::string mirletBinary() { return MIRLET_BINARY; }

RunResult runMirlet(const std::vector<std::string>& args, const EnvChanges& env,
                    std::chrono::milliseconds timeout, const std::string& workdir) {
  std::vector<std::string> argv{mirletBinary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, env, timeout, workdir);
}

const std::string& testDisplay() { return servers().display; }
const std::string& testPulseServer() { return servers().pulseServer; }
const std::string& testServicesDir() { return servers().dir; }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mirlet-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

SilentSocket::SilentSocket(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(fd_, 16) == 0;
}

SilentSocket::~SilentSocket() {
  if (fd_ >= 0) ::close(fd_);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(5ms);
  }
}

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream contents;
  contents << file.rdbuf();
  return contents.str();
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary);
  file << contents;
}

bool fileExists(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace mirlet::testing
