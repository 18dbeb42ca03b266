#include "mirlet/platform/linux/x11/pixels.hpp"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <bit>
#include <cstring>
#include <memory>

namespace mirlet::x11 {
namespace {

struct ImageDeleter {
  void operator()(XImage* image) const {
    if (image != nullptr) XDestroyImage(image);
  }
};
using ImagePtr = std::unique_ptr<XImage, ImageDeleter>;

// A private shared memory segment mapped here. It is marked for removal at once, so it goes
// when the last mapping does, whatever happens to the process.
class Mapping {
 public:
  static std::shared_ptr<Mapping> create(std::size_t size) {
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) return nullptr;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
      shmctl(id, IPC_RMID, nullptr);
      return nullptr;
    }
    auto mapping = std::shared_ptr<Mapping>(new Mapping(id, static_cast<char*>(address)));
    return mapping;
  }
  ~Mapping() {
    shmctl(id_, IPC_RMID, nullptr);
    shmdt(address_);
  }
  int id() const { return id_; }
  char* address() const { return address_; }
  // Once the server has attached too, the segment can be marked: both mappings keep it alive.
  void markForRemoval() { shmctl(id_, IPC_RMID, nullptr); }

 private:
  Mapping(int id, char* address) : id_(id), address_(address) {}
  int id_;
  char* address_;
};

// The server's view of a segment, for the time of one request.
class ServerAttachment {
 public:
  ServerAttachment(const Connection& connection, const Mapping& mapping)
      : connection_(connection) {
    info_.shmid = mapping.id();
    info_.shmaddr = mapping.address();
    info_.readOnly = False;
    ErrorTrap trap(connection);
    attached_ = XShmAttach(connection.get(), &info_) != 0;
    if (trap.failed()) attached_ = false;  // a server on another machine, for one
  }
  ~ServerAttachment() {
    if (!attached_) return;
    ErrorTrap trap(connection_);
    XShmDetach(connection_.get(), &info_);
  }
  ServerAttachment(const ServerAttachment&) = delete;
  ServerAttachment& operator=(const ServerAttachment&) = delete;
  bool attached() const { return attached_; }
  XShmSegmentInfo* info() { return &info_; }

 private:
  const Connection& connection_;
  XShmSegmentInfo info_{};
  bool attached_ = false;
};

bool isBgrx(const XImage& image, const Visual* visual) {
  return image.bits_per_pixel == 32 && image.byte_order == LSBFirst && visual != nullptr &&
         visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF;
}

int shiftOf(unsigned long mask) { return mask == 0 ? 0 : std::countr_zero(mask); }

std::uint8_t channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  const unsigned long value = (pixel & mask) >> shiftOf(mask);
  const unsigned long top = mask >> shiftOf(mask);
  return static_cast<std::uint8_t>(value * 255 / top);
}

// Any other layout (16-bit visuals, big-endian servers), one pixel at a time.
Image converted(XImage& source, const Visual* visual) {
  return makeImage(static_cast<std::uint32_t>(source.width),
                   static_cast<std::uint32_t>(source.height),
                   [&](std::uint8_t* pixels, std::size_t bytesPerRow) {
                     for (int y = 0; y < source.height; ++y) {
                       std::uint8_t* out = pixels + y * bytesPerRow;
                       for (int x = 0; x < source.width; ++x, out += 4) {
                         const unsigned long pixel = XGetPixel(&source, x, y);
                         out[0] = channel(pixel, visual ? visual->blue_mask : 0);
                         out[1] = channel(pixel, visual ? visual->green_mask : 0);
                         out[2] = channel(pixel, visual ? visual->red_mask : 0);
                       }
                     }
                   });
}

// Wraps `image` without copying when its layout is ours; `keep` holds whatever its memory is.
Image adopt(ImagePtr image, const Visual* visual, std::shared_ptr<void> keep) {
  if (!isBgrx(*image, visual)) return converted(*image, visual);
  Image result;
  result.width = static_cast<std::uint32_t>(image->width);
  result.height = static_cast<std::uint32_t>(image->height);
  result.bytesPerRow = static_cast<std::size_t>(image->bytes_per_line);
  result.pixels = reinterpret_cast<const std::uint8_t*>(image->data);
  struct Holder {
    ImagePtr image;
    std::shared_ptr<void> keep;
  };
  result.storage = std::make_shared<Holder>(Holder{std::move(image), std::move(keep)});
  return result;
}

std::optional<Image> readShared(const Connection& connection, const Source& source) {
  ::Display* display = connection.get();
  if (!XShmQueryExtension(display)) return std::nullopt;
  XShmSegmentInfo layout{};
  ImagePtr image(XShmCreateImage(display, source.visual, static_cast<unsigned>(source.depth),
                                 ZPixmap, nullptr, &layout, source.width, source.height));
  if (!image) return std::nullopt;
  auto mapping =
      Mapping::create(static_cast<std::size_t>(image->bytes_per_line) * image->height);
  if (!mapping) return std::nullopt;
  {
    ServerAttachment attachment(connection, *mapping);
    if (!attachment.attached()) return std::nullopt;
    mapping->markForRemoval();
    image->obdata = reinterpret_cast<char*>(attachment.info());
    image->data = mapping->address();
    ErrorTrap trap(connection);
    const bool read =
        XShmGetImage(display, source.drawable, image.get(), source.x, source.y, AllPlanes) != 0;
    image->obdata = nullptr;
    if (trap.failed() || !read) return std::nullopt;
  }
  // XShm images free only their header; the pixels stay in the mapping, which the picture keeps.
  return adopt(std::move(image), source.visual, mapping);
}

}  // namespace

Result<Image> readPixels(const Connection& connection, const Source& source) {
  if (source.width == 0 || source.height == 0) return failure("nothing to read");
  if (auto shared = readShared(connection, source)) return std::move(*shared);
  ErrorTrap trap(connection);
  ImagePtr image(XGetImage(connection.get(), source.drawable, source.x, source.y, source.width,
                           source.height, AllPlanes, ZPixmap));
  if (trap.failed() || !image) {
    return failure(trap.description().empty() ? "the X server gave no picture"
                                              : trap.description());
  }
  return adopt(std::move(image), source.visual, nullptr);
}

}  // namespace mirlet::x11
