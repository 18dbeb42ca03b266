#ifndef MIRLET_PLATFORM_LINUX_MODULE_H
#define MIRLET_PLATFORM_LINUX_MODULE_H
/*
 * The entry points of mirlet's loadable modules.
 *
 * Each backend lives in a module of its own that only the commands using it load: FFmpeg's
 * libraries bring well over a hundred shared libraries with them and libpulse some thirty, which
 * would otherwise slow every command down. A module exports one function, named in the table
 * below, that gives its table of entry points.
 *
 * One convention for every entry point:
 *  - An entry that can fail returns 0 when it did its work, and -1 when it did not, after writing
 *    why into the caller's `mirlet_reason`.
 *  - What a module hands back is the module's own memory, lent to a callback of the caller's for
 *    the length of that call (listings, names, audio), or, for a picture or a handle, kept until
 *    the caller gives it back through the function that came with it. Each module carries its own
 *    copy of the C++ runtime, so nothing that one side allocated may be freed by the other.
 *  - Nothing is thrown across an entry point, and none ends the process.
 *
 *   module                  exported function          table
 *   mirlet-x11.so           mirlet_x11_entry           mirlet_screen_module (access, listings)
 *   mirlet-x11-pictures.so  mirlet_x11_pictures_entry  mirlet_screen_module (pictures)
 *   mirlet-png.so           mirlet_png_entry           mirlet_png_module
 *   mirlet-pulse.so         mirlet_pulse_entry         mirlet_sound_module
 *   mirlet-pulse-capture.so mirlet_pulse_capture_entry mirlet_capture_module
 *   mirlet-ffmpeg.so        mirlet_ffmpeg_entry        mirlet_file_module
 *   mirlet-wayland.so       mirlet_wayland_entry       mirlet_screen_module (sway's screen)
 *   mirlet-shell.so         mirlet_shell_entry         mirlet_screen_module (GNOME Shell's and
 *                                                      KWin's, and other Wayland sessions')
 */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Why an entry failed: NUL-terminated text, cut to fit. */
typedef struct mirlet_reason {
  char text[512];
} mirlet_reason;

/* ---- The screen ---------------------------------------------------------------------------- */

/* Points, in the one global space of windows and displays (y grows downward). */
typedef struct mirlet_rect {
  double x, y, width, height;
} mirlet_rect;

typedef struct mirlet_window {
  uint32_t id;
  mirlet_rect frame;
  const char *title; /* UTF-8 or not, with its length; empty when the window has none */
  size_t title_length;
  const char *app; /* empty when no application is known */
  size_t app_length;
} mirlet_window;

typedef struct mirlet_display {
  uint32_t id;
  mirlet_rect frame;
  int64_t width, height; /* whole points */
} mirlet_display;

/* Receives a listing item by item. A sink without `window` asks for the displays alone, one
 * without `display` for the windows alone. */
typedef struct mirlet_content_sink {
  void *context;
  void (*window)(void *context, const mirlet_window *window); /* front to back */
  void (*display)(void *context, const mirlet_display *display);
} mirlet_content_sink;

/* Pixels of 4 bytes each, in memory order blue, green, red, unused; rows top down. */
typedef struct mirlet_image {
  uint32_t width, height;
  size_t bytes_per_row;
  const uint8_t *pixels;
} mirlet_image;

/* A picture a module made: its pixels stay until `release(owner)`. */
typedef struct mirlet_picture {
  mirlet_image image;
  void *owner;
  void (*release)(void *owner);
} mirlet_picture;

typedef struct mirlet_screen_module {
  /* Whether this process may capture the screen: without asking anyone (`ask` 0), or after asking
   * where the desktop has a way to (`ask` 1). */
  int (*access)(int ask, int *allowed, mirlet_reason *why);
  /* The windows on screen and the displays, each in the desktop's fixed order. */
  int (*list_content)(const mirlet_content_sink *sink, mirlet_reason *why);
  /* The window by itself, even where others cover it, at exactly `width` x `height` pixels. */
  int (*capture_window)(uint32_t id, int64_t width, int64_t height, mirlet_picture *picture,
                        mirlet_reason *why);
  /* What the screen shows inside `frame`, at exactly `width` x `height` pixels. */
  int (*capture_display)(mirlet_rect frame, int64_t width, int64_t height,
                         mirlet_picture *picture, mirlet_reason *why);
} mirlet_screen_module;

typedef struct mirlet_png_module {
  /* The image at its own size as a PNG file at `path`; 0 only when the file is complete. */
  int (*write_png)(const mirlet_image *image, const char *path, mirlet_reason *why);
} mirlet_png_module;

/* ---- Sound --------------------------------------------------------------------------------- */

typedef enum mirlet_transport {
  MIRLET_TRANSPORT_UNKNOWN = 0,
  MIRLET_TRANSPORT_BUILT_IN,
  MIRLET_TRANSPORT_USB,
  MIRLET_TRANSPORT_BLUETOOTH,
  MIRLET_TRANSPORT_FIREWIRE,
  MIRLET_TRANSPORT_THUNDERBOLT,
  MIRLET_TRANSPORT_HDMI,
  MIRLET_TRANSPORT_DISPLAYPORT,
  MIRLET_TRANSPORT_AIRPLAY,
  MIRLET_TRANSPORT_VIRTUAL
} mirlet_transport;

typedef struct mirlet_output {
  mirlet_transport transport;
  const char *name; /* the name people see */
  size_t name_length;
  int headphones; /* 1 when the active port or the form factor is worn: headphones, headset */
} mirlet_output;

typedef struct mirlet_output_sink {
  void *context;
  void (*output)(void *context, const mirlet_output *output);
} mirlet_output_sink;

typedef struct mirlet_sound_module {
  /* Whether some input that is not the monitor of an output is recording now. */
  int (*input_in_use)(int *in_use, mirlet_reason *why);
  /* Lends the default output to `sink`; calls nothing when there is no default output. */
  int (*default_output)(const mirlet_output_sink *sink, mirlet_reason *why);
} mirlet_sound_module;

/* ---- The recording ------------------------------------------------------------------------- */

/* The recording's audio, one format for its capture and its file: interleaved 32-bit float
 * frames at this rate and channel count. */
enum { MIRLET_RECORDING_RATE = 48000, MIRLET_RECORDING_CHANNELS = 2 };

/* Where captured audio goes: `frames` frames, or silence of that length when `samples` is null.
 * Each call continues the one before on the recording's one clock, whose frame 0 is the moment
 * the capture started: nothing is stamped because nothing overlaps and nothing is missing. Called
 * on the capture's thread, one call at a time; it must not wait. */
typedef struct mirlet_audio_sink {
  void *context;
  void (*audio)(void *context, const float *samples, int64_t frames);
} mirlet_audio_sink;

typedef struct mirlet_capture mirlet_capture;

typedef struct mirlet_capture_module {
  /* Starts capturing what the machine plays into `sink`, on one thread named `thread_name`.
   * Returns once the capture runs, or why it cannot, within a bounded wait; never starts a sound
   * server. */
  int (*start)(const char *thread_name, mirlet_audio_sink sink, mirlet_capture **capture,
               mirlet_reason *why);
  /* Ends the capture and frees it: the audio up to now is delivered, and nothing is delivered
   * after it returns. */
  void (*stop)(mirlet_capture *capture);
} mirlet_capture_module;

typedef struct mirlet_audio_file mirlet_audio_file;

typedef struct mirlet_file_module {
  /* Refuses an empty path, and one that names a folder (through a symbolic link too), before
   * touching anything; otherwise replaces what stands at `path` with an M4A file of one AAC
   * track, written on a thread of its own. */
  int (*create)(const char *path, mirlet_audio_file **file, mirlet_reason *why);
  /* The sink to give the capture. It copies the audio and never waits: what the file cannot take
   * in time is written as silence of its length. */
  mirlet_audio_sink (*sink)(mirlet_audio_file *file);
  /* Readable (for poll) from the moment the file cannot be written any more; the file's own. */
  int (*failure_fd)(const mirlet_audio_file *file);
  /* No audio follows: completes the file and frees it. 0 once the file is complete; -1 with the
   * reason when it could not be written, the file then ending at its last complete fragment. */
  int (*finish)(mirlet_audio_file *file, mirlet_reason *why);
  /* Frees a file whose recording never ran, and removes it: a failed start leaves nothing. */
  void (*discard)(mirlet_audio_file *file);
} mirlet_file_module;

const mirlet_screen_module *mirlet_x11_entry(void);
const mirlet_screen_module *mirlet_x11_pictures_entry(void);
const mirlet_png_module *mirlet_png_entry(void);
const mirlet_sound_module *mirlet_pulse_entry(void);
const mirlet_capture_module *mirlet_pulse_capture_entry(void);
const mirlet_file_module *mirlet_ffmpeg_entry(void);
const mirlet_screen_module *mirlet_wayland_entry(void);
const mirlet_screen_module *mirlet_shell_entry(void);

#ifdef __cplusplus
}
#endif

#endif
