// The status line: counters any thread may bump, a drawing thread, and one
// lock over standard error shared with the messages.
#include "report/progress.h"

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/utf8.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int redraw_interval_ms = 100;
constexpr int unknown_width = 80;
// More of a path than any terminal row shows.
constexpr size_t path_keep = 4096;
constexpr char erase_line[] = "\r\033[K";

std::atomic<uint64_t> images_done{0};
std::atomic<uint64_t> image_bytes_done{0};

std::mutex path_mutex;
char current_path[path_keep];
size_t current_path_length = 0;
bool current_path_cut = false;

// Held while anything is written to standard error during a run.
std::mutex screen_mutex;
bool line_drawn = false;
bool screen_failed = false;
std::string last_drawn;

std::mutex timer_mutex;
std::condition_variable timer_wake;
bool stopping = false;
bool running = false;
pthread_t drawer{};
int first_delay_ms = 0;  // for the drawer, set before it starts
Clock::time_point started;

bool write_all(const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t written = write(STDERR_FILENO, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

// The length of the valid UTF-8 character at `text`, 0 for an invalid or
// unwanted one. C1 controls (U+0080 to U+009F) count as invalid: some
// terminals obey them.
size_t utf8_character_length(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  if (bytes[0] < 0x80) return (bytes[0] < 0x20 || bytes[0] == 0x7F) ? 0 : 1;
  if (bytes[0] == 0xC2 && text.size() > 1 && bytes[1] < 0xA0) return 0;  // a C1 control
  return static_cast<size_t>(utf8_sequence_length(bytes, text.size()));
}

// The path as the terminal may show it. A character never takes more
// columns than its bytes, so a byte budget keeps to the row.
std::string printable_path(std::string_view path) {
  std::string shown;
  shown.reserve(path.size());
  while (!path.empty()) {
    const size_t length = utf8_character_length(path);
    if (length == 0) {
      shown += '?';
      path.remove_prefix(1);
    } else {
      shown.append(path.substr(0, length));
      path.remove_prefix(length);
    }
  }
  return shown;
}

int terminal_columns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return unknown_width;
  return size.ws_col;
}

StatusCounts current_counts() {
  StatusCounts counts{images_done.load(std::memory_order_relaxed), image_bytes_done.load(std::memory_order_relaxed),
                      0.0};
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (seconds > 0.001) counts.megabytes_per_second = static_cast<double>(counts.bytes) / 1e6 / seconds;
  return counts;
}

void draw() {
  std::string path;
  bool cut = false;
  {
    const std::lock_guard lock(path_mutex);
    path.assign(current_path, current_path_length);
    cut = current_path_cut;
  }
  const std::string text = status_line_text(current_counts(), path, cut, terminal_columns());
  const std::lock_guard lock(screen_mutex);
  if (screen_failed || (line_drawn && text == last_drawn)) return;
  const std::string line = "\r" + text + "\033[K";
  if (!write_all(line.data(), line.size())) {
    screen_failed = true;
    return;
  }
  line_drawn = true;
  last_drawn = text;
}

void erase_locked() {
  if (!line_drawn) return;
  if (!write_all(erase_line, sizeof erase_line - 1)) screen_failed = true;
  line_drawn = false;
}

void draw_until_stopped(int delay_ms) {
  std::unique_lock lock(timer_mutex);
  auto next = started + std::chrono::milliseconds(delay_ms);
  while (!timer_wake.wait_until(lock, next, [] { return stopping; })) {
    lock.unlock();
    draw();
    lock.lock();
    next = Clock::now() + std::chrono::milliseconds(redraw_interval_ms);
  }
}

void* run_drawer(void* /*unused*/) {
  draw_until_stopped(first_delay_ms);
  return nullptr;
}

}  // namespace

std::string status_line_text(const StatusCounts& counts, std::string_view path, bool path_cut, int columns) {
  const size_t room = columns > 1 ? static_cast<size_t>(columns) - 1 : 0;
  char head[128];
  const int head_length = std::snprintf(head, sizeof head, "%" PRIu64 " images, %.1f MB, %.1f MB/s", counts.images,
                                        static_cast<double>(counts.bytes) / 1e6, counts.megabytes_per_second);
  const std::string text(head, head_length > 0 ? std::min(static_cast<size_t>(head_length), sizeof head - 1) : 0);
  constexpr std::string_view separator = ", ";
  constexpr std::string_view ellipsis = "...";
  if (path.empty() || text.size() + separator.size() + ellipsis.size() >= room) return text.substr(0, room);
  const std::string shown = printable_path(path);
  const size_t path_room = room - text.size() - separator.size();
  if (!path_cut && shown.size() <= path_room) return text + std::string(separator) + shown;
  size_t from = shown.size() > path_room - ellipsis.size() ? shown.size() - (path_room - ellipsis.size()) : 0;
  // Never start inside a character.
  while (from < shown.size() && (static_cast<unsigned char>(shown[from]) & 0xC0) == 0x80) ++from;
  return text + std::string(separator) + std::string(ellipsis) + shown.substr(from);
}

void progress_start(int delay_ms) {
  if (running || isatty(STDERR_FILENO) != 1) return;
  started = Clock::now();
  stopping = false;
  running = true;
  // Without a delay the line is there before the first image is read.
  if (delay_ms <= 0) draw();
  first_delay_ms = delay_ms > 0 ? delay_ms : redraw_interval_ms;
  if (pthread_create(&drawer, nullptr, run_drawer, nullptr) == 0) return;
  // No thread to keep it fresh: the run goes on without a status line.
  running = false;
  const std::lock_guard lock(screen_mutex);
  erase_locked();
}

void progress_stop() {
  if (!running) return;
  {
    const std::lock_guard lock(timer_mutex);
    stopping = true;
  }
  timer_wake.notify_all();
  pthread_join(drawer, nullptr);
  running = false;
  const std::lock_guard lock(screen_mutex);
  erase_locked();
}

void progress_abandon() {
  screen_mutex.lock();  // never released: the process ends
  erase_locked();
}

void progress_image_done(uint64_t bytes) {
  images_done.fetch_add(1, std::memory_order_relaxed);
  image_bytes_done.fetch_add(bytes, std::memory_order_relaxed);
}

void progress_set_path(const char* path) {
  if (!running) return;  // no status line: nothing to copy, once per image
  size_t length = std::strlen(path);
  const bool cut = length > path_keep;
  if (cut) {
    path += length - path_keep;
    length = path_keep;
  }
  const std::lock_guard lock(path_mutex);
  std::copy_n(path, length, current_path);  // its length is kept, not a NUL
  current_path_length = length;
  current_path_cut = cut;
}

void progress_write_message(const char* text, size_t length) {
  const std::lock_guard lock(screen_mutex);
  erase_locked();
  std::fwrite(text, 1, length, stderr);
}
