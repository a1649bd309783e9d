// The status line on a terminal: images and bytes done, speed, the path
// being read. It lives on standard error and is erased before every message
// and at the end, so the screen reads as it would without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Starts the status line when standard error is a terminal: a background
// thread draws it every 100 ms once `delay_ms` have passed (0: at once).
// Does nothing at all when standard error is not a terminal, nor when the
// thread cannot be started.
void progress_start(int delay_ms);

// Erases the line and stops the thread. Safe to call without a start.
void progress_stop();

// One image finished, `bytes` long. Any thread.
void progress_image_done(uint64_t bytes);

// The path being read now; copied (its last part when very long). Any thread.
void progress_set_path(const char* path);

// Writes `length` bytes of `text` to standard error, first erasing the
// status line if it is drawn, so that a message never shares its row.
void progress_write_message(const char* text, size_t length);

// The text of the status line (without the "\r" and erase around it) for a
// terminal `columns` wide: at most columns - 1 bytes, so it never wraps.
// Control bytes and invalid UTF-8 in the path become '?'; a path too long
// for the row keeps its end, after "...". `path_cut` says that `path` is
// already only the end of a longer one.
struct StatusCounts {
  uint64_t images;
  uint64_t bytes;
  double megabytes_per_second;
};
std::string status_line_text(const StatusCounts& counts, std::string_view path, bool path_cut, int columns);
