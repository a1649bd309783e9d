// zip_floor: the work no reader of the benchmark's zip tree can avoid. It
// reads each archive whole, walks its central directory, inflates every
// entry with libdeflate (nested archives in turn) and takes its CRC-32; with
// --digest also every image's byte sum and SHA-256, the least work of
// summarising it. It prints totals so that none of the work can be optimised
// away.
//
// The archives are the benchmark's own, so the parsing is the least that
// works: stored and deflate entries, no zip64, no encryption. Anything else,
// or a CRC that doesn't match, stops the run with status 1.
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "floor_digest.h"

namespace {

constexpr uint32_t end_record_signature = 0x06054b50;
constexpr uint32_t central_header_signature = 0x02014b50;
constexpr uint32_t local_header_signature = 0x04034b50;
constexpr size_t end_record_size = 22;
constexpr size_t central_header_size = 46;
constexpr size_t local_header_size = 30;
constexpr size_t max_comment_size = 0xFFFF;
constexpr uint16_t method_stored = 0;
constexpr uint16_t method_deflate = 8;
constexpr size_t cache_slice_size = 64 << 10;

struct Totals {
  uint64_t archives = 0;
  uint64_t images = 0;
  uint64_t image_bytes = 0;
  uint32_t crc_xor = 0;
};

// A reused block of memory. Growing it drops the old contents: nothing is
// copied and nothing is zeroed, so pages are touched only by the data.
struct Buffer {
  std::unique_ptr<uint8_t[]> bytes;
  size_t capacity = 0;

  uint8_t* make_room(size_t size) {
    if (size > capacity) {
      capacity = std::max(size, 2 * capacity);
      bytes.reset(new uint8_t[capacity]);
    }
    return bytes.get();
  }
};

struct DecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

struct FileClose {
  void operator()(const int* fd) const { close(*fd); }
};

Totals g_totals;
std::unique_ptr<libdeflate_decompressor, DecompressorFree> g_decompressor;
// One reused buffer per nesting depth: a nested archive stays in its
// parent's buffer while its own entries are inflated into the next one. A
// deque, so that adding a depth leaves the others where they are.
std::deque<Buffer> g_buffers;
std::optional<FloorDigest> g_digest;  // with --digest

[[noreturn]] void fail(const std::string& name, const char* what) {
  std::fprintf(stderr, "zip_floor: %s: %s\n", name.c_str(), what);
  std::exit(1);
}

uint16_t get_u16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}

uint32_t get_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

Buffer& buffer_at_depth(size_t depth) {
  if (g_buffers.size() <= depth) g_buffers.resize(depth + 1);
  return g_buffers[depth];
}

bool has_zip_suffix(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view tail = name.substr(name.size() - 4);
  return tail[0] == '.' && (tail[1] | 0x20) == 'z' && (tail[2] | 0x20) == 'i' && (tail[3] | 0x20) == 'p';
}

// The end record may sit before a comment, so search from the back.
const uint8_t* find_end_record(const uint8_t* data, size_t size) {
  if (size < end_record_size) return nullptr;
  const size_t lowest = size > end_record_size + max_comment_size ? size - end_record_size - max_comment_size : 0;
  for (size_t at = size - end_record_size + 1; at-- > lowest;) {
    if (get_u32(data + at) == end_record_signature) return data + at;
  }
  return nullptr;
}

void walk_archive(const uint8_t* data, size_t size, size_t depth, const std::string& name);

// The CRC-32 of an entry and, for an image under --digest, its sum and
// digest, a slice at a time, so that the later passes find it in the cache.
uint32_t take_sums(const uint8_t* bytes, size_t size, bool digests) {
  if (digests) begin_image(*g_digest);
  uint32_t crc = 0;
  for (size_t done = 0; done < size;) {
    const size_t slice = std::min(cache_slice_size, size - done);
    crc = libdeflate_crc32(crc, bytes + done, slice);
    if (digests) add_to_image(*g_digest, bytes + done, slice);
    done += slice;
  }
  if (digests) end_image(*g_digest);
  return crc;
}

// Inflates one entry (stored entries are used in place), checks its CRC and
// counts it, or walks it when it is a nested archive.
void read_entry(const uint8_t* data, size_t size, const uint8_t* header, size_t depth, const std::string& name) {
  const uint16_t method = get_u16(header + 10);
  const uint32_t want_crc = get_u32(header + 16);
  const uint32_t packed_size = get_u32(header + 20);
  const uint32_t entry_size = get_u32(header + 24);
  const uint32_t local_offset = get_u32(header + 42);
  if (packed_size == 0xFFFFFFFF || entry_size == 0xFFFFFFFF || local_offset == 0xFFFFFFFF) fail(name, "zip64 entry");
  if (size_t(local_offset) + local_header_size > size || get_u32(data + local_offset) != local_header_signature)
    fail(name, "bad local header");
  const uint8_t* local = data + local_offset;
  const size_t packed_at = local_offset + local_header_size + get_u16(local + 26) + get_u16(local + 28);
  if (packed_at + packed_size > size) fail(name, "entry runs past the archive");

  const uint8_t* bytes = data + packed_at;
  if (method == method_deflate) {
    uint8_t* out = buffer_at_depth(depth + 1).make_room(entry_size);
    size_t inflated = 0;
    if (libdeflate_deflate_decompress(g_decompressor.get(), bytes, packed_size, out, entry_size, &inflated) !=
            LIBDEFLATE_SUCCESS ||
        inflated != entry_size)
      fail(name, "inflate failed");
    bytes = out;
  } else if (method != method_stored || packed_size != entry_size) {
    fail(name, "unsupported compression method");
  }
  const std::string_view entry_name(reinterpret_cast<const char*>(header + central_header_size), get_u16(header + 28));
  const bool is_nested = has_zip_suffix(entry_name);
  const uint32_t crc = take_sums(bytes, entry_size, g_digest && !is_nested);
  if (crc != want_crc) fail(name, "CRC mismatch");
  g_totals.crc_xor ^= crc;
  if (is_nested) {
    walk_archive(bytes, entry_size, depth + 1, name + "?" + std::string(entry_name));
    return;
  }
  g_totals.images += 1;
  g_totals.image_bytes += entry_size;
}

void walk_archive(const uint8_t* data, size_t size, size_t depth, const std::string& name) {
  const uint8_t* end_record = find_end_record(data, size);
  if (end_record == nullptr) fail(name, "no end record");
  const uint16_t entry_count = get_u16(end_record + 10);
  const uint32_t directory_offset = get_u32(end_record + 16);
  if (entry_count == 0xFFFF || directory_offset == 0xFFFFFFFF) fail(name, "zip64 archive");
  g_totals.archives += 1;

  size_t at = directory_offset;
  for (uint16_t i = 0; i < entry_count; ++i) {
    if (at + central_header_size > size || get_u32(data + at) != central_header_signature)
      fail(name, "bad central directory");
    const uint8_t* header = data + at;
    const size_t name_size = get_u16(header + 28);
    at += central_header_size + name_size + get_u16(header + 30) + get_u16(header + 32);
    if (at > size) fail(name, "bad central directory");
    const bool is_directory = name_size > 0 && header[central_header_size + name_size - 1] == '/';
    if (!is_directory) read_entry(data, size, header, depth, name);
  }
}

void read_archive_file(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) fail(path, "cannot open");
  const std::unique_ptr<const int, FileClose> closer(&fd);
  struct stat info {};
  if (fstat(fd, &info) != 0) fail(path, "cannot stat");
  const size_t size = size_t(info.st_size);
  uint8_t* buffer = buffer_at_depth(0).make_room(size);
  for (size_t done = 0; done < size;) {
    const ssize_t got = read(fd, buffer + done, size - done);
    if (got <= 0) fail(path, "read error");
    done += size_t(got);
  }
  walk_archive(buffer, size, 0, path);
}

void read_argument(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) {
    read_archive_file(path);
    return;
  }
  auto entry = std::filesystem::recursive_directory_iterator(path, error);
  for (; !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    if (entry->is_regular_file(error) && has_zip_suffix(entry->path().filename().native()))
      read_archive_file(entry->path().native());
  }
  if (error) fail(path, "cannot walk the directory");
}

}  // namespace

int main(int argc, char** argv) {
  const int first = argc > 1 && std::string_view(argv[1]) == "--digest" ? 2 : 1;
  if (argc <= first) {
    std::fputs("usage: zip_floor [--digest] directory/zip...\n", stderr);
    return 2;
  }
  if (first == 2) g_digest.emplace();
  g_decompressor.reset(libdeflate_alloc_decompressor());
  if (!g_decompressor) fail("libdeflate", "cannot allocate a decompressor");
  for (int i = first; i < argc; ++i) read_argument(argv[i]);
  std::printf("%" PRIu64 " archives, %" PRIu64 " images, %" PRIu64 " image bytes, crc xor %08" PRIX32
              ", digests folded %016" PRIX64 "\n",
              g_totals.archives, g_totals.images, g_totals.image_bytes, g_totals.crc_xor,
              g_digest ? g_digest->folded : 0);
  return 0;
}
