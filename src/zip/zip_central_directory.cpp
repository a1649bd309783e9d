// The central directory index built at open.
//
// Open checks only the structure (signatures and lengths) so that one damaged
// entry fails alone; each entry's own fields are read when it is stated.
#include "zip/zip_central_directory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "zip/zip_format.h"
#include "zip/zip_source.h"

namespace {

// Records each entry's place and its name's place in the names block; false
// on a broken record. `names_size` gets the size the names block needs.
bool index_records(ZipReader& reader, uint64_t& names_size) {
  const uint8_t* directory = reader.central_directory;
  const uint64_t directory_size = reader.central_directory_size;
  uint64_t position = 0;
  names_size = 0;
  for (uint32_t index = 0; index < reader.entry_count; ++index) {
    if (!is_range_inside(position, central_record_size, directory_size)) return false;
    const uint8_t* record = directory + position;
    if (load_u32(record) != central_record_signature) return false;
    const uint64_t name_size = load_u16(record + 28);
    const uint64_t variable_size = name_size + load_u16(record + 30) + load_u16(record + 32);
    if (!is_range_inside(position + central_record_size, variable_size, directory_size)) return false;
    reader.entries[index] = ZipIndexEntry{position, names_size};
    names_size += name_size + 1;
    position += central_record_size + variable_size;
  }
  // A further record means the end record announced too few.
  return !(is_range_inside(position, 4, directory_size) &&
           load_u32(directory + position) == central_record_signature);
}

void copy_names(ZipReader& reader) {
  for (uint32_t index = 0; index < reader.entry_count; ++index) {
    const ZipIndexEntry& entry = reader.entries[index];
    const uint8_t* record = reader.central_directory + entry.record_offset;
    const uint16_t name_size = load_u16(record + 28);
    char* name = reader.names + entry.name_offset;
    std::memcpy(name, record + central_record_size, name_size);
    name[name_size] = '\0';
  }
}

bool comes_before(const ZipLocalHeaderRef& a, const ZipLocalHeaderRef& b) {
  return a.offset != b.offset ? a.offset < b.offset : a.index < b.index;
}

}  // namespace

bool read_central_directory(ZipReader& reader, const ZipDirectoryPlace& place) {
  reader.central_directory_offset = place.offset;
  reader.central_directory_size = place.size;
  reader.end_records_offset = place.end_records_offset;
  reader.end_record_offset = place.end_record_offset;

  MallocBlock copy;
  reader.central_directory = zip_view_at(reader, place.offset, place.size, copy);
  reader.central_directory_copy = copy.release();
  if (reader.central_directory == nullptr) return false;

  reader.entry_count = place.entry_count;
  if (place.entry_count > 0) {
    reader.entries = static_cast<ZipIndexEntry*>(std::calloc(place.entry_count, sizeof(ZipIndexEntry)));
    if (reader.entries == nullptr) return false;
  }
  uint64_t names_size = 0;
  if (!index_records(reader, names_size)) return false;
  reader.names = static_cast<char*>(std::malloc(static_cast<size_t>(names_size) + 1));
  if (reader.names == nullptr) return false;
  copy_names(reader);
  return true;
}

bool index_local_headers(ZipReader& reader) {
  if (reader.entry_count == 0) return true;
  reader.local_headers =
      static_cast<ZipLocalHeaderRef*>(std::malloc(reader.entry_count * sizeof(ZipLocalHeaderRef)));
  if (reader.local_headers == nullptr) return false;
  uint32_t count = 0;
  for (uint32_t index = 0; index < reader.entry_count; ++index) {
    ZipEntryStat stat{};
    if (zip_stat_entry(reader, index, stat)) reader.local_headers[count++] = {stat.local_header_offset, index};
  }
  reader.local_header_count = count;
  std::sort(reader.local_headers, reader.local_headers + count, comes_before);
  return true;
}
