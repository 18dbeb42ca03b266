#pragma once
/* The entry points of mirlet-xcb.so and mirlet-x11.so. Each module carries a private copy of the
 * C++ runtime, so only C types cross: plain structs, pointers, and memory that the module
 * allocated goes back to the module's own free function. Nothing is thrown across. */

#include <cstddef>
#include <cstdint>

extern "C" {

struct MirletRect {
  double x, y, width, height;
};

struct MirletWindow {
  uint32_t id;
  MirletRect frame;
  const char* title; /* UTF-8 or not, with its length; never null */
  size_t titleLength;
  const char* app;
  size_t appLength;
};

struct MirletDisplay {
  uint32_t id;
  MirletRect frame;
  int64_t width, height; /* whole points */
};

/* A listing, or (error not null) why there is none. Owned by the module. */
struct MirletContent {
  const char* error;
  const MirletWindow* windows;
  size_t windowCount;
  const MirletDisplay* displays;
  size_t displayCount;
  void* owner; /* the module's own */
};

struct MirletXcbModule {
  int (*displayIsReachable)(void);
  MirletContent* (*listContent)(void);
  void (*freeContent)(MirletContent*);
};

/* Pixels blue, green, red, unused, rows top down; or (error not null) why there are none. Owned
 * by the module. */
struct MirletPicture {
  const char* error;
  uint32_t width, height;
  size_t bytesPerRow;
  const uint8_t* pixels;
  void* owner; /* the module's own */
};

struct MirletX11Module {
  MirletPicture* (*captureWindow)(uint32_t windowID, int64_t width, int64_t height);
  MirletPicture* (*captureDisplay)(MirletRect frame, int64_t width, int64_t height);
  void (*freePicture)(MirletPicture*);
  /* 1 when the whole file was written. */
  int (*writePNG)(const uint8_t* pixels, uint32_t width, uint32_t height, size_t bytesPerRow,
                  const char* path);
};

const MirletXcbModule* mirlet_xcb_module(void);
const MirletX11Module* mirlet_x11_module(void);
}
