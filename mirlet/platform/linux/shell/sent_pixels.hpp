#pragma once
// Pixels that a desktop sent over a file or a pipe, as mirlet's pictures.

#include <unistd.h>

#include <cstdint>

#include "mirlet/platform/linux/pixels/picture.hpp"
#include "mirlet/platform/linux/shell/bus.hpp"

namespace mirlet::shell {

// A file descriptor (a memory file, a pipe's end, a script's file), closed when it goes.
struct Descriptor {
  int fd = -1;
  ~Descriptor() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

// How the desktop laid its pixels out: 4 bytes each, rows top down.
struct SentLayout {
  std::uint32_t width = 0, height = 0;
  std::size_t bytesPerRow = 0;
  bool redFirst = false;  // red, green, blue, alpha; otherwise blue, green, red, alpha
};

// The layout that a reply's dictionary gives (width, height, stride), checked against the
// `available` bytes.
Result<SentLayout> sentLayout(const Dictionary& reply, bool redFirst, std::size_t available);

// `sent` (the desktop's pixels, with whatever holds them) in mirlet's order, blue first, at
// exactly `width` x `height`.
Result<pixels::Picture> fromSent(pixels::Picture sent, bool redFirst, std::int64_t width,
                                 std::int64_t height);

}  // namespace mirlet::shell
