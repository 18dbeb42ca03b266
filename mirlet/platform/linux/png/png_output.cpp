#include "mirlet/platform/linux/png/png_output.hpp"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace mirlet::png {
namespace {

const std::uint8_t* rowOf(const mirlet_image& image, std::uint32_t y) {
  return image.pixels + std::size_t{y} * image.bytes_per_row;
}

// Chosen by measurement on a photo-like 2560 x 1600 picture doubled from 1280 x 800 (see
// bench/screen.sh): level 1 with Z_RLE is the fastest setting tried, and its file is no larger
// than ImageMagick's at zlib's default level with adaptive filters. The filter is picked here per
// row: Up for a row that repeats the one above (it filters to zeros), Sub for any other (a pixel
// that repeats its left neighbour filters to zeros). Trying both on every row picked the same
// ones, at half again the time.
constexpr int kLevel = 1;
constexpr int kStrategy = Z_RLE;
constexpr int kWindowBits = 15;
constexpr int kMemLevel = 8;
// The zlib stream's header for a 32 KiB window, marked as the fastest level as zlib itself marks
// level 1 and Z_RLE. The streams below are raw so that each slice of rows can be deflated on its
// own; the header and the Adler-32 trailer of the whole are written here.
constexpr std::array<std::uint8_t, 2> kZlibHeader{0x78, 0x01};

constexpr std::uint8_t kFilterSub = 1;
constexpr std::uint8_t kFilterUp = 2;

// Below about a megapixel a second thread costs more than it saves.
constexpr std::uint64_t kThreadedPixels = 1'000'000;
constexpr unsigned kMaxSlices = 4;
// A megabyte an IDAT chunk: decoders that read a chunk whole need no more memory than that, and
// twelve bytes of framing a megabyte cost nothing.
constexpr std::size_t kMaxChunk = std::size_t{1} << 20;
// PNG's limit on width and height.
constexpr std::uint32_t kMaxSide = 0x7FFFFFFF;

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};

class Deflater {
 public:
  Deflater() = default;
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  ~Deflater() {
    if (ready_) deflateEnd(&stream_);
  }
  bool init() {
    ready_ = deflateInit2(&stream_, kLevel, Z_DEFLATED, -kWindowBits, kMemLevel, kStrategy) == Z_OK;
    return ready_;
  }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

// Rows [first, end) of the picture as raw deflate data that continues the slices before it.
struct Slice {
  std::uint32_t first = 0;
  std::uint32_t end = 0;
  bool leading = false;   // starts the zlib stream: carries its header
  bool trailing = false;  // ends the zlib stream: its last block is final
  std::unique_ptr<std::uint8_t[]> bytes;
  std::size_t capacity = 0;
  std::size_t size = 0;
  uLong adler = 1;             // of the filtered rows, as if they started the stream
  std::uint64_t rawSize = 0;   // length of the filtered rows
  std::vector<uLong> chunkCrcs;  // one a kMaxChunk piece of `bytes`, over "IDAT" and the piece
  bool ok = false;
};

void toRgb(const std::uint8_t* in, std::uint8_t* out, std::uint32_t width) {
  for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
  }
}

void filterSub(const std::uint8_t* row, std::uint8_t* out, std::size_t rowSize) {
  for (std::size_t i = 0; i < 3 && i < rowSize; ++i) out[i] = row[i];
  for (std::size_t i = 3; i < rowSize; ++i) out[i] = static_cast<std::uint8_t>(row[i] - row[i - 3]);
}

void grow(Slice& slice) {
  const std::size_t capacity = slice.capacity + slice.capacity / 2 + 64;
  auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  std::memcpy(bytes.get(), slice.bytes.get(), slice.size);
  slice.bytes = std::move(bytes);
  slice.capacity = capacity;
}

// Feeds `length` bytes to the stream, growing the output as needed; with Z_SYNC_FLUSH or
// Z_FINISH everything pending comes out too.
bool deflateInto(Slice& slice, z_stream* stream, const std::uint8_t* data, std::size_t length,
                 int flush) {
  stream->next_in = const_cast<Bytef*>(data);
  stream->avail_in = static_cast<uInt>(length);
  int status = Z_OK;
  do {
    if (slice.size == slice.capacity) grow(slice);
    stream->next_out = slice.bytes.get() + slice.size;
    stream->avail_out = static_cast<uInt>(std::min<std::size_t>(slice.capacity - slice.size, UINT_MAX));
    status = deflate(stream, flush);
    if (status == Z_STREAM_ERROR) return false;
    slice.size = static_cast<std::size_t>(stream->next_out - slice.bytes.get());
    // A full output buffer may hide more output; anything else means deflate is done with this.
  } while (stream->avail_out == 0);
  return stream->avail_in == 0 && (flush != Z_FINISH || status == Z_STREAM_END);
}

// Runs on a thread of its own, so nothing may leave it but the result in `slice`.
void compress(const mirlet_image& image, Slice& slice) noexcept try {
  const std::size_t rowSize = std::size_t{image.width} * 3;
  Deflater deflater;
  if (!deflater.init()) return;
  z_stream* stream = deflater.get();
  slice.rawSize = std::uint64_t{slice.end - slice.first} * (rowSize + 1);
  slice.capacity = deflateBound(stream, static_cast<uLong>(slice.rawSize)) + kZlibHeader.size() + 64;
  slice.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(slice.capacity);
  if (slice.leading) {
    std::memcpy(slice.bytes.get(), kZlibHeader.data(), kZlibHeader.size());
    slice.size = kZlibHeader.size();
  }

  std::vector<std::uint8_t> rgb(2 * rowSize);
  std::vector<std::uint8_t> sub(rowSize + 1);
  std::vector<std::uint8_t> up(rowSize + 1);  // a repeated row filters to zeros
  sub[0] = kFilterSub;
  up[0] = kFilterUp;
  std::uint8_t* row = rgb.data();
  std::uint8_t* above = rgb.data() + rowSize;
  // The previous slice's last row decides whether this one's first row repeats it.
  if (slice.first > 0) toRgb(rowOf(image, slice.first - 1), above, image.width);

  for (std::uint32_t y = slice.first; y < slice.end; ++y) {
    toRgb(rowOf(image, y), row, image.width);
    const std::uint8_t* filtered = up.data();
    if (y == 0 || std::memcmp(row, above, rowSize) != 0) {
      filterSub(row, sub.data() + 1, rowSize);
      filtered = sub.data();
    }
    slice.adler = adler32(slice.adler, filtered, static_cast<uInt>(rowSize + 1));
    const bool last = y + 1 == slice.end;
    const int flush = !last ? Z_NO_FLUSH : slice.trailing ? Z_FINISH : Z_SYNC_FLUSH;
    if (!deflateInto(slice, stream, filtered, rowSize + 1, flush)) return;
    std::swap(row, above);
  }

  const uLong idat = crc32(0, reinterpret_cast<const Bytef*>("IDAT"), 4);
  for (std::size_t at = 0; at < slice.size; at += kMaxChunk) {
    const std::size_t length = std::min(kMaxChunk, slice.size - at);
    slice.chunkCrcs.push_back(crc32(idat, slice.bytes.get() + at, static_cast<uInt>(length)));
  }
  slice.ok = true;
} catch (const std::bad_alloc&) {
  slice.ok = false;
}

// The rows cut into `count` runs of nearly equal length, each deflated on its own thread but the
// last, which the calling thread takes; a thread that cannot be started leaves its slice to the
// calling thread too. True when every slice came out whole.
bool compressSlices(const mirlet_image& image, std::vector<Slice>& slices, unsigned count) {
  slices.resize(count);
  for (unsigned i = 0; i < count; ++i) {
    slices[i].first = static_cast<std::uint32_t>(std::uint64_t{image.height} * i / count);
    slices[i].end = static_cast<std::uint32_t>(std::uint64_t{image.height} * (i + 1) / count);
  }
  slices.front().leading = true;
  slices.back().trailing = true;
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(count - 1);
    for (unsigned i = 0; i + 1 < count; ++i) {
      try {
        helpers.emplace_back([&image, &slice = slices[i]] { compress(image, slice); });
      } catch (const std::system_error&) {
        compress(image, slices[i]);
      }
    }
    compress(image, slices.back());
  }  // joins the helpers
  return std::all_of(slices.begin(), slices.end(), [](const Slice& slice) { return slice.ok; });
}

void putBigEndian(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

bool put(std::FILE* file, const void* data, std::size_t length) {
  return std::fwrite(data, 1, length, file) == length;
}

// A chunk whose data is `data` followed by `extra`, with `crc` already run over its type and
// `data`.
bool putChunk(std::FILE* file, const char* type, const std::uint8_t* data, std::size_t length,
              uLong crc, const std::uint8_t* extra = nullptr, std::size_t extraLength = 0) {
  std::array<std::uint8_t, 8> head{};
  putBigEndian(head.data(), static_cast<std::uint32_t>(length + extraLength));
  std::memcpy(head.data() + 4, type, 4);
  if (extraLength > 0) crc = crc32(crc, extra, static_cast<uInt>(extraLength));
  std::array<std::uint8_t, 4> tail{};
  putBigEndian(tail.data(), static_cast<std::uint32_t>(crc));
  return put(file, head.data(), head.size()) && (length == 0 || put(file, data, length)) &&
         (extraLength == 0 || put(file, extra, extraLength)) &&
         put(file, tail.data(), tail.size());
}

bool putSmallChunk(std::FILE* file, const char* type, const std::uint8_t* data, std::size_t length) {
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  if (length > 0) crc = crc32(crc, data, static_cast<uInt>(length));
  return putChunk(file, type, data, length, crc);
}

bool writeFile(std::FILE* file, const mirlet_image& image, const std::vector<Slice>& slices) {
  static constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::array<std::uint8_t, 13> header{};
  putBigEndian(header.data(), image.width);
  putBigEndian(header.data() + 4, image.height);
  header[8] = 8;  // bits a sample
  header[9] = 2;  // RGB; compression, filter method and interlacing stay 0
  if (!put(file, kSignature.data(), kSignature.size()) ||
      !putSmallChunk(file, "IHDR", header.data(), header.size()))
    return false;

  uLong adler = slices.front().adler;
  for (std::size_t i = 1; i < slices.size(); ++i)
    adler = adler32_combine(adler, slices[i].adler, static_cast<z_off_t>(slices[i].rawSize));
  std::array<std::uint8_t, 4> trailer{};
  putBigEndian(trailer.data(), static_cast<std::uint32_t>(adler));

  for (const Slice& slice : slices)
    for (std::size_t chunk = 0; chunk < slice.chunkCrcs.size(); ++chunk) {
      const std::size_t at = chunk * kMaxChunk;
      const std::size_t length = std::min(kMaxChunk, slice.size - at);
      const bool end = &slice == &slices.back() && chunk + 1 == slice.chunkCrcs.size();
      if (!putChunk(file, "IDAT", slice.bytes.get() + at, length, slice.chunkCrcs[chunk],
                    end ? trailer.data() : nullptr, end ? trailer.size() : 0))
        return false;
    }
  return putSmallChunk(file, "IEND", nullptr, 0);
}

unsigned sliceCount(const mirlet_image& image) {
  if (std::uint64_t{image.width} * image.height < kThreadedPixels) return 1;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::min({cores, kMaxSlices, image.height});
}

}  // namespace

Result<void> writePNG(const mirlet_image& image, const std::string& to) {
  // PNG has no empty pictures; a row goes to deflate in one call.
  if (image.width == 0 || image.height == 0 || image.width > kMaxSide ||
      image.height > kMaxSide || std::size_t{image.width} * 3 + 1 > UINT_MAX)
    return failure("no PNG of " + std::to_string(image.width) + " x " +
                   std::to_string(image.height) + " pixels");
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(to.c_str(), "wb"));
  if (!file) return failure("cannot create " + to + ": " + std::strerror(errno));
  std::vector<Slice> slices;
  if (!compressSlices(image, slices, sliceCount(image))) return failure("cannot deflate the picture");
  // Only a clean close proves every byte reached the file.
  if (!writeFile(file.get(), image, slices) || std::fclose(file.release()) != 0)
    return failure("cannot write " + to + ": " + std::strerror(errno));
  return {};
}

}  // namespace mirlet::png
