// Unpacking what a DAT came packed in. A gzip file may hold several members
// one after another; each is inflated in turn. Inflated bytes are bounded by
// nothing but the sink: the readers stream and keep only the records.
#include "dat/dat_source.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/opened_file.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry.h"
#include "zip/zip_extract.h"
#include "zip/zip_reader.h"
#include "zip/zip_source.h"
#include "zip/zip_stream.h"

namespace {

constexpr size_t piece_size = size_t{256} << 10;

enum class Packing : uint8_t { Plain, Gzip, Zip };

Packing packing_of(const uint8_t* bytes, size_t size) {
  if (size >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B) return Packing::Gzip;
  // A local header first, or the end record of an empty archive.
  const bool zip = size >= 4 && bytes[0] == 'P' && bytes[1] == 'K' &&
                   ((bytes[2] == 3 && bytes[3] == 4) || (bytes[2] == 5 && bytes[3] == 6));
  return zip ? Packing::Zip : Packing::Plain;
}

// Pieces of the packed bytes: from a file, or a memory block.
struct RawInput {
  int fd;                 // -1 for memory
  const uint8_t* memory;  // memory only
  uint64_t size;
  uint64_t done;
  uint8_t* buffer;  // piece_size, for a file
};

// The next piece; size 0 at the end. False on a read error.
bool next_raw_piece(RawInput& input, const uint8_t*& bytes, size_t& size, DatError& error) {
  size = input.size - input.done < piece_size ? static_cast<size_t>(input.size - input.done) : piece_size;
  if (input.fd < 0) {
    bytes = input.memory + input.done;
  } else if (read_exactly(input.fd, input.done, input.buffer, size)) {
    bytes = input.buffer;
  } else {
    set_dat_error(error, 0, "read error");
    return false;
  }
  input.done += size;
  return true;
}

bool pump_plain(RawInput& input, const uint8_t* first, size_t first_size, const DatSink& sink, DatError& error) {
  const uint8_t* bytes = first;
  size_t size = first_size;
  while (size != 0) {
    if (!sink.take(sink.context, bytes, size, false)) return false;
    if (!next_raw_piece(input, bytes, size, error)) return false;
  }
  return sink.take(sink.context, bytes, 0, true);
}

struct ZStreamOwner {
  z_stream stream{};
  bool ready = false;
  ~ZStreamOwner() {
    if (ready) inflateEnd(&stream);
  }
};

// Inflates one input piece; false on damage or when the sink stops.
bool inflate_piece(z_stream& stream, uint8_t* out, const DatSink& sink, DatError& error, bool& member_ended) {
  while (stream.avail_in != 0) {
    if (member_ended) {
      // Another member follows the one that ended.
      if (inflateReset(&stream) != Z_OK) return false;
      member_ended = false;
    }
    stream.next_out = out;
    stream.avail_out = piece_size;
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      set_dat_error(error, 0, "damaged gzip data");
      return false;
    }
    const size_t made = piece_size - stream.avail_out;
    if (made != 0 && !sink.take(sink.context, out, made, false)) return false;
    if (status == Z_STREAM_END) member_ended = true;
    if (status == Z_BUF_ERROR && made == 0) break;
  }
  return true;
}

bool pump_gzip(RawInput& input, const uint8_t* first, size_t first_size, const DatSink& sink, DatError& error) {
  std::unique_ptr<uint8_t, decltype(&std::free)> out(static_cast<uint8_t*>(std::malloc(piece_size)), std::free);
  ZStreamOwner owner;
  if (out == nullptr || inflateInit2(&owner.stream, 15 + 16) != Z_OK) {
    set_dat_error(error, 0, "out of memory");
    return false;
  }
  owner.ready = true;
  bool member_ended = false;
  const uint8_t* bytes = first;
  size_t size = first_size;
  while (size != 0) {
    owner.stream.next_in = const_cast<uint8_t*>(bytes);
    owner.stream.avail_in = static_cast<uInt>(size);
    if (!inflate_piece(owner.stream, out.get(), sink, error, member_ended)) return false;
    if (!next_raw_piece(input, bytes, size, error)) return false;
  }
  if (!member_ended) {
    set_dat_error(error, 0, "gzip data cut short");
    return false;
  }
  return sink.take(sink.context, bytes, 0, true);
}

bool has_dat_suffix(const char* name, uint32_t name_size) {
  if (name_size < 4 || std::strlen(name) != name_size) return false;
  const char* suffix = name + name_size - 4;
  return strcasecmp(suffix, ".dat") == 0 || strcasecmp(suffix, ".xml") == 0;
}

struct ZipSinkContext {
  const DatSink* sink;
};

bool pass_to_sink(void* context, const uint8_t* bytes, size_t size) {
  const DatSink& sink = *static_cast<ZipSinkContext*>(context)->sink;
  return sink.take(sink.context, bytes, size, false);
}

struct ZipArchiveOwner {
  ZipArchive archive{};
  ZipScratch scratch{};
  ~ZipArchiveOwner() {
    zip_free_scratch(scratch);
    zip_close(archive.reader);
  }
};

bool pump_zip_archive(ZipArchiveOwner& owner, const DatSink& sink, DatError& error) {
  const ZipReader& reader = owner.archive.reader;
  const uint32_t count = zip_entry_count(reader);
  for (uint32_t index = 0; index < count; ++index) {
    ZipEntryStat stat{};
    if (!zip_stat_entry(reader, index, stat) || zip_entry_is_directory(reader, index)) continue;
    if (!has_dat_suffix(stat.name, stat.name_size)) continue;
    ZipExtraction extraction{};
    ZipSinkContext context{&sink};
    const ZipOutput output{nullptr, &context, pass_to_sink};
    if (!zip_prepare_extraction(reader, index, extraction) ||
        !zip_unpack_entry(reader, extraction, owner.scratch, output)) {
      set_dat_error(error, 0, "zip entry %.100s cannot be read", stat.name);
      return false;
    }
    return sink.take(sink.context, nullptr, 0, true);
  }
  set_dat_error(error, 0, "no entry named *.dat or *.xml in the zip archive");
  return false;
}

// Pumps a plain or gzipped DAT through; a zip is told by `is_zip` and left
// to the caller, who opens the archive from where the bytes are.
bool pump_unless_zip(RawInput& input, const DatSink& sink, DatError& error, bool& is_zip) {
  const uint8_t* first = nullptr;
  size_t first_size = 0;
  if (!next_raw_piece(input, first, first_size, error)) return false;
  switch (packing_of(first, first_size)) {
    case Packing::Plain:
      return pump_plain(input, first, first_size, sink, error);
    case Packing::Gzip:
      return pump_gzip(input, first, first_size, sink, error);
    case Packing::Zip:
      break;
  }
  is_zip = true;
  return true;
}

struct FileOwner {
  OpenedFile file{-1, FileKind::Unsized, 0, 0, 0, 0, 0};
  ~FileOwner() {
    if (file.fd >= 0) close(file.fd);
  }
};

}  // namespace

bool pump_dat_file(const char* path, const DatSink& sink, DatError& error) {
  FileOwner owned;
  if (!open_and_size(AT_FDCWD, path, owned.file)) {
    set_dat_error(error, 0, "%s", std::strerror(errno));
    return false;
  }
  if (owned.file.kind != FileKind::Regular) {
    set_dat_error(error, 0, "not a regular file");
    return false;
  }
  std::unique_ptr<uint8_t, decltype(&std::free)> buffer(static_cast<uint8_t*>(std::malloc(piece_size)), std::free);
  if (buffer == nullptr) {
    set_dat_error(error, 0, "out of memory");
    return false;
  }
  RawInput input{owned.file.fd, nullptr, owned.file.size, 0, buffer.get()};
  bool is_zip = false;
  const bool pumped = pump_unless_zip(input, sink, error, is_zip);
  if (!is_zip) return pumped;
  ZipArchiveOwner owner;
  const OpenedFile file = owned.file;
  owned.file.fd = -1;  // the archive owns it now, also on failure
  if (!zip_open_opened_file(owner.archive, file)) {
    set_dat_error(error, 0, "damaged zip archive");
    return false;
  }
  return pump_zip_archive(owner, sink, error);
}

bool pump_dat_memory(const uint8_t* bytes, size_t size, const DatSink& sink, DatError& error) {
  RawInput input{-1, bytes, size, 0, nullptr};
  bool is_zip = false;
  const bool pumped = pump_unless_zip(input, sink, error, is_zip);
  if (!is_zip) return pumped;
  ZipArchiveOwner owner;
  if (!zip_open_memory(owner.archive, bytes, size)) {
    set_dat_error(error, 0, "damaged zip archive");
    return false;
  }
  return pump_zip_archive(owner, sink, error);
}
