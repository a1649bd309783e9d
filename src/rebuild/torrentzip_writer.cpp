// The streaming TorrentZip writer. Each entry is deflated by zlib (level 9,
// raw, memLevel 8, default strategy: what makes the form's bytes) straight
// into the file after a local header whose size is decided before the data:
// the ROM's size is known, and the compressed size is guessed to fit in 32
// bits. In the rare case it does not (nearly incompressible data of about
// 4 GiB), the local header needs a zip64 field for it and the entry is
// written again from its start with the header that fits; a source can be
// poured more than once. zlib's output does not depend on how its input is
// cut into pieces, so streaming gives the same bytes as one call.
#include "rebuild/torrentzip_writer.h"

#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/grow_array.h"
#include "rebuild/file_output.h"
#include "rebuild/torrentzip_format.h"
#include "zip/zip_format.h"
#include "zip/zip_source.h"
#include "zip/zip_stream.h"

namespace {

constexpr size_t output_piece_size = zip_piece_size;

// One entry under way: zlib's state, the output piece and where it goes.
struct EntryWriter {
  z_stream deflater;
  bool deflater_ready;
  uint8_t* output;
  int fd;
  uint64_t write_offset;  // of the next compressed byte in the file
  uint64_t expected_size;
  uint64_t poured_size;
  uint32_t poured_crc;
  bool too_long;
  int error_number;  // a failed write's errno, or 0
};

struct DeflaterOwner {
  EntryWriter& writer;
  ~DeflaterOwner() {
    if (writer.deflater_ready) deflateEnd(&writer.deflater);
  }
};

// Writes what zlib put in the output piece; false on a write error.
bool drain_output(EntryWriter& writer) {
  const size_t size = output_piece_size - writer.deflater.avail_out;
  if (size != 0 && !write_all_at(writer.fd, writer.write_offset, writer.output, size, writer.error_number)) {
    return false;
  }
  writer.write_offset += size;
  writer.deflater.next_out = writer.output;
  writer.deflater.avail_out = static_cast<uInt>(output_piece_size);
  return true;
}

// Runs deflate over the input given; with Z_FINISH until the stream ends.
bool run_deflate(EntryWriter& writer, int flush) {
  for (;;) {
    const int status = deflate(&writer.deflater, flush);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return false;
    if (writer.deflater.avail_out == 0 || status == Z_STREAM_END) {
      if (!drain_output(writer)) return false;
    }
    if (status == Z_STREAM_END) return true;
    if (flush != Z_FINISH && writer.deflater.avail_in == 0) return true;
  }
}

bool take_rom_bytes(void* context, const uint8_t* bytes, size_t size) {
  auto& writer = *static_cast<EntryWriter*>(context);
  if (size > writer.expected_size - writer.poured_size) {
    writer.too_long = true;  // the source grew: stop before writing what no record covers
    return false;
  }
  writer.poured_size += size;
  writer.poured_crc = libdeflate_crc32(writer.poured_crc, bytes, size);
  while (size != 0) {
    const uInt piece = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
    writer.deflater.next_in = const_cast<Bytef*>(bytes);  // zlib's API is not const; it only reads
    writer.deflater.avail_in = piece;
    if (!run_deflate(writer, Z_NO_FLUSH)) return false;
    bytes += piece;
    size -= piece;
  }
  return true;
}

// Pours the ROM through zlib into the file from `data_offset`; its
// compressed size in `compressed_size`.
bool write_entry_data(EntryWriter& writer, const RebuildRom& rom, uint32_t index, uint64_t data_offset,
                      uint64_t& compressed_size, RebuildError& error) {
  if (deflateReset(&writer.deflater) != Z_OK) return fail_rebuild(error, RebuildFailure::OutOfMemory, 0, index);
  writer.deflater.next_out = writer.output;
  writer.deflater.avail_out = static_cast<uInt>(output_piece_size);
  writer.write_offset = data_offset;
  writer.expected_size = rom.size;
  writer.poured_size = 0;
  writer.poured_crc = 0;
  writer.too_long = false;
  writer.error_number = 0;
  const bool poured = rom.source.pour(rom.source.context, RomSink{&writer, take_rom_bytes});
  if (writer.error_number != 0) return fail_rebuild(error, RebuildFailure::WriteFailed, writer.error_number, index);
  if (writer.too_long) return fail_rebuild(error, RebuildFailure::SourceChanged, 0, index);
  if (!poured) return fail_rebuild(error, RebuildFailure::SourceUnreadable, 0, index);
  if (writer.poured_size != rom.size || writer.poured_crc != rom.crc) {
    return fail_rebuild(error, RebuildFailure::SourceChanged, 0, index);
  }
  writer.deflater.avail_in = 0;
  if (!run_deflate(writer, Z_FINISH)) {
    if (writer.error_number != 0) return fail_rebuild(error, RebuildFailure::WriteFailed, writer.error_number, index);
    return fail_rebuild(error, RebuildFailure::OutOfMemory, 0, index);
  }
  compressed_size = writer.write_offset - data_offset;
  return true;
}

// One entry at `fields.local_header_offset`: data, then its local header.
// Fills in the compressed size; `end` is where the entry ends.
bool write_entry(EntryWriter& writer, const RebuildRom& rom, uint32_t index, TorrentZipFields& fields, uint64_t& end,
                 RebuildError& error) {
  fields.compressed_size = 0;  // the guess: it fits in 32 bits
  for (int attempt = 0; attempt < 2; ++attempt) {
    const size_t header_size = local_header_length(fields);
    const uint64_t data_offset = fields.local_header_offset + header_size;
    uint64_t compressed_size = 0;
    if (!write_entry_data(writer, rom, index, data_offset, compressed_size, error)) return false;
    fields.compressed_size = compressed_size;
    if (local_header_length(fields) != header_size) continue;  // the guess was wrong: again, with room
    // The output piece is drained and has room for the longest header.
    static_assert(output_piece_size >= local_header_size + UINT16_MAX + max_local_zip64_extra);
    put_local_header(fields, writer.output);
    int error_number = 0;
    if (!write_all_at(writer.fd, fields.local_header_offset, writer.output, header_size, error_number)) {
      return fail_rebuild(error, RebuildFailure::WriteFailed, error_number, index);
    }
    end = data_offset + compressed_size;
    return true;
  }
  return fail_rebuild(error, RebuildFailure::SourceChanged, 0, index);  // its size changed between the pourings
}

bool write_directory_and_end(int fd, const GrowArray<uint8_t>& directory, uint64_t directory_offset,
                             uint32_t entry_count, RebuildError& error) {
  int error_number = 0;
  if (!write_all_at(fd, directory_offset, directory.items, directory.count, error_number)) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, error_number);
  }
  const uint32_t crc = libdeflate_crc32(0, directory.items, directory.count);
  uint8_t end_records[max_end_records_size];
  const size_t end_size = put_end_records(entry_count, directory_offset, directory.count, crc, end_records);
  const uint64_t end_offset = directory_offset + directory.count;
  if (!write_all_at(fd, end_offset, end_records, end_size, error_number)) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, error_number);
  }
  if (ftruncate(fd, static_cast<off_t>(end_offset + end_size)) != 0) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, errno);
  }
  return true;
}

bool is_writable_name(const char* name) {
  return name[0] != 0 && std::strchr(name, '\\') == nullptr && std::strlen(name) <= UINT16_MAX;
}

}  // namespace

bool order_torrentzip_entries(const RebuildRom* roms, uint32_t rom_count, uint32_t* order, RebuildError& error) {
  for (uint32_t k = 0; k < rom_count; ++k) {
    if (!is_writable_name(roms[k].name)) return fail_rebuild(error, RebuildFailure::UnsafeName, 0, k);
    order[k] = k;
  }
  std::sort(order, order + rom_count,
            [roms](uint32_t a, uint32_t b) { return torrentzip_name_less(roms[a].name, roms[b].name); });
  for (uint32_t k = 1; k < rom_count; ++k) {
    if (std::strcmp(roms[order[k - 1]].name, roms[order[k]].name) == 0) {
      return fail_rebuild(error, RebuildFailure::ClashingNames, 0, order[k]);
    }
  }
  return true;
}

bool write_torrentzip(int fd, const RebuildRom* roms, uint32_t rom_count, RebuildError& error) {
  error = RebuildError{};
  GrowArray<uint32_t> order;
  if (!reserve_more(order, rom_count)) return fail_rebuild(error, RebuildFailure::OutOfMemory);
  if (!order_torrentzip_entries(roms, rom_count, order.items, error)) return false;
  MallocBlock output(static_cast<uint8_t*>(std::malloc(output_piece_size)));
  if (output == nullptr) return fail_rebuild(error, RebuildFailure::OutOfMemory);
  EntryWriter writer{};
  writer.output = output.get();
  writer.fd = fd;
  DeflaterOwner owner{writer};
  if (deflateInit2(&writer.deflater, torrentzip_level, Z_DEFLATED, torrentzip_window_bits, torrentzip_mem_level,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    return fail_rebuild(error, RebuildFailure::OutOfMemory);
  }
  writer.deflater_ready = true;
  GrowArray<uint8_t> directory;
  uint64_t offset = 0;
  for (uint32_t k = 0; k < rom_count; ++k) {
    const RebuildRom& rom = roms[order[k]];
    TorrentZipFields fields{rom.name, static_cast<uint32_t>(std::strlen(rom.name)), rom.size, 0, rom.crc, offset};
    if (!write_entry(writer, rom, order[k], fields, offset, error)) return false;
    if (!reserve_more(directory, central_record_size + fields.name_size + max_central_zip64_extra)) {
      return fail_rebuild(error, RebuildFailure::OutOfMemory);
    }
    directory.count += put_central_record(fields, directory.items + directory.count);
  }
  return write_directory_and_end(fd, directory, offset, rom_count, error);
}
