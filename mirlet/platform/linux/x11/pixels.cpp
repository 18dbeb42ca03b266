#include "mirlet/platform/linux/x11/pixels.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

#include <array>
#include <bit>
#include <optional>

namespace mirlet::x11 {
namespace {

using Owner = std::unique_ptr<void, void (*)(void*)>;

// How the server lays out the pixels of one depth in a ZPixmap image.
struct Layout {
  int bytesPerPixel = 0;
  std::size_t bytesPerRow = 0;
  bool lsbFirst = true;
};

Result<Layout> layoutOf(const xcb_setup_t& setup, const Source& source) {
  for (auto format = xcb_setup_pixmap_formats_iterator(&setup); format.rem > 0;
       xcb_format_next(&format)) {
    if (format.data->depth != source.depth) continue;
    const std::size_t bits = format.data->bits_per_pixel;
    const std::size_t pad = format.data->scanline_pad;
    if (bits % 8 != 0 || bits > 32 || pad == 0) break;
    return Layout{static_cast<int>(bits / 8), (source.width * bits + pad - 1) / pad * pad / 8,
                  setup.image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST};
  }
  return failure("no pixel format for depth " + std::to_string(source.depth));
}

bool isOurs(const Layout& layout, const xcb_visualtype_t* visual) {
  return layout.bytesPerPixel == 4 && layout.lsbFirst && visual != nullptr &&
         visual->red_mask == 0xFF0000 && visual->green_mask == 0xFF00 &&
         visual->blue_mask == 0xFF;
}

// One colour of a visual: where its bits are and how many values they hold.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t top = 1;

  explicit Channel(std::uint32_t m)
      : mask(m), shift(m == 0 ? 0 : std::countr_zero(m)), top(m == 0 ? 1 : m >> shift) {}
  std::uint8_t operator()(std::uint32_t pixel) const {
    return static_cast<std::uint8_t>(((pixel & mask) >> shift) * 255 / top);
  }
};

// Any other layout (16-bit visuals, big-endian servers), one pixel at a time.
Picture converted(const std::uint8_t* data, const Layout& layout, const Source& source) {
  const Channel blue(source.visual ? source.visual->blue_mask : 0);
  const Channel green(source.visual ? source.visual->green_mask : 0);
  const Channel red(source.visual ? source.visual->red_mask : 0);
  const int bytes = layout.bytesPerPixel;
  return makePicture(source.width, source.height, [&](std::uint8_t* out, std::size_t stride) {
    for (std::size_t y = 0; y < source.height; ++y) {
      const std::uint8_t* in = data + y * layout.bytesPerRow;
      std::uint8_t* pixel = out + y * stride;
      for (std::size_t x = 0; x < source.width; ++x, in += bytes, pixel += 4) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
          value |= std::uint32_t{in[i]} << 8 * (layout.lsbFirst ? i : bytes - 1 - i);
        pixel[0] = blue(value);
        pixel[1] = green(value);
        pixel[2] = red(value);
        pixel[3] = 0;
      }
    }
  });
}

// The pixels at `data` (held by `owner`) as a picture: taken as they are when their layout is
// ours, else converted into a picture of their own.
Picture picture(const std::uint8_t* data, const Layout& layout, const Source& source,
                Owner owner) {
  if (!isOurs(layout, source.visual)) return converted(data, layout, source);
  return {{source.width, source.height, layout.bytesPerRow, data}, std::move(owner)};
}

// A private shared memory segment mapped here. It is marked for removal as soon as the server has
// attached it too, so it goes with the last mapping, whatever happens to the process.
class Segment {
 public:
  static std::unique_ptr<Segment> create(std::size_t size) {
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0) return nullptr;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
      shmctl(id, IPC_RMID, nullptr);
      return nullptr;
    }
    return std::unique_ptr<Segment>(new Segment(id, static_cast<std::uint8_t*>(address)));
  }
  ~Segment() {
    markForRemoval();
    shmdt(address_);
  }
  Segment(const Segment&) = delete;
  Segment& operator=(const Segment&) = delete;
  int id() const { return id_; }
  const std::uint8_t* address() const { return address_; }
  void markForRemoval() { shmctl(id_, IPC_RMID, nullptr); }

 private:
  Segment(int id, std::uint8_t* address) : id_(id), address_(address) {}
  int id_;
  std::uint8_t* address_;
};

std::optional<Picture> readShared(const Connection& connection, const Source& source,
                                  const Layout& layout) {
  xcb_connection_t* c = connection.get();
  const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
  if (shm == nullptr || shm->present == 0) return std::nullopt;
  const std::size_t size = layout.bytesPerRow * source.height;
  auto segment = Segment::create(size);
  if (!segment) return std::nullopt;
  const xcb_shm_seg_t id = xcb_generate_id(c);
  const xcb_void_cookie_t attached =
      xcb_shm_attach_checked(c, id, static_cast<std::uint32_t>(segment->id()), 0);
  const xcb_shm_get_image_cookie_t image =
      xcb_shm_get_image(c, source.drawable, source.x, source.y, source.width, source.height,
                        ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, id, 0);
  // Answered together: the image's reply tells that the attachment before it was done. A server
  // that cannot reach this machine's memory refuses the attachment.
  if (!connection.check(attached)) {
    xcb_discard_reply(c, image.sequence);
    return std::nullopt;
  }
  segment->markForRemoval();
  const auto read = collect(xcb_shm_get_image_reply, c, image);
  xcb_shm_detach(c, id);
  if (!read || read->size < size) return std::nullopt;
  const std::uint8_t* data = segment->address();
  return picture(data, layout, source,
                 Owner(segment.release(), [](void* s) { delete static_cast<Segment*>(s); }));
}

}  // namespace

Result<Picture> readPixels(const Connection& connection, const Source& source) {
  if (source.width == 0 || source.height == 0) return failure("nothing to read");
  const auto layout = layoutOf(*xcb_get_setup(connection.get()), source);
  if (!layout) return failure(layout.error());
  if (auto shared = readShared(connection, source, *layout)) return std::move(*shared);

  xcb_connection_t* c = connection.get();
  auto read = answer(xcb_get_image_reply, c,
                     xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, source.drawable, source.x,
                                   source.y, source.width, source.height, ~0u));
  if (!read) return failure(read.error());
  const auto length = static_cast<std::size_t>(xcb_get_image_data_length(read->get()));
  if (length < layout->bytesPerRow * source.height) return failure("the X server gave no picture");
  const std::uint8_t* data = xcb_get_image_data(read->get());
  return picture(data, *layout, source, Owner(read->release(), [](void* r) { std::free(r); }));
}

}  // namespace mirlet::x11
