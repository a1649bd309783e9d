// zlib reads each member's header, data and trailer, and checks the trailer's
// CRC-32 and length; between members this file decides what comes next: the
// end of the file, zero bytes to its end, or another member, which zlib then
// reads afresh. Input comes piece by piece from the source, so memory stays
// that of one inflater whatever the file's size.
#define ZLIB_CONST
#include "archive/gzip_members.h"

#include <zlib.h>

#include <climits>
#include <cstdlib>

namespace {

// 15 bits of window, and 16 for a gzip wrapper only (no zlib or raw stream).
constexpr int gzip_window_bits = 15 + 16;

// zlib counts its input and output in unsigned int.
constexpr uint64_t largest_zlib_count = UINT_MAX;

enum class Input : uint8_t { Ready, End, Unreadable };

// Gives zlib more input once it has taken all it had.
Input give_input(GzipMembers& gzip, ArchiveSource& source) {
  z_stream& stream = *gzip.inflater;
  if (stream.avail_in != 0) return Input::Ready;
  if (gzip.input_left == 0) {
    const uint8_t* bytes = nullptr;
    const int64_t got = archive_source_next(source, &bytes);
    if (got < 0) return Input::Unreadable;
    if (got == 0) return Input::End;
    gzip.input = bytes;
    gzip.input_left = static_cast<uint64_t>(got);
  }
  const uint64_t given = gzip.input_left < largest_zlib_count ? gzip.input_left : largest_zlib_count;
  stream.next_in = gzip.input;
  stream.avail_in = static_cast<unsigned>(given);
  gzip.input += given;
  gzip.input_left -= given;
  return Input::Ready;
}

bool fail(GzipMembers& gzip, ArchiveFailure& failure, ArchiveFailure reason) {
  gzip.failed = true;
  failure = reason;
  return false;
}

// After zero bytes past the last member, only zero bytes to the end.
bool read_zero_padding(GzipMembers& gzip, ArchiveSource& source, ArchiveFailure& failure) {
  z_stream& stream = *gzip.inflater;
  for (;;) {
    for (unsigned i = 0; i < stream.avail_in; ++i) {
      if (stream.next_in[i] != 0) return fail(gzip, failure, ArchiveFailure::DamagedData);
    }
    stream.avail_in = 0;
    const Input input = give_input(gzip, source);
    if (input == Input::Unreadable) return fail(gzip, failure, ArchiveFailure::DamagedData);
    if (input == Input::End) break;
  }
  gzip.ended = true;
  return true;
}

// What follows a member: nothing, zero padding, or the next member (any
// other byte is taken as one, and fails as zlib reads its header).
bool start_next_member(GzipMembers& gzip, ArchiveSource& source, ArchiveFailure& failure) {
  const Input input = give_input(gzip, source);
  if (input == Input::Unreadable) return fail(gzip, failure, ArchiveFailure::DamagedData);
  if (input == Input::End) {
    gzip.ended = true;
    return true;
  }
  if (gzip.inflater->next_in[0] == 0) return read_zero_padding(gzip, source, failure);
  if (inflateReset(gzip.inflater) != Z_OK) return fail(gzip, failure, ArchiveFailure::DamagedData);
  gzip.between_members = false;
  return true;
}

}  // namespace

bool gzip_open(GzipMembers& gzip, ArchiveSource& source, ArchiveFailure& failure) {
  gzip = GzipMembers{};
  source.offset = 0;
  gzip.inflater = static_cast<z_stream*>(std::calloc(1, sizeof(z_stream)));
  if (gzip.inflater == nullptr) {
    failure = ArchiveFailure::OutOfMemory;
    return false;
  }
  if (inflateInit2(gzip.inflater, gzip_window_bits) != Z_OK) {
    std::free(gzip.inflater);
    gzip = GzipMembers{};
    failure = ArchiveFailure::OutOfMemory;
    return false;
  }
  // Z_BLOCK stops zlib right after the header, before the first block;
  // the header takes no output.
  uint8_t no_output = 0;
  z_stream& stream = *gzip.inflater;
  for (;;) {
    const Input input = give_input(gzip, source);
    if (input != Input::Ready) {
      failure = ArchiveFailure::NotAnArchive;
      break;
    }
    stream.next_out = &no_output;
    stream.avail_out = 0;
    const int result = inflate(&stream, Z_BLOCK);
    if (result == Z_MEM_ERROR) {
      failure = ArchiveFailure::OutOfMemory;
      break;
    }
    if (result != Z_OK && result != Z_BUF_ERROR) {
      failure = ArchiveFailure::NotAnArchive;
      break;
    }
    constexpr int after_header = 128;  // zlib's mark: stopped before a block
    if ((stream.data_type & after_header) != 0) return true;
  }
  gzip_close(gzip);
  return false;
}

bool gzip_read(GzipMembers& gzip, ArchiveSource& source, uint8_t* buffer, size_t capacity, size_t& size,
               ArchiveFailure& failure) {
  size = 0;
  if (gzip.failed || gzip.inflater == nullptr) return fail(gzip, failure, ArchiveFailure::DamagedData);
  z_stream& stream = *gzip.inflater;
  while (!gzip.ended && capacity != 0) {
    if (gzip.between_members) {
      if (!start_next_member(gzip, source, failure)) return false;
      continue;
    }
    const Input input = give_input(gzip, source);
    if (input == Input::Unreadable) return fail(gzip, failure, ArchiveFailure::DamagedData);
    stream.next_out = buffer;
    stream.avail_out = static_cast<unsigned>(capacity < largest_zlib_count ? capacity : largest_zlib_count);
    const int result = inflate(&stream, Z_NO_FLUSH);
    size = static_cast<size_t>(stream.next_out - buffer);
    if (result == Z_STREAM_END) {
      gzip.between_members = true;  // zlib found the trailer right
    } else if (result == Z_MEM_ERROR) {
      return fail(gzip, failure, ArchiveFailure::OutOfMemory);
    } else if (result != Z_OK && !(result == Z_BUF_ERROR && input == Input::Ready)) {
      // Broken data, a trailer that does not match, or the end of the
      // file inside a member (no progress without more input).
      return fail(gzip, failure, ArchiveFailure::DamagedData);
    }
    if (size != 0) return true;
  }
  return true;
}

void gzip_close(GzipMembers& gzip) {
  if (gzip.inflater != nullptr) {
    inflateEnd(gzip.inflater);
    std::free(gzip.inflater);
  }
  gzip = GzipMembers{};
}
