#include "mirlet/platform/linux/ffmpeg/m4a_writer.hpp"

#include <pthread.h>

#include <condition_variable>
#include <cstring>
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

// One recording's file. The capture thread calls ready/start/append, the stop path finish; the
// writer's thread does the rest.
class M4aFile {
 public:
  M4aFile(std::unique_ptr<AacFile> file, const AacFileSettings& settings, mirlet_reason_fn failed,
          void* context)
      : settings_(settings),
        capacityFrames_(static_cast<std::int64_t>(kQueueSeconds * settings.sampleRate)),
        batchFrames_(static_cast<std::int64_t>(kBatchSeconds * settings.sampleRate)),
        onFailure_(failed),
        failureContext_(context),
        file_(std::move(file)) {}

  ~M4aFile() {
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

  bool append(const float* samples, std::int64_t frames, int rate, int channels, MediaTime time) {
    if (frames <= 0 || !time.isValid() || rate != settings_.sampleRate ||
        channels != settings_.channels)
      return false;
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

  void finish(mirlet_done_fn done, void* context) {
    std::lock_guard lock(mutex_);
    if (finishing_) return;  // the first call's completion is the one that runs
    finishing_ = inputFinished_ = true;
    done_ = done;
    doneContext_ = context;
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
    if (onFailure_ != nullptr) onFailure_(failureContext_, reason.c_str());
  }

  // The writer's thread: header, then every queued buffer at its place on the timeline, then the
  // end of the file and the completion.
  void write() {
    // Started from the capture's thread, whose name it would otherwise carry.
    pthread_setname_np(pthread_self(), "mirlet.m4a");
    std::unique_ptr<AacFile> file = std::move(file_);
    if (auto header = file->begin(); !header) fail(header.error().description);
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
        if (auto written = file->check(); !written) fail(written.error().description);
      }
      if (last && batch.empty()) break;
    }
    if (auto ended = file->end(); !ended && !hasFailed_) fail(ended.error().description);
    file.reset();
    mirlet_done_fn done = nullptr;
    void* context = nullptr;
    {
      std::lock_guard lock(mutex_);
      // Told of a failure, the caller is not told of a completion as well.
      if (!hasFailed_ || onFailure_ == nullptr) {
        done = done_;
        context = doneContext_;
      }
    }
    if (done != nullptr) done(context);
  }

  const AacFileSettings settings_;
  const std::int64_t capacityFrames_;
  const std::int64_t batchFrames_;  // the writer's thread wakes for this much audio, or to finish
  const mirlet_reason_fn onFailure_;
  void* const failureContext_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Queued> queue_;
  std::int64_t queuedFrames_ = 0;
  bool writing_ = false;        // start ran
  bool inputFinished_ = false;  // no more audio is taken
  bool finishing_ = false;      // no more audio will come: drain, close, complete
  bool hasFailed_ = false;  // the failure was reported; set and read on the writer's thread
  std::optional<MediaTime> sessionStart_;
  mirlet_done_fn done_ = nullptr;
  void* doneContext_ = nullptr;
  std::unique_ptr<AacFile> file_;  // handed to the writer's thread
  std::thread worker_;
};

M4aFile* unwrap(mirlet_audio_file* file) { return reinterpret_cast<M4aFile*>(file); }
const M4aFile* unwrap(const mirlet_audio_file* file) {
  return reinterpret_cast<const M4aFile*>(file);
}

void copyReason(const std::string& text, char* reason, std::size_t size) {
  if (reason == nullptr || size == 0) return;
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(reason, text.data(), length);
  reason[length] = '\0';
}

mirlet_audio_file* create(const char* path, int sampleRate, int channels, int bitRate,
                          mirlet_reason_fn failed, void* context, char* reason, std::size_t size) {
  AacFileSettings settings;
  settings.sampleRate = sampleRate;
  settings.channels = channels;
  settings.bitRate = bitRate;
  auto file = AacFile::create(path, settings);
  if (!file) {
    copyReason(file.error().description, reason, size);
    return nullptr;
  }
  return reinterpret_cast<mirlet_audio_file*>(
      new M4aFile(std::move(*file), settings, failed, context));
}

}  // namespace

const loadable::FfmpegModule* m4aModule() {
  static constexpr loadable::FfmpegModule module{
      &create,
      [](const mirlet_audio_file* file) -> int { return unwrap(file)->ready() ? 1 : 0; },
      [](mirlet_audio_file* file, std::int64_t time, std::int32_t timescale) {
        unwrap(file)->start(MediaTime{time, timescale});
      },
      [](mirlet_audio_file* file, const float* samples, std::int64_t frames, int rate,
         int channels, std::int64_t time, std::int32_t timescale) -> int {
        return unwrap(file)->append(samples, frames, rate, channels, MediaTime{time, timescale})
                   ? 1
                   : 0;
      },
      [](mirlet_audio_file* file, mirlet_done_fn done, void* context) {
        unwrap(file)->finish(done, context);
      },
      [](mirlet_audio_file* file) { delete unwrap(file); },
  };
  return &module;
}

}  // namespace mirlet::ffmpeg
