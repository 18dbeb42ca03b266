#include "mirlet/platform/linux/ffmpeg/m4a_writer.hpp"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "mirlet/platform/linux/ffmpeg/sample_timeline.hpp"

namespace mirlet::ffmpeg {
namespace {

// A killed recording loses what waits for the writer and the fragment still open.
static_assert(kBatchSeconds + AacFileSettings{}.fragmentMicroseconds / 1e6 < 1.0);

// What the capture thread, the stop path and the writer's thread share.
struct Shared {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<SampleBuffer> queue;
  std::int64_t queuedFrames = 0;
  std::int64_t capacityFrames = 0;
  std::int64_t batchFrames = 0;  // the writer's thread wakes for this much audio, or to finish
  int sampleRate = 0;
  int channels = 0;
  bool writing = false;         // startWriting ran
  bool inputFinished = false;   // markAsFinished ran, or the writer is finishing
  bool finishing = false;       // no more buffers will come: drain, close, complete
  std::optional<MediaTime> sessionStart;
  std::function<void()> completion;
  std::function<void(const std::string&)> failureHandler;
  bool failed = false;  // the failure handler ran
};

// The file cannot be written any more: says so once, and takes no more buffers.
void reportFailure(Shared& shared, const std::string& reason) {
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard lock(shared.mutex);
    shared.inputFinished = true;
    handler = std::move(shared.failureHandler);
    shared.failureHandler = nullptr;
    // Told of the failure, the caller is not told of a completion as well.
    shared.failed = static_cast<bool>(handler);
  }
  if (handler) handler(reason);
}

class M4aInput final : public AssetWriterInput {
 public:
  M4aInput(std::shared_ptr<Shared> shared, bool usable)
      : shared_(std::move(shared)), usable_(usable) {}

  // The input always behaves as a live one: it never makes its caller wait.
  void setExpectsMediaDataInRealTime(bool) override {}

  bool isReadyForMoreMediaData() const override {
    if (!usable_) return false;
    std::lock_guard lock(shared_->mutex);
    return !shared_->inputFinished && shared_->queuedFrames < shared_->capacityFrames;
  }

  bool appendSampleBuffer(const SampleBuffer& buffer) override {
    const auto frames = static_cast<std::int64_t>(buffer.frameCount());
    if (!usable_ || !buffer.isValid || frames == 0 || !buffer.presentationTimeStamp.isValid()) return false;
    std::lock_guard lock(shared_->mutex);
    if (!shared_->writing || shared_->inputFinished) return false;
    if (buffer.sampleRate != shared_->sampleRate || buffer.channelCount != shared_->channels)
      return false;
    if (shared_->queuedFrames >= shared_->capacityFrames) return false;
    shared_->queue.push_back(buffer);  // shares the samples, copies nothing
    shared_->queuedFrames += frames;
    if (shared_->queuedFrames >= shared_->batchFrames) shared_->wake.notify_one();
    return true;
  }

  void markAsFinished() override {
    std::lock_guard lock(shared_->mutex);
    shared_->inputFinished = true;
  }

 private:
  std::shared_ptr<Shared> shared_;
  bool usable_;  // false for settings other than the file's: such an input takes nothing
};

// The writer's thread: header, then every queued buffer at its place on the timeline, then the
// end of the file and the completion.
void writeFile(std::shared_ptr<Shared> shared, std::unique_ptr<AacFile> file) {
  // Started from the capture's thread, whose name it would otherwise carry.
  pthread_setname_np(pthread_self(), "mirlet.m4a");
  bool failed = false;
  if (auto header = file->begin(); !header) {
    failed = true;
    reportFailure(*shared, header.error().description);
  }
  std::optional<SampleTimeline> timeline;
  for (;;) {
    std::deque<SampleBuffer> batch;
    bool finishing;
    {
      std::unique_lock lock(shared->mutex);
      shared->wake.wait(lock, [&] {
        return shared->queuedFrames >= shared->batchFrames || shared->finishing;
      });
      batch.swap(shared->queue);
      shared->queuedFrames = 0;
      finishing = shared->finishing;
      if (!timeline && !batch.empty())
        timeline.emplace(shared->sampleRate,
                         shared->sessionStart.value_or(batch.front().presentationTimeStamp));
    }
    for (const SampleBuffer& buffer : batch) {
      if (failed) break;
      const auto frames = static_cast<std::int64_t>(buffer.frameCount());
      const Placement placement = timeline->place(buffer.presentationTimeStamp, frames);
      file->appendSilence(placement.silenceBefore);
      file->append(buffer.samples->data() + placement.skipFrames * buffer.channelCount,
                   frames - placement.skipFrames);
    }
    // Checked once a batch: a failure ends the recording within a quarter second.
    if (!failed && !batch.empty()) {
      if (auto written = file->check(); !written) {
        failed = true;
        reportFailure(*shared, written.error().description);
      }
    }
    if (finishing && batch.empty()) break;
  }
  if (auto ended = file->end(); !ended && !failed) reportFailure(*shared, ended.error().description);
  file.reset();
  std::function<void()> completion;
  {
    std::lock_guard lock(shared->mutex);
    if (!shared->failed) completion = std::move(shared->completion);
  }
  if (completion) completion();
}

class M4aWriter final : public AssetWriter {
 public:
  M4aWriter(std::unique_ptr<AacFile> file, const AacFileSettings& settings)
      : settings_(settings), shared_(std::make_shared<Shared>()), file_(std::move(file)) {
    shared_->sampleRate = settings.sampleRate;
    shared_->channels = settings.channels;
    shared_->capacityFrames = static_cast<std::int64_t>(kQueueSeconds * settings.sampleRate);
    shared_->batchFrames = static_cast<std::int64_t>(kBatchSeconds * settings.sampleRate);
  }

  ~M4aWriter() override {
    {
      std::lock_guard lock(shared_->mutex);
      shared_->inputFinished = true;
      shared_->finishing = true;
      shared_->wake.notify_one();
    }
    if (!worker_.joinable()) return;
    // A completion that drops the last reference runs on the worker itself.
    if (worker_.get_id() == std::this_thread::get_id()) worker_.detach();
    else worker_.join();
  }

  std::shared_ptr<AssetWriterInput> addAudioInput(const AudioOutputSettings& settings) override {
    // The encoder was opened with the file, so that a writer that exists can also encode.
    const bool usable = settings.formatID == fourCharCode("aac ") &&
                        settings.sampleRate == settings_.sampleRate &&
                        settings.numberOfChannels == settings_.channels &&
                        settings.encoderBitRate == settings_.bitRate;
    if (!input_) input_ = std::make_shared<M4aInput>(shared_, usable);
    return input_;
  }

  bool startWriting() override {
    std::lock_guard lock(shared_->mutex);
    if (shared_->writing || shared_->finishing) return false;
    shared_->writing = true;
    launch();
    return true;
  }

  void startSessionAtSourceTime(MediaTime sourceTime) override {
    std::lock_guard lock(shared_->mutex);
    if (!shared_->sessionStart) shared_->sessionStart = sourceTime;
  }

  void setFailureHandler(std::function<void(const std::string&)> handler) override {
    std::lock_guard lock(shared_->mutex);
    shared_->failureHandler = std::move(handler);
  }

  void finishWriting(std::function<void()> completion) override {
    std::lock_guard lock(shared_->mutex);
    if (shared_->finishing) return;  // the first call's completion is the one that runs
    shared_->finishing = true;
    shared_->inputFinished = true;
    shared_->completion = std::move(completion);
    // A writer that never started still leaves a valid, empty file.
    if (!worker_.joinable()) launch();
    shared_->wake.notify_one();
  }

 private:
  void launch() { worker_ = std::thread(writeFile, shared_, std::move(file_)); }

  AacFileSettings settings_;
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<AacFile> file_;
  std::shared_ptr<M4aInput> input_;
  std::thread worker_;
};

}  // namespace

Result<std::unique_ptr<AssetWriter>> makeM4aWriter(const std::string& path,
                                                   const AacFileSettings& settings) {
  auto file = AacFile::create(path, settings);
  if (!file) return std::unexpected(file.error());
  return std::make_unique<M4aWriter>(std::move(*file), settings);
}

}  // namespace mirlet::ffmpeg
