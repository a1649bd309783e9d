// Fuzz target: opens the input as an in-memory archive, then states, tests
// and extracts every entry. Any crash or sanitizer report is a finding; the
// checks below turn broken promises of the reader into crashes too.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zip/zip_archive.h"
#include "zip/zip_entry.h"
#include "zip/zip_extract.h"

namespace {

void require(bool promise_kept) {
  if (!promise_kept) std::abort();
}

void exercise_entry(ZipArchive& archive, uint32_t index) {
  ZipEntryStat stat{};
  const bool stated = zip_stat_entry(archive.reader, index, stat);
  if (stated) require(std::strlen(stat.name) <= stat.name_size);
  (void)zip_entry_is_directory(archive.reader, index);
  uint64_t size = 1;
  uint8_t* block = zip_extract_entry(archive.reader, index, size);
  if (block == nullptr) {
    require(size == 0);
    return;
  }
  require(stated && size == stat.uncompressed_size);
  // Touch every byte, so that the sanitizers see a short block.
  uint8_t sum = 0;
  for (uint64_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + block[i]);
  (void)sum;
  zip_free(block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ZipArchive archive{};
  if (!zip_open_memory(archive, data, size)) return 0;
  const uint64_t kept = archive.comment_size < max_kept_comment_size ? archive.comment_size : max_kept_comment_size;
  require(archive.comment[kept] == '\0');
  const uint32_t count = zip_entry_count(archive.reader);
  for (uint32_t index = 0; index < count; ++index) exercise_entry(archive, index);
  ZipEntryStat past_the_end{};
  require(!zip_stat_entry(archive.reader, count, past_the_end));
  zip_close(archive.reader);
  return 0;
}
