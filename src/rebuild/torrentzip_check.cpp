// The check of an existing archive rebuilds every record the writer would
// make (only the compressed sizes are taken from the archive, which the
// records then pin down) and compares bytes: the same builders as the
// writer, so that the two cannot disagree on a field.
#include "rebuild/torrentzip_check.h"

#include <libdeflate.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/opened_file.h"
#include "rebuild/torrentzip_format.h"
#include "rebuild/torrentzip_writer.h"
#include "zip/zip_entry.h"
#include "zip/zip_format.h"
#include "zip/zip_reader.h"
#include "zip/zip_source.h"

namespace {

constexpr size_t max_local_record = local_header_size + UINT16_MAX + max_local_zip64_extra;

// The bytes at `offset` equal `expected`.
bool holds_bytes(const ZipReader& reader, uint64_t offset, const uint8_t* expected, size_t size, uint8_t* scratch) {
  return is_range_inside(offset, size, reader.archive_size) && zip_read_at(reader, offset, scratch, size) &&
         std::memcmp(scratch, expected, size) == 0;
}

// The local headers in order from offset 0, each followed by its data;
// the central directory they call for in `directory`, and where it starts.
bool check_local_headers(const ZipReader& reader, const RebuildRom* roms, const uint32_t* order, uint32_t rom_count,
                         GrowArray<uint8_t>& directory, uint64_t& directory_offset) {
  GrowArray<uint8_t> expected;
  GrowArray<uint8_t> actual;
  if (!reserve_more(expected, max_local_record) || !reserve_more(actual, max_local_record)) return false;
  uint64_t offset = 0;
  for (uint32_t k = 0; k < rom_count; ++k) {
    ZipEntryStat stat{};
    if (!zip_stat_entry(reader, k, stat)) return false;
    const RebuildRom& rom = roms[order[k]];
    const TorrentZipFields fields{
        rom.name, static_cast<uint32_t>(std::strlen(rom.name)), rom.size, stat.compressed_size, rom.crc, offset};
    const size_t header_size = put_local_header(fields, expected.items);
    if (!holds_bytes(reader, offset, expected.items, header_size, actual.items)) return false;
    if (!is_range_inside(offset + header_size, stat.compressed_size, reader.archive_size)) return false;
    offset += header_size + stat.compressed_size;
    if (!reserve_more(directory, central_record_size + fields.name_size + max_central_zip64_extra)) return false;
    directory.count += put_central_record(fields, directory.items + directory.count);
  }
  directory_offset = offset;
  return true;
}

}  // namespace

bool is_torrentzip_of(const ZipArchive& archive, const RebuildRom* roms, uint32_t rom_count) {
  const ZipReader& reader = archive.reader;
  if (reader.entry_count != rom_count || reader.offset_shift != 0) return false;
  if (archive.comment_size != torrentzip_comment_size) return false;
  GrowArray<uint32_t> order;
  RebuildError error{};
  if (!reserve_more(order, rom_count) || !order_torrentzip_entries(roms, rom_count, order.items, error)) return false;
  GrowArray<uint8_t> directory;
  uint64_t directory_offset = 0;
  if (!check_local_headers(reader, roms, order.items, rom_count, directory, directory_offset)) return false;
  if (reader.central_directory_offset != directory_offset || reader.central_directory_size != directory.count ||
      (directory.count != 0 && std::memcmp(reader.central_directory, directory.items, directory.count) != 0)) {
    return false;
  }
  uint8_t end_records[max_end_records_size];
  uint8_t scratch[max_end_records_size];
  const uint64_t end_offset = directory_offset + directory.count;
  const size_t end_size = put_end_records(rom_count, directory_offset, directory.count,
                                          libdeflate_crc32(0, directory.items, directory.count), end_records);
  return reader.archive_size - end_offset == end_size &&
         holds_bytes(reader, end_offset, end_records, end_size, scratch);
}

bool is_torrentzip_file_of(int folder_fd, const char* name, const RebuildRom* roms, uint32_t rom_count) {
  OpenedFile file{};
  if (!open_and_size(folder_fd, name, file)) return false;
  if (file.kind != FileKind::Regular) {
    close(file.fd);
    return false;
  }
  ZipArchive archive{};
  if (!zip_open_opened_file(archive, file)) return false;
  const bool same = is_torrentzip_of(archive, roms, rom_count);
  zip_close(archive.reader);
  return same;
}

bool list_foreign_entries(const ZipArchive& archive, const RebuildRom* roms, uint32_t rom_count,
                          GrowArray<uint32_t>& foreign) {
  struct Identity {
    uint64_t size;
    uint32_t crc;
    bool operator<(const Identity& other) const { return size != other.size ? size < other.size : crc < other.crc; }
  };
  GrowArray<Identity> held;
  if (!reserve_more(held, rom_count)) return false;
  for (uint32_t k = 0; k < rom_count; ++k) held.items[held.count++] = Identity{roms[k].size, roms[k].crc};
  std::sort(held.begin(), held.end());
  const uint32_t entry_count = zip_entry_count(archive.reader);
  for (uint32_t index = 0; index < entry_count; ++index) {
    ZipEntryStat stat{};
    if (!zip_stat_entry(archive.reader, index, stat)) return false;
    if (zip_entry_is_directory(archive.reader, index)) continue;
    if (!std::binary_search(held.begin(), held.end(), Identity{stat.uncompressed_size, stat.crc32}) &&
        !push_back(foreign, index)) {
      return false;
    }
  }
  return true;
}
