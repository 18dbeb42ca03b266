#include "mirlet/platform/linux/posix/run_loop.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

namespace mirlet::posix {
namespace {

std::system_error systemError(const char* what) {
  return std::system_error(errno, std::generic_category(), what);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

class EpollRunLoop final : public RunLoop {
 public:
  EpollRunLoop() : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wake_(::eventfd(0, EFD_CLOEXEC)) {
    if (epoll_.get() < 0) throw systemError("epoll_create1");
    if (wake_.get() < 0) throw systemError("eventfd");
    sigemptyset(&watched_);
    watch(wake_.get());
  }

  void holdSignals(std::initializer_list<int> signals) override {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : signals) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }

  void run() override {
    for (;;) {
      epoll_event events[4];
      const int count = ::epoll_wait(epoll_.get(), events, 4, -1);
      if (count < 0) {
        if (errno == EINTR) continue;
        return;
      }
      for (int i = 0; i < count; ++i) {
        if (events[i].data.fd == wake_.get()) runPostedTasks();
        else if (events[i].data.fd == signals_.get()) deliverSignals();
      }
    }
  }

  void post(std::function<void()> task) override {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    while (::write(wake_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  void watchSignal(int signal, std::function<void()> handler) override {
    post([this, signal, handler = std::move(handler)]() mutable {
      handlers_[signal] = std::move(handler);
      sigaddset(&watched_, signal);
      // A watched signal must never reach its default action on this thread.
      pthread_sigmask(SIG_BLOCK, &watched_, nullptr);
      const int fd = ::signalfd(signals_.get(), &watched_, SFD_CLOEXEC | SFD_NONBLOCK);
      if (fd < 0) return;  // the signal stays held: the process cannot be stopped by it, nor killed
      if (signals_.get() < 0) {
        signals_.reset(fd);
        watch(fd);
      }
    });
  }

 private:
  void watch(int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) < 0) throw systemError("epoll_ctl");
  }

  void runPostedTasks() {
    std::uint64_t count;
    while (::read(wake_.get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks) task();
  }

  void deliverSignals() {
    signalfd_siginfo info;
    while (::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      const auto handler = handlers_.find(static_cast<int>(info.ssi_signo));
      if (handler != handlers_.end()) handler->second();
    }
  }

  FileDescriptor epoll_;
  FileDescriptor wake_;
  FileDescriptor signals_;
  sigset_t watched_;                           // main thread only
  std::map<int, std::function<void()>> handlers_;  // main thread only
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

class ThreadExecutor final : public TaskExecutor {
 public:
  void async(std::function<void()> work) override { std::thread(std::move(work)).detach(); }
};

}  // namespace

std::unique_ptr<RunLoop> makeRunLoop() { return std::make_unique<EpollRunLoop>(); }
std::unique_ptr<TaskExecutor> makeThreadExecutor() { return std::make_unique<ThreadExecutor>(); }

}  // namespace mirlet::posix
