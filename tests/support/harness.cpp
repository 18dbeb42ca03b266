#include "support/harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace mirlet::testing {
namespace {

std::string firstLineOf(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
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

std::vector<std::string> environmentWith(const EnvChanges& changes) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const auto equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const auto& [name, value] : changes) {
    if (value) variables[name] = *value;
    else variables.erase(name);
  }
  std::vector<std::string> result;
  for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
  return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

}  // namespace

struct Process::State {
  pid_t pid = -1;
  bool reaped = false;
  int waitStatus = 0;
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::string out;
  std::string err;
  int openPipes = 2;
  std::thread outReader;
  std::thread errReader;

  void readInto(int fd, std::string State::*target) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::lock_guard lock(mutex);
      (this->*target).append(buffer, static_cast<std::size_t>(n));
      changed.notify_all();
    }
    ::close(fd);
    std::lock_guard lock(mutex);
    --openPipes;
    changed.notify_all();
  }

  void reap(bool block) {
    if (reaped) return;
    int status = 0;
    pid_t result;
    do {
      result = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == pid) {
      reaped = true;
      waitStatus = status;
    }
  }
};

Process::Process(std::unique_ptr<State> state) : state_(std::move(state)) {}
Process::Process(Process&&) noexcept = default;
Process& Process::operator=(Process&&) noexcept = default;

Process::~Process() {
  if (!state_) return;
  if (!state_->reaped) {
    ::kill(state_->pid, SIGKILL);
    state_->reap(true);
  }
  if (state_->outReader.joinable()) state_->outReader.join();
  if (state_->errReader.joinable()) state_->errReader.join();
}

Process Process::start(const std::vector<std::string>& argv, const EnvChanges& env,
                       const std::string& workdir) {
  servers();
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
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

  std::vector<std::string> args = argv;
  std::vector<std::string> envStrings = environmentWith(env);
  auto argPointers = pointers(args);
  auto envPointers = pointers(envStrings);
  auto state = std::make_unique<State>();
  const int error = ::posix_spawnp(&state->pid, args.at(0).c_str(), &actions, &attributes,
                                   argPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (error != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(error));
  }
  State* raw = state.get();
  state->outReader = std::thread([raw, fd = outPipe[0]] { raw->readInto(fd, &State::out); });
  state->errReader = std::thread([raw, fd = errPipe[0]] { raw->readInto(fd, &State::err); });
  return Process(std::move(state));
}

pid_t Process::pid() const { return state_->pid; }

void Process::signal(int signal) const {
  if (!state_->reaped) ::kill(state_->pid, signal);
}

std::optional<std::string> Process::waitForLine(std::chrono::milliseconds timeout) {
  std::unique_lock lock(state_->mutex);
  const bool found = state_->changed.wait_for(lock, timeout, [&] {
    return state_->out.find('\n') != std::string::npos || state_->openPipes == 0;
  });
  const auto end = state_->out.find('\n');
  if (!found || end == std::string::npos) return std::nullopt;
  return state_->out.substr(0, end);
}

RunResult Process::wait(std::chrono::milliseconds timeout) {
  RunResult result;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!state_->reaped) {
    state_->reap(false);
    if (state_->reaped) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      result.timedOut = true;
      ::kill(state_->pid, SIGKILL);
      state_->reap(true);
      break;
    }
    std::this_thread::sleep_for(5ms);
  }
  if (state_->outReader.joinable()) state_->outReader.join();
  if (state_->errReader.joinable()) state_->errReader.join();
  std::lock_guard lock(state_->mutex);
  result.out = state_->out;
  result.err = state_->err;
  if (WIFEXITED(state_->waitStatus)) result.status = WEXITSTATUS(state_->waitStatus);
  if (WIFSIGNALED(state_->waitStatus)) result.signal = WTERMSIG(state_->waitStatus);
  return result;
}

std::string Process::errorSoFar() const {
  std::lock_guard lock(state_->mutex);
  return state_->err;
}

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
    std::this_thread::sleep_for(20ms);
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
