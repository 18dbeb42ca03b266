#pragma once
// Running real programs in end-to-end tests: build/mirlet itself, X clients, sound tools. Every
// program started here sees only the tests' private X and sound servers.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace mirlet::testing {

using namespace std::chrono_literals;

// Environment changes for one program: a value sets the variable, nullopt removes it.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;      // exit status, when the program exited
  int signal = 0;       // the signal that ended it, when one did
  bool timedOut = false;
};

// A program running in the background, its standard output and error going to files of their
// own. Killed (SIGKILL) and reaped when dropped.
class Process {
 public:
  static Process start(const std::vector<std::string>& argv, const EnvChanges& env = {},
                       const std::string& workdir = "");
  Process(Process&&) noexcept;
  Process& operator=(Process&&) noexcept;
  ~Process();

  pid_t pid() const;
  void signal(int signal) const;
  // Waits for the first line on standard output (without its line feed); nullopt on timeout or
  // when the program ended without one.
  std::optional<std::string> waitForLine(std::chrono::milliseconds timeout);
  // Waits for the program to end; kills it with SIGKILL after `timeout`.
  RunResult wait(std::chrono::milliseconds timeout = 20s);
  std::string errorSoFar() const;

 private:
  struct State;
  explicit Process(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Runs `argv` to its end, standard input empty.
RunResult run(const std::vector<std::string>& argv, const EnvChanges& env = {},
              std::chrono::milliseconds timeout = 20s, const std::string& workdir = "");

// Runs build/mirlet with `args` (the command word first).
RunResult runMirlet(const std::vector<std::string>& args, const EnvChanges& env = {},
                    std::chrono::milliseconds timeout = 20s, const std::string& workdir = "");
std::string mirletBinary();

// The private servers that the test fixture started (":N" and "unix:/..."). The first call also
// puts them into this process's environment, so every program started here uses them.
const std::string& testDisplay();
const std::string& testPulseServer();
// The fixture's folder, for scripts/test-services.sh.
const std::string& testServicesDir();

// A fresh empty folder, removed with its contents when the returned holder goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Checks `condition` every 5 ms until it holds or `timeout` passes; its last answer.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s);

// A unix socket that takes connections into its backlog and never says a word: a server that
// hangs.
class SilentSocket {
 public:
  explicit SilentSocket(const std::string& path);
  ~SilentSocket();
  SilentSocket(const SilentSocket&) = delete;
  SilentSocket& operator=(const SilentSocket&) = delete;
  bool ok() const { return ok_; }

 private:
  int fd_;
  bool ok_ = false;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
bool fileExists(const std::string& path);

}  // namespace mirlet::testing
