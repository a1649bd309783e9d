// libarchive over our own source callbacks: pread on a descriptor, so that
// a broken handle can be replaced by a fresh one on the same file, or a
// block in memory read in place, for an archive inside an archive.
#include "archive/archive_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "archive/rar_end_block.h"

namespace {

// libarchive turns names into the characters of the thread's locale; in the
// "C" locale a 7z or RAR name beyond ASCII turns into nothing. Every call
// into it runs under the UTF-8 locale instead, on this thread only, so that
// names come out as UTF-8 (or, from tar, as the bytes stored), whatever
// the user's locale.
locale_t utf8_locale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
}

struct Utf8LocaleScope {
  locale_t previous = static_cast<locale_t>(nullptr);
  Utf8LocaleScope() {
    if (utf8_locale() != static_cast<locale_t>(nullptr)) previous = uselocale(utf8_locale());
  }
  ~Utf8LocaleScope() {
    if (previous != static_cast<locale_t>(nullptr)) uselocale(previous);
  }
  Utf8LocaleScope(const Utf8LocaleScope&) = delete;
  Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;
};

la_ssize_t read_source(archive*, void* client_data, const void** bytes) {
  const uint8_t* piece = nullptr;
  const int64_t got = archive_source_next(*static_cast<ArchiveSource*>(client_data), &piece);
  if (got < 0) return ARCHIVE_FATAL;
  *bytes = piece;
  return static_cast<la_ssize_t>(got);
}

// Never past the end: a short skip tells libarchive the archive is cut short.
la_int64_t skip_source(archive*, void* client_data, la_int64_t request) {
  ArchiveSource& source = *static_cast<ArchiveSource*>(client_data);
  const uint64_t left = source.offset < source.size ? source.size - source.offset : 0;
  if (request <= 0 || left == 0) return 0;
  const uint64_t skipped = static_cast<uint64_t>(request) < left ? static_cast<uint64_t>(request) : left;
  source.offset += skipped;
  return static_cast<la_int64_t>(skipped);
}

la_int64_t seek_source(archive*, void* client_data, la_int64_t offset, int whence) {
  ArchiveSource& source = *static_cast<ArchiveSource*>(client_data);
  int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<int64_t>(source.offset);
  if (whence == SEEK_END) base = static_cast<int64_t>(source.size);
  if (offset < -base || offset > INT64_MAX - base) return ARCHIVE_FATAL;
  source.offset = static_cast<uint64_t>(base + offset);
  return static_cast<la_int64_t>(source.offset);
}

bool is_tar_kind(ArchiveKind kind) {
  return kind == ArchiveKind::Tar || kind == ArchiveKind::TarGzip || kind == ArchiveKind::TarBzip2 ||
         kind == ArchiveKind::TarXz || kind == ArchiveKind::TarZstd;
}

// The compression filter the kind names, or ARCHIVE_FILTER_NONE.
int filter_of(ArchiveKind kind) {
  switch (kind) {
    case ArchiveKind::TarGzip:
      return ARCHIVE_FILTER_GZIP;
    case ArchiveKind::TarBzip2:
      return ARCHIVE_FILTER_BZIP2;
    case ArchiveKind::TarXz:
      return ARCHIVE_FILTER_XZ;
    case ArchiveKind::TarZstd:
      return ARCHIVE_FILTER_ZSTD;
    default:
      return ARCHIVE_FILTER_NONE;
  }
}

bool enable_filter(archive* handle, int filter) {
  switch (filter) {
    case ARCHIVE_FILTER_GZIP:
      return archive_read_support_filter_gzip(handle) == ARCHIVE_OK;
    case ARCHIVE_FILTER_BZIP2:
      return archive_read_support_filter_bzip2(handle) == ARCHIVE_OK;
    case ARCHIVE_FILTER_XZ:
      return archive_read_support_filter_xz(handle) == ARCHIVE_OK;
    case ARCHIVE_FILTER_ZSTD:
      return archive_read_support_filter_zstd(handle) == ARCHIVE_OK;
    default:
      return true;
  }
}

bool enable_format(archive* handle, ArchiveKind kind) {
  if (is_tar_kind(kind)) return archive_read_support_format_tar(handle) == ARCHIVE_OK;
  switch (kind) {
    case ArchiveKind::SevenZip:
      return archive_read_support_format_7zip(handle) == ARCHIVE_OK;
    case ArchiveKind::Rar:
      return archive_read_support_format_rar(handle) == ARCHIVE_OK &&
             archive_read_support_format_rar5(handle) == ARCHIVE_OK;
    default:
      return false;
  }
}

// libarchive's error codes do not tell damage from a method it lacks; its
// texts do, and they only choose the reason a failure is given.
ArchiveFailure failure_of(archive* handle, archive_entry* entry) {
  if (entry != nullptr && archive_entry_is_encrypted(entry)) return ArchiveFailure::Encrypted;
  if (archive_errno(handle) == ENOMEM) return ArchiveFailure::OutOfMemory;
  const char* text = archive_error_string(handle);
  if (text == nullptr) return ArchiveFailure::DamagedData;
  if (std::strstr(text, "ncrypt") != nullptr || std::strstr(text, "assphrase") != nullptr) {
    return ArchiveFailure::Encrypted;
  }
  if (std::strstr(text, "memory") != nullptr) return ArchiveFailure::OutOfMemory;
  if (std::strstr(text, "nsupported") != nullptr || std::strstr(text, "nknown") != nullptr) {
    return ArchiveFailure::Unsupported;
  }
  return ArchiveFailure::DamagedData;
}

// A header that cannot be read: the archive is damaged there, unless its
// names are encrypted or memory ran out.
ArchiveFailure header_failure_of(archive* handle) {
  const ArchiveFailure failure = failure_of(handle, nullptr);
  return failure == ArchiveFailure::DamagedData ? ArchiveFailure::DamagedArchive : failure;
}

// Header reads that leave the handle usable: OK, or a warning (a name that
// does not convert to the locale's characters, for instance).
bool header_was_read(int result) {
  return result == ARCHIVE_OK || result == ARCHIVE_WARN;
}

// libarchive ends a RAR silently where its bytes run out: one whose end
// block is missing was cut short there.
void mark_end(ArchiveReader& reader) {
  reader.entry = nullptr;
  reader.at_end = true;
  reader.cut_short = reader.kind == ArchiveKind::Rar && rar_is_cut_short(reader.source);
}

// A gzip file holds one image, whose header is the first member's.
bool start_gzip(ArchiveReader& reader) {
  if (!gzip_open(reader.gzip, reader.source, reader.failure)) return false;
  reader.headers_read = 1;
  reader.header_pending = true;
  reader.at_end = true;
  return true;
}

// A fresh handle on reader.source, from its first byte, with its first
// header read.
bool start_handle(ArchiveReader& reader) {
  reader.source.offset = 0;
  reader.headers_read = 0;
  reader.header_pending = false;
  reader.at_end = false;
  reader.cut_short = false;
  reader.broken = false;
  reader.entry = nullptr;
  if (reader.kind == ArchiveKind::Gzip) return start_gzip(reader);
  reader.handle = archive_read_new();
  if (reader.handle == nullptr) {
    reader.failure = ArchiveFailure::OutOfMemory;
    return false;
  }
  archive* const handle = reader.handle;
  const int filter = filter_of(reader.kind);
  if (!enable_format(handle, reader.kind) || !enable_filter(handle, filter) ||
      archive_read_set_callback_data(handle, &reader.source) != ARCHIVE_OK ||
      archive_read_set_read_callback(handle, read_source) != ARCHIVE_OK ||
      archive_read_set_skip_callback(handle, skip_source) != ARCHIVE_OK ||
      archive_read_set_seek_callback(handle, seek_source) != ARCHIVE_OK) {
    reader.failure = ArchiveFailure::OutOfMemory;
    return false;
  }
  if (archive_read_open1(handle) != ARCHIVE_OK) {
    reader.failure = archive_errno(handle) == ENOMEM ? ArchiveFailure::OutOfMemory : ArchiveFailure::NotAnArchive;
    return false;
  }
  // Without a filter libarchive reads anything as its own plain stream: a
  // ".tar.gz" that is no gzip must not pass as a tar.
  if (archive_filter_code(handle, 0) != filter) {
    reader.failure = ArchiveFailure::NotAnArchive;
    return false;
  }
  const int result = archive_read_next_header(handle, &reader.entry);
  if (result == ARCHIVE_EOF) {
    mark_end(reader);
    return true;
  }
  if (!header_was_read(result)) {
    reader.failure = header_failure_of(handle);
    return false;
  }
  reader.headers_read = 1;
  reader.header_pending = true;
  return true;
}

void close_handle(ArchiveReader& reader) {
  gzip_close(reader.gzip);
  if (reader.handle != nullptr) archive_read_free(reader.handle);
  reader.handle = nullptr;
  reader.entry = nullptr;
}

// "dir/x.bin.gz" and "a.zip?x.bin.GZ" hold the image "x.bin".
bool name_gzip_image(ArchiveReader& reader, const char* archive_name) {
  const char* base = archive_name;
  for (const char* p = archive_name; *p != '\0'; ++p) {
    if (*p == '/' || *p == '?') base = p + 1;
  }
  size_t length = std::strlen(base);
  const size_t suffix_length = 3;  // ".gz"
  length = length >= suffix_length ? length - suffix_length : 0;
  reader.gzip_image_name = static_cast<char*>(std::malloc(length + 1));
  if (reader.gzip_image_name == nullptr) return false;
  std::memcpy(reader.gzip_image_name, base, length);
  reader.gzip_image_name[length] = '\0';
  return true;
}

bool open_source(ArchiveReader& reader, ArchiveKind kind, const char* name) {
  reader.kind = kind;
  if (kind == ArchiveKind::Gzip && !name_gzip_image(reader, name)) {
    reader.failure = ArchiveFailure::OutOfMemory;
    archive_close(reader);
    return false;
  }
  if (!start_handle(reader)) {
    const ArchiveFailure failure = reader.failure;
    archive_close(reader);
    reader.failure = failure;
    return false;
  }
  return true;
}

// A null entry is a gzip file's one image.
bool is_image_entry(archive_entry* entry) {
  return entry == nullptr || (archive_entry_filetype(entry) == AE_IFREG && archive_entry_hardlink(entry) == nullptr);
}

// The header that was expected after the last one read fails, once.
ArchiveStep report_cut_short(ArchiveReader& reader) {
  reader.cut_short = false;
  reader.failure = ArchiveFailure::DamagedArchive;
  reader.broken = true;
  ++reader.headers_read;
  return ArchiveStep::Failed;
}

// The pending or next header, whatever it is.
ArchiveStep next_header(ArchiveReader& reader) {
  if (reader.header_pending) {
    reader.header_pending = false;
    return ArchiveStep::Entry;
  }
  if (reader.handle == nullptr) return ArchiveStep::End;
  if (reader.at_end) return reader.cut_short ? report_cut_short(reader) : ArchiveStep::End;
  if (reader.broken) return ArchiveStep::Failed;
  const int result = archive_read_next_header(reader.handle, &reader.entry);
  if (result == ARCHIVE_EOF) {
    mark_end(reader);
    return next_header(reader);
  }
  if (!header_was_read(result)) {
    reader.failure = header_failure_of(reader.handle);
    reader.broken = result == ARCHIVE_FATAL;
    ++reader.headers_read;  // the failed header keeps its index
    return ArchiveStep::Failed;
  }
  ++reader.headers_read;
  return ArchiveStep::Entry;
}

}  // namespace

bool archive_open_descriptor(ArchiveReader& reader, ArchiveKind kind, int fd, uint64_t size, const char* name) {
  const Utf8LocaleScope utf8;
  reader.source.fd = fd;
  reader.source.owns_fd = true;
  reader.source.size = size;
  reader.source.buffer = static_cast<uint8_t*>(std::malloc(archive_piece_size));
  if (reader.source.buffer == nullptr) {
    archive_close(reader);
    reader.failure = ArchiveFailure::OutOfMemory;
    return false;
  }
  return open_source(reader, kind, name);
}

bool archive_open_memory(ArchiveReader& reader, ArchiveKind kind, const void* block, uint64_t size, const char* name) {
  const Utf8LocaleScope utf8;
  reader.source.fd = -1;
  reader.source.memory = static_cast<const uint8_t*>(block);
  reader.source.size = size;
  return open_source(reader, kind, name);
}

ArchiveStep archive_next_entry(ArchiveReader& reader, ArchiveEntryInfo& info) {
  const Utf8LocaleScope utf8;
  for (;;) {
    const ArchiveStep step = next_header(reader);
    if (step != ArchiveStep::Entry) return step;
    if (!is_image_entry(reader.entry)) continue;
    info.index = reader.headers_read - 1;
    if (reader.kind == ArchiveKind::Gzip) {
      info.name = reader.gzip_image_name;
      info.size = 0;
      info.size_known = false;
      return ArchiveStep::Entry;
    }
    const char* name = archive_entry_pathname(reader.entry);
    info.name = name != nullptr ? name : "";
    const int64_t size = archive_entry_size(reader.entry);
    info.size_known = archive_entry_size_is_set(reader.entry) != 0 && size >= 0;
    info.size = info.size_known ? static_cast<uint64_t>(size) : 0;
    return ArchiveStep::Entry;
  }
}

bool archive_read_piece(ArchiveReader& reader, uint8_t* buffer, size_t capacity, size_t& size) {
  const Utf8LocaleScope utf8;
  size = 0;
  if (reader.kind == ArchiveKind::Gzip) {
    return gzip_read(reader.gzip, reader.source, buffer, capacity, size, reader.failure);
  }
  if (reader.handle == nullptr || reader.broken) return false;
  const la_ssize_t got = archive_read_data(reader.handle, buffer, capacity);
  if (got >= 0) {
    size = static_cast<size_t>(got);
    return true;
  }
  reader.failure = failure_of(reader.handle, reader.entry);
  reader.broken = got == ARCHIVE_FATAL;
  return false;
}

bool archive_reopen_after(ArchiveReader& reader, uint32_t index) {
  const Utf8LocaleScope utf8;
  close_handle(reader);
  if (!start_handle(reader)) {
    close_handle(reader);
    return false;
  }
  while (reader.headers_read <= index) {
    if (next_header(reader) != ArchiveStep::Entry) {
      close_handle(reader);
      return false;
    }
  }
  reader.header_pending = false;  // the header at `index` was read already
  return true;
}

void archive_close(ArchiveReader& reader) {
  const Utf8LocaleScope utf8;
  close_handle(reader);
  if (reader.source.owns_fd) close(reader.source.fd);
  std::free(reader.source.buffer);
  std::free(reader.gzip_image_name);
  reader = ArchiveReader{};
}
