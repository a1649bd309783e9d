// Opening a reader over its byte source, and closing it.
#include "zip/zip_reader.h"

#include <cstdlib>
#include <cstring>

#include "zip/zip_central_directory.h"
#include "zip/zip_end_records.h"
#include "zip/zip_reader_open.h"
#include "zip/zip_source.h"

bool zip_reader_read_directory(ZipReader& reader) {
  ZipDirectoryPlace place{};
  return locate_central_directory(reader, place) && read_central_directory(reader, place) &&
         index_local_headers(reader);
}

void zip_close(ZipReader& reader) {
  zip_source_close(reader);
  std::free(reader.central_directory_copy);
  std::free(reader.entries);
  std::free(reader.names);
  std::free(reader.local_headers);
  std::memset(&reader, 0, sizeof reader);
}
