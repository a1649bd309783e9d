// Whole writes at an offset, and the full-disk seam.
#include "rebuild/file_output.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>

namespace {

std::atomic<uint64_t> g_test_file_size_limit{UINT64_MAX};

}  // namespace

void set_file_size_limit_for_tests(uint64_t bytes) {
  g_test_file_size_limit.store(bytes, std::memory_order_relaxed);
}

bool write_all_at(int fd, uint64_t offset, const uint8_t* bytes, size_t size, int& error_number) {
  const uint64_t limit = g_test_file_size_limit.load(std::memory_order_relaxed);
  size_t allowed = size;
  if (offset >= limit) {
    allowed = 0;
  } else if (size > limit - offset) {
    allowed = static_cast<size_t>(limit - offset);
  }
  size_t done = 0;
  while (done < allowed) {
    if (offset + done > static_cast<uint64_t>(LLONG_MAX)) {
      error_number = EFBIG;
      return false;
    }
    const ssize_t wrote = pwrite(fd, bytes + done, allowed - done, static_cast<off_t>(offset + done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error_number = wrote < 0 ? errno : EIO;
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  if (allowed == size) return true;
  error_number = ENOSPC;
  return false;
}

bool flush_to_disk(int fd, int& error_number) {
  if (fsync(fd) == 0) return true;
  error_number = errno;
  return false;
}
