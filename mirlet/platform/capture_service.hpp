#pragma once
// What the recording still asks of the capture service: the displays, and an audio stream over a
// filter of one of them. Only `recordAudio` and its stream use this; the screen commands use
// ScreenCapture. It goes with the recording's own seam.

#include <memory>
#include <string>
#include <vector>

#include "mirlet/platform/async.hpp"
#include "mirlet/platform/capture_stream.hpp"
#include "mirlet/platform/media_time.hpp"
#include "mirlet/platform/screen_capture.hpp"

namespace mirlet {

using ShareableContent = Content;

struct RunningApplication {
  std::string applicationName;
};

// The display a stream is made over, less nothing: the one kind the recording asks for.
struct ContentFilter {
  enum class Kind { displayExcludingApplications };
  Kind kind = Kind::displayExcludingApplications;
  Display display;
  std::vector<Window> windows;
  std::vector<RunningApplication> applications;

  static ContentFilter displayExcludingApplications(const Display& display,
                                                    std::vector<RunningApplication> excluded,
                                                    std::vector<Window> excepting) {
    return ContentFilter{Kind::displayExcludingApplications, display, std::move(excepting),
                         std::move(excluded)};
  }
};

// Settings of the stream; the audio stream reads only the sample rate and the channel count.
struct StreamConfiguration {
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool capturesAudio = false;
  int sampleRate = 48000;
  int channelCount = 2;
  MediaTime minimumFrameInterval;
};

class CaptureService {
 public:
  virtual ~CaptureService() = default;
  // The displays (and windows); both flags are ignored on this system.
  virtual void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                                   Completion<ShareableContent> completion) = 0;
  // The system-audio stream; it delivers nothing until started.
  virtual std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                                    const StreamConfiguration& configuration,
                                                    std::shared_ptr<StreamDelegate> delegate) = 0;
};

}  // namespace mirlet
