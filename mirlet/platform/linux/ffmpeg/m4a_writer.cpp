#include "mirlet/platform/linux/ffmpeg/m4a_writer.hpp"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "mirlet/platform/linux/ffmpeg/sample_timeline.hpp"

namespace mirlet::ffmpeg {
namespace {

// A killed recording loses what waits for the writer and the fragment still open.
static_assert(kBatchSeconds + AacFileSettings{}.fragmentMicroseconds / 1e6 < 1.0);

struct Queued {
  MediaTime time;
  std::int64_t frames = 0;
  std::vector<float> samples;  // empty for silence
};

}  // namespace

// The queue and the writer's thread behind an M4aFile.
class M4aFile::Writer {
 public:
  Writer(std::unique_ptr<AacFile> file, const AacFileSettings& settings, mirlet_reason_sink failed)
      : settings_(settings),
        capacityFrames_(static_cast<std::int64_t>(kQueueSeconds * settings.sampleRate)),
        batchFrames_(static_cast<std::int64_t>(kBatchSeconds * settings.sampleRate)),
        onFailure_(failed),
        file_(std::move(file)) {}

  ~Writer() {
    {
      std::lock_guard lock(mutex_);
      inputFinished_ = finishing_ = true;
      wake_.notify_one();
    }
    if (!worker_.joinable()) return;
    // A completion that drops the file runs on the worker itself.
    if (worker_.get_id() == std::this_thread::get_id()) worker_.detach();
    else worker_.join();
  }

  bool ready() const {
    std::lock_guard lock(mutex_);
    return !inputFinished_ && queuedFrames_ < capacityFrames_;
  }

  void start(MediaTime time) {
    std::lock_guard lock(mutex_);
    if (writing_ || finishing_) return;
    writing_ = true;
    sessionStart_ = time;
    launch();
  }

  bool append(const float* samples, std::int64_t frames, MediaTime time) {
    const int channels = settings_.channels;
    if (frames <= 0 || !time.isValid()) return false;
    std::lock_guard lock(mutex_);
    if (!writing_ || inputFinished_ || queuedFrames_ >= capacityFrames_) return false;
    Queued& queued = queue_.emplace_back();
    queued.time = time;
    queued.frames = frames;
    if (samples != nullptr) queued.samples.assign(samples, samples + frames * channels);
    queuedFrames_ += frames;
    if (queuedFrames_ >= batchFrames_) wake_.notify_one();
    return true;
  }

  void finish(mirlet_done_sink done) {
    std::lock_guard lock(mutex_);
    if (finishing_) return;  // the first call's completion is the one that runs
    finishing_ = inputFinished_ = true;
    done_ = done;
    // A file that never started is still left valid and empty.
    if (!worker_.joinable()) launch();
    wake_.notify_one();
  }

 private:
  void launch() { worker_ = std::thread([this] { write(); }); }

  // The file cannot be written any more: said once, and nothing more is taken.
  void fail(const std::string& reason) {
    {
      std::lock_guard lock(mutex_);
      inputFinished_ = true;
      hasFailed_ = true;
    }
    if (onFailure_.reason != nullptr) onFailure_.reason(onFailure_.context, reason.c_str());
  }

  // The writer's thread: header, then every queued buffer at its place on the timeline, then the
  // end of the file and the completion.
  void write() {
    // Started from the capture's thread, whose name it would otherwise carry.
    pthread_setname_np(pthread_self(), "mirlet.m4a");
    std::unique_ptr<AacFile> file = std::move(file_);
    if (auto header = file->begin(); !header) fail(header.error());
    std::optional<SampleTimeline> timeline;
    for (;;) {
      std::deque<Queued> batch;
      bool last;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [&] { return queuedFrames_ >= batchFrames_ || finishing_; });
        batch.swap(queue_);
        queuedFrames_ = 0;
        last = finishing_;
        if (!timeline && !batch.empty())
          timeline.emplace(settings_.sampleRate, sessionStart_.value_or(batch.front().time));
      }
      for (const Queued& queued : batch) {
        if (hasFailed_) break;
        const Placement placement = timeline->place(queued.time, queued.frames);
        file->appendSilence(placement.silenceBefore);
        if (queued.samples.empty())
          file->appendSilence(queued.frames - placement.skipFrames);
        else
          file->append(queued.samples.data() + placement.skipFrames * settings_.channels,
                       queued.frames - placement.skipFrames);
      }
      // Checked once a batch: a failure ends the recording within a quarter second.
      if (!hasFailed_ && !batch.empty()) {
        if (auto written = file->check(); !written) fail(written.error());
      }
      if (last && batch.empty()) break;
    }
    if (auto ended = file->end(); !ended && !hasFailed_) fail(ended.error());
    file.reset();
    mirlet_done_sink done{};
    {
      std::lock_guard lock(mutex_);
      // Told of a failure, the caller is not told of a completion as well.
      if (!hasFailed_ || onFailure_.reason == nullptr) done = done_;
    }
    if (done.done != nullptr) done.done(done.context);
  }

  const AacFileSettings settings_;
  const std::int64_t capacityFrames_;
  const std::int64_t batchFrames_;  // the writer's thread wakes for this much audio, or to finish
  const mirlet_reason_sink onFailure_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Queued> queue_;
  std::int64_t queuedFrames_ = 0;
  bool writing_ = false;        // start ran
  bool inputFinished_ = false;  // no more audio is taken
  bool finishing_ = false;      // no more audio will come: drain, close, complete
  bool hasFailed_ = false;  // the failure was reported; set and read on the writer's thread
  std::optional<MediaTime> sessionStart_;
  mirlet_done_sink done_{};
  std::unique_ptr<AacFile> file_;  // handed to the writer's thread
  std::thread worker_;
};

Result<std::unique_ptr<M4aFile>> M4aFile::create(const std::string& path,
                                                 const AacFileSettings& settings,
                                                 mirlet_reason_sink failed) {
  auto file = AacFile::create(path, settings);
  if (!file) return failure(file.error());
  return std::unique_ptr<M4aFile>(
      new M4aFile(std::make_unique<Writer>(std::move(*file), settings, failed)));
}

M4aFile::M4aFile(std::unique_ptr<Writer> writer) : writer_(std::move(writer)) {}
M4aFile::~M4aFile() = default;
bool M4aFile::ready() const { return writer_->ready(); }
void M4aFile::start(MediaTime time) { writer_->start(time); }
bool M4aFile::append(const float* samples, std::int64_t frames, MediaTime time) {
  return writer_->append(samples, frames, time);
}
void M4aFile::finish(mirlet_done_sink done) { writer_->finish(done); }

}  // namespace mirlet::ffmpeg
