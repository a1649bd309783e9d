// Read-back checks: every byte written is read again from the disk (through
// a descriptor of its own) and summed, so that a short or damaged write, or
// a writer fault, never goes into place.
#include "rebuild/written_check.h"

#include <libdeflate.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "base/grow_array.h"
#include "base/opened_file.h"
#include "rebuild/torrentzip_check.h"
#include "rebuild/torrentzip_writer.h"
#include "zip/zip_archive.h"
#include "zip/zip_extract.h"
#include "zip/zip_source.h"
#include "zip/zip_stream.h"

namespace {

struct DigestDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestDeleter>;

// What the bytes read back sum to.
struct ReadBackSums {
  EVP_MD_CTX* sha1;  // null when the ROM has no SHA-1 to compare
  uint64_t size;
  uint32_t crc;
  bool digest_failed;
};

bool take_read_back(void* context, const uint8_t* bytes, size_t size) {
  auto& sums = *static_cast<ReadBackSums*>(context);
  sums.size += size;
  sums.crc = libdeflate_crc32(sums.crc, bytes, size);
  if (sums.sha1 != nullptr && EVP_DigestUpdate(sums.sha1, bytes, size) != 1) sums.digest_failed = true;
  return !sums.digest_failed;
}

// Starts the sums; false when the digest cannot be had.
bool begin_sums(const RebuildRom& rom, EVP_MD_CTX* context, ReadBackSums& sums) {
  sums = ReadBackSums{nullptr, 0, 0, false};
  if (!rom.has_sha1) return true;
  if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha1(), nullptr) != 1) return false;
  sums.sha1 = context;
  return true;
}

bool sums_match(const RebuildRom& rom, ReadBackSums& sums) {
  if (sums.digest_failed || sums.size != rom.size || sums.crc != rom.crc) return false;
  if (sums.sha1 == nullptr) return true;
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned digest_size = 0;
  return EVP_DigestFinal_ex(sums.sha1, digest, &digest_size) == 1 && digest_size == rebuild_sha1_size &&
         std::memcmp(digest, rom.sha1, rebuild_sha1_size) == 0;
}

// Opens `name` read-only as a regular file; false with the errno.
bool open_written(int folder_fd, const char* name, OpenedFile& file, RebuildError& error) {
  if (!open_and_size(folder_fd, name, file)) return fail_rebuild(error, RebuildFailure::WriteFailed, errno);
  if (file.kind == FileKind::Regular) return true;
  close(file.fd);
  return fail_rebuild(error, RebuildFailure::ReadBackFailed);
}

struct ZipOwner {
  ZipArchive archive{};
  ZipScratch scratch{};
  ~ZipOwner() {
    zip_free_scratch(scratch);
    zip_close(archive.reader);
  }
};

bool check_zip_entries(ZipOwner& zip, const RebuildRom* roms, const uint32_t* order, uint32_t rom_count,
                       RebuildError& error) {
  MallocBlock buffer(static_cast<uint8_t*>(std::malloc(zip_piece_size)));
  DigestContext digest(EVP_MD_CTX_new());
  if (buffer == nullptr) return fail_rebuild(error, RebuildFailure::OutOfMemory);
  for (uint32_t k = 0; k < rom_count; ++k) {
    const RebuildRom& rom = roms[order[k]];
    ReadBackSums sums{};
    if (!begin_sums(rom, digest.get(), sums)) return fail_rebuild(error, RebuildFailure::OutOfMemory);
    ZipExtraction extraction{};
    ZipFailure failure = ZipFailure::None;
    const ZipOutput output{buffer.get(), &sums, take_read_back};
    if (!zip_prepare_extraction(zip.archive.reader, k, extraction, &failure) ||
        !zip_unpack_entry(zip.archive.reader, extraction, zip.scratch, output, &failure) || !sums_match(rom, sums)) {
      const RebuildFailure why =
          failure == ZipFailure::OutOfMemory ? RebuildFailure::OutOfMemory : RebuildFailure::ReadBackFailed;
      return fail_rebuild(error, why, 0, order[k]);
    }
  }
  return true;
}

}  // namespace

bool check_written_zip(int folder_fd, const char* name, const RebuildRom* roms, uint32_t rom_count,
                       RebuildError& error) {
  OpenedFile file{};
  if (!open_written(folder_fd, name, file, error)) return false;
  ZipOwner zip;
  if (!zip_open_opened_file(zip.archive, file)) return fail_rebuild(error, RebuildFailure::ReadBackFailed);
  if (!is_torrentzip_of(zip.archive, roms, rom_count)) return fail_rebuild(error, RebuildFailure::ReadBackFailed);
  GrowArray<uint32_t> order;
  if (!reserve_more(order, rom_count)) return fail_rebuild(error, RebuildFailure::OutOfMemory);
  if (!order_torrentzip_entries(roms, rom_count, order.items, error)) return false;
  return check_zip_entries(zip, roms, order.items, rom_count, error);
}

bool check_written_file(int folder_fd, const char* name, const RebuildRom& rom, uint32_t index, RebuildError& error) {
  OpenedFile file{};
  if (!open_written(folder_fd, name, file, error)) return false;
  const int fd = file.fd;
  MallocBlock buffer(static_cast<uint8_t*>(std::malloc(zip_piece_size)));
  DigestContext digest(EVP_MD_CTX_new());
  ReadBackSums sums{};
  if (buffer == nullptr || !begin_sums(rom, digest.get(), sums)) {
    close(fd);
    return fail_rebuild(error, RebuildFailure::OutOfMemory, 0, index);
  }
  for (;;) {
    const ssize_t got = pread(fd, buffer.get(), zip_piece_size, static_cast<off_t>(sums.size));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) sums.digest_failed = true;
      break;
    }
    take_read_back(&sums, buffer.get(), static_cast<size_t>(got));
    if (sums.size > rom.size) break;
  }
  close(fd);
  if (!sums_match(rom, sums)) return fail_rebuild(error, RebuildFailure::ReadBackFailed, 0, index);
  return true;
}
