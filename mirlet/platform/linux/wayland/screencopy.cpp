#include "mirlet/platform/linux/wayland/screencopy.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <optional>

#include "mirlet/platform/linux/pixels/scale.hpp"
#include "wlr-screencopy-unstable-v1-client.h"

namespace mirlet::wayland {
namespace {

using pixels::Picture;

// A screen picture can take a frame or two to come (the compositor copies at its next render).
constexpr std::chrono::milliseconds kPictureTime{2000};
constexpr std::int64_t kLargestSide = 1 << 15;

// Shared memory that the compositor writes the picture into.
struct Mapping {
  void* address = MAP_FAILED;
  std::size_t size = 0;
  ~Mapping() {
    if (address != MAP_FAILED) ::munmap(address, size);
  }
};

// The state of one screencopy frame, as its events tell it.
struct Copy {
  std::uint32_t format = 0, width = 0, height = 0, stride = 0;
  bool offered = false;    // an shm buffer was described
  bool described = false;  // every buffer kind was described
  bool yInverted = false;
  bool ready = false, failed = false;
  std::uint32_t version = 1;
};

const zwlr_screencopy_frame_v1_listener kCopyListener = {
    .buffer =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width,
           std::uint32_t height, std::uint32_t stride) {
          auto* copy = static_cast<Copy*>(data);
          *copy = {format, width, height, stride,       true, copy->version < 3,
                   false,  false, false,  copy->version};
        },
    .flags =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
          static_cast<Copy*>(data)->yInverted =
              (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
        },
    .ready = [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                std::uint32_t) { static_cast<Copy*>(data)->ready = true; },
    .failed = [](void* data,
                 zwlr_screencopy_frame_v1*) { static_cast<Copy*>(data)->failed = true; },
    .damage = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t,
                 std::uint32_t) {},
    .linux_dmabuf = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                       std::uint32_t) {},
    .buffer_done = [](void* data,
                      zwlr_screencopy_frame_v1*) { static_cast<Copy*>(data)->described = true; },
};

template <class Proxy, void (*destroy)(Proxy*)>
struct Owned {
  Proxy* proxy;
  ~Owned() {
    if (proxy != nullptr) destroy(proxy);
  }
};

bool swapsRedAndBlue(std::uint32_t format) {
  return format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888;
}

// The shared memory as a picture in mirlet's order (blue, green, red, unused; rows top down): the
// memory itself when it already is, a corrected copy otherwise.
Picture toPicture(std::unique_ptr<Mapping> memory, const Copy& copy) {
  const auto* base = static_cast<const std::uint8_t*>(memory->address);
  if (!copy.yInverted && !swapsRedAndBlue(copy.format)) {
    return Picture{{copy.width, copy.height, copy.stride, base},
                   {memory.release(), [](void* mapping) { delete static_cast<Mapping*>(mapping); }}};
  }
  return pixels::makePicture(copy.width, copy.height, [&](std::uint8_t* out, std::size_t stride) {
    for (std::uint32_t y = 0; y < copy.height; ++y) {
      const std::uint8_t* in =
          base + std::size_t{copy.yInverted ? copy.height - 1 - y : y} * copy.stride;
      std::uint8_t* row = out + y * stride;
      std::memcpy(row, in, std::size_t{copy.width} * 4);
      if (swapsRedAndBlue(copy.format))
        for (std::uint32_t x = 0; x < copy.width; ++x) std::swap(row[4 * x], row[4 * x + 2]);
    }
  });
}

// The pixels of `output` inside `region` (whole points relative to the output), at the output's
// own density.
Result<Picture> captureRegion(Session& session, const Output& output, int x, int y, int width,
                            int height) {
  if (session.screencopy() == nullptr || session.shm() == nullptr)
    return failure("the compositor offers no screen copy");
  if (output.transform != WL_OUTPUT_TRANSFORM_NORMAL)
    return failure("output " + output.connector + " is rotated or flipped, which is not supported");
  Copy copy;
  copy.version = zwlr_screencopy_manager_v1_get_version(session.screencopy());
  Owned<zwlr_screencopy_frame_v1, zwlr_screencopy_frame_v1_destroy> frame{
      zwlr_screencopy_manager_v1_capture_output_region(session.screencopy(), 0, output.output, x, y,
                                                       width, height)};
  zwlr_screencopy_frame_v1_add_listener(frame.proxy, &kCopyListener, &copy);
  const auto deadline = Clock::now() + kPictureTime;
  if (auto described = session.dispatchUntil([&] { return copy.described || copy.failed; },
                                             deadline, "a screen copy's buffer");
      !described)
    return failure(described.error());
  if (copy.failed || !copy.offered)
    return failure("the compositor cannot copy this part of the screen");
  if (copy.format != WL_SHM_FORMAT_XRGB8888 && copy.format != WL_SHM_FORMAT_ARGB8888 &&
      !swapsRedAndBlue(copy.format))
    return failure("the compositor copies the screen in an unsupported pixel format");
  if (copy.width == 0 || copy.height == 0 || copy.stride < copy.width * 4)
    return failure("the compositor described an unusable buffer");

  auto memory = std::make_unique<Mapping>();
  memory->size = std::size_t{copy.stride} * copy.height;
  const int fd = ::memfd_create("mirlet-screencopy", MFD_CLOEXEC);
  if (fd < 0) return failure(std::string("memfd_create: ") + std::strerror(errno));
  if (::ftruncate(fd, static_cast<off_t>(memory->size)) == 0)
    memory->address = ::mmap(nullptr, memory->size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory->address == MAP_FAILED) {
    const int error = errno;
    ::close(fd);
    return failure(std::string("shared memory for a picture: ") + std::strerror(error));
  }
  wl_shm_pool* pool =
      wl_shm_create_pool(session.shm(), fd, static_cast<std::int32_t>(memory->size));
  Owned<wl_buffer, wl_buffer_destroy> buffer{wl_shm_pool_create_buffer(
      pool, 0, static_cast<std::int32_t>(copy.width), static_cast<std::int32_t>(copy.height),
      static_cast<std::int32_t>(copy.stride), copy.format)};
  wl_shm_pool_destroy(pool);
  ::close(fd);  // the pool keeps the compositor's own copy of it

  zwlr_screencopy_frame_v1_copy(frame.proxy, buffer.proxy);
  if (auto copied = session.dispatchUntil([&] { return copy.ready || copy.failed; }, deadline,
                                          "a screen copy");
      !copied)
    return failure(copied.error());
  if (copy.failed) return failure("the compositor failed to copy the screen");
  return toPicture(std::move(memory), copy);
}

struct Overlap {
  double x0, y0, x1, y1;
};

std::optional<Overlap> overlap(const Rect& a, const Rect& b) {
  const Overlap o{std::max(minX(a), minX(b)), std::max(minY(a), minY(b)),
                  std::min(maxX(a), maxX(b)), std::min(maxY(a), maxY(b))};
  if (o.x0 >= o.x1 || o.y0 >= o.y1) return std::nullopt;
  return o;
}

// `part` (points, on `output`) at `width` x `height` pixels.
Result<Picture> capturePart(Session& session, const Output& output, const Overlap& part,
                          std::uint32_t width, std::uint32_t height) {
  // Whole points outward: a picture never misses a pixel the frame touches.
  const double x0 = std::floor(part.x0 - output.logical.x),
               y0 = std::floor(part.y0 - output.logical.y);
  const double x1 = std::ceil(part.x1 - output.logical.x),
               y1 = std::ceil(part.y1 - output.logical.y);
  auto native = captureRegion(session, output, static_cast<int>(x0), static_cast<int>(y0),
                              static_cast<int>(x1 - x0), static_cast<int>(y1 - y0));
  if (!native) return native;
  return pixels::scalePicture(std::move(*native), width, height);
}

}  // namespace

Result<Picture> captureArea(Session& session, const Rect& frame, std::int64_t width,
                            std::int64_t height) {
  if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide ||
      !(mirlet::width(frame) > 0) || !(mirlet::height(frame) > 0))
    return failure("no picture of that size can be taken");
  // A window or a display lies on one output. Composing a picture of several outputs of different
  // densities is left out: neither command asks for one (a window across outputs cannot be had
  // alone, and its crop is cut from one output's picture).
  for (const auto& output : session.outputs()) {
    const auto part = overlap(frame, output->logical);
    if (part && part->x0 == minX(frame) && part->y0 == minY(frame) && part->x1 == maxX(frame) &&
        part->y1 == maxY(frame))
      return capturePart(session, *output, *part, static_cast<std::uint32_t>(width),
                         static_cast<std::uint32_t>(height));
  }
  return failure("the area is not wholly on one output");
}

}  // namespace mirlet::wayland
