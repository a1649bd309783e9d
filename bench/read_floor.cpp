// read_floor: the least work of reading the benchmark's loose trees. It reads
// every regular file under the given paths through one reused buffer and
// takes its CRC-32 with libdeflate; with --digest also its byte sum and
// SHA-256, the least work of summarising it. It prints totals so that none of
// the work can be optimised away.
//
// It stands beside the `find | cat` floor because cat pays for a fresh
// buffer per file (allocated, faulted in, unmapped), which on some virtual
// machines costs more than the reading itself. Any failure stops the run
// with status 1.
#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "floor_digest.h"

namespace {

// A quarter of a MiB stays in the cache for the sum and digest after the CRC.
constexpr size_t read_block_size = 1 << 18;

struct Totals {
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint32_t crc_xor = 0;
};

struct FileClose {
  void operator()(const int* fd) const { close(*fd); }
};

Totals g_totals;
std::vector<uint8_t> g_buffer(read_block_size);
std::optional<FloorDigest> g_digest;  // with --digest

[[noreturn]] void fail(const std::string& name, const char* what) {
  std::fprintf(stderr, "read_floor: %s: %s\n", name.c_str(), what);
  std::exit(1);
}

void read_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) fail(path, "cannot open");
  const std::unique_ptr<const int, FileClose> closer(&fd);
  uint32_t crc = 0;
  if (g_digest) begin_image(*g_digest);
  for (;;) {
    const ssize_t got = read(fd, g_buffer.data(), g_buffer.size());
    if (got < 0) fail(path, "read error");
    if (got == 0) break;
    crc = libdeflate_crc32(crc, g_buffer.data(), size_t(got));
    if (g_digest) add_to_image(*g_digest, g_buffer.data(), size_t(got));
    g_totals.bytes += size_t(got);
  }
  if (g_digest) end_image(*g_digest);
  g_totals.files += 1;
  g_totals.crc_xor ^= crc;
}

void read_argument(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) {
    read_file(path);
    return;
  }
  auto entry = std::filesystem::recursive_directory_iterator(path, error);
  for (; !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    if (entry->is_regular_file(error)) read_file(entry->path().native());
  }
  if (error) fail(path, "cannot walk the directory");
}

}  // namespace

int main(int argc, char** argv) {
  const int first = argc > 1 && std::string_view(argv[1]) == "--digest" ? 2 : 1;
  if (argc <= first) {
    std::fputs("usage: read_floor [--digest] directory/file...\n", stderr);
    return 2;
  }
  if (first == 2) g_digest.emplace();
  for (int i = first; i < argc; ++i) read_argument(argv[i]);
  std::printf("%" PRIu64 " files, %" PRIu64 " bytes, crc xor %08" PRIX32 ", digests folded %016" PRIX64 "\n",
              g_totals.files, g_totals.bytes, g_totals.crc_xor, g_digest ? g_digest->folded : 0);
  return 0;
}
