#pragma once
// For the screen commands' end-to-end tests: real X clients, private X servers set up unlike the
// shared one, and the PNG files read back.

#include <spng.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/harness.hpp"

namespace mirlet::testing {

struct DecodedPng {
  std::uint32_t width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  std::uint32_t at(std::uint32_t x, std::uint32_t y) const {
    const std::uint8_t* p = &rgb[(std::size_t{y} * width + x) * 3];
    return (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
  }
  std::size_t count(std::uint32_t color) const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < rgb.size(); i += 3) n += at(i / 3 % width, i / 3 / width) == color;
    return n;
  }
};

inline std::optional<DecodedPng> decodePng(const std::string& path) {
  const std::string bytes = readFile(path);
  std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> context(spng_ctx_new(0), spng_ctx_free);
  spng_ihdr header{};
  std::size_t size = 0;
  if (spng_set_png_buffer(context.get(), bytes.data(), bytes.size()) != 0 ||
      spng_get_ihdr(context.get(), &header) != 0 ||
      spng_decoded_image_size(context.get(), SPNG_FMT_RGB8, &size) != 0)
    return std::nullopt;
  DecodedPng png{header.width, header.height, std::vector<std::uint8_t>(size)};
  if (spng_decode_image(context.get(), png.rgb.data(), size, SPNG_FMT_RGB8, 0) != 0)
    return std::nullopt;
  return png;
}

// An X client whose window is on screen; killed with the holder.
struct XClient {
  Process process;
  std::string id;
};

// Starts `argv` and waits for its window named `title` (a pattern) to be mapped.
inline XClient startClient(std::vector<std::string> argv, const std::string& title,
                           const EnvChanges& env = {}) {
  Process process = Process::start(argv, env);
  const RunResult found =
      run({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^" + title + "$"}, env, 10s);
  if (found.status != 0 || found.out.find('\n') == std::string::npos)
    throw std::runtime_error("no window named " + title + ": " + found.err);
  return {std::move(process), found.out.substr(0, found.out.find('\n'))};
}

// An Xvfb of a test's own, for a setup the shared one must not be put into.
struct PrivateX {
  explicit PrivateX(const std::vector<std::string>& options)
      : server(Process::start(xvfb(options))) {
    const auto number = server.waitForLine(10s);
    if (!number) throw std::runtime_error("Xvfb did not start");
    display = ":" + *number;
  }
  EnvChanges env() const { return {{"DISPLAY", display}}; }
  static std::vector<std::string> xvfb(std::vector<std::string> options) {
    options.insert(options.begin(), {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-noreset"});
    return options;
  }
  Process server;
  std::string display;
};

// The record of window `id` in a `windows` line, from its opening brace; empty when absent.
inline std::string recordOf(const std::string& line, const std::string& id) {
  const auto start = line.find("{\"id\":" + id + ",");
  if (start == std::string::npos) return "";
  return line.substr(start, line.find('}', start) - start + 1);
}

}  // namespace mirlet::testing
