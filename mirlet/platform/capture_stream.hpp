#pragma once
// A running capture and the buffers it delivers.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "mirlet/platform/async.hpp"
#include "mirlet/platform/media_time.hpp"

namespace mirlet {

enum class StreamOutputType : int { screen = 0, audio = 1, microphone = 2 };

// One buffer of captured audio: interleaved 32-bit float samples. The samples are shared, not
// copied, by whoever keeps the buffer beyond the callback that delivered it.
struct SampleBuffer {
  bool isValid = false;
  MediaTime presentationTimeStamp;
  int sampleRate = 0;
  int channelCount = 0;
  std::shared_ptr<const std::vector<float>> samples;

  std::size_t frameCount() const {
    return samples && channelCount > 0 ? samples->size() / static_cast<std::size_t>(channelCount)
                                       : 0;
  }
};

class CaptureStream;

// Receives a stream's buffers, one call at a time, in order, on the stream's sample handler queue.
class StreamOutput {
 public:
  virtual ~StreamOutput() = default;
  virtual void didOutputSampleBuffer(CaptureStream& stream, const SampleBuffer& buffer,
                                     StreamOutputType type) = 0;
};

// Told about a stream's life. Every callback is optional.
class StreamDelegate {
 public:
  virtual ~StreamDelegate() = default;
  virtual void didStopWithError(CaptureStream&, const Error&) {}
};

class CaptureStream {
 public:
  virtual ~CaptureStream() = default;

  // Attaches `output` for buffers of `type`, delivered on a serial queue (a thread) that carries
  // `sampleHandlerQueueLabel` as its name.
  virtual Result<void> addStreamOutput(std::shared_ptr<StreamOutput> output, StreamOutputType type,
                                       const std::string& sampleHandlerQueueLabel) = 0;

  // Each completes exactly once. After stopCapture's completion no buffer callback is running or
  // will start.
  virtual void startCapture(Completion<void> completion) = 0;
  virtual void stopCapture(Completion<void> completion) = 0;
};

}  // namespace mirlet
