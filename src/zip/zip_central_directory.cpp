// The central directory index built at open.
//
// Open checks only the structure (signatures and lengths) so that one damaged
// entry fails alone; each entry's own fields are read when it is stated.
#include "zip/zip_central_directory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "zip/zip_entry.h"
#include "zip/zip_format.h"
#include "zip/zip_source.h"

namespace {

// The name, extra field and comment that follow a central record's fixed part.
uint64_t central_record_variable_size(const uint8_t* record) {
  return uint64_t{load_u16(record + zip_field::central_name_size)} + load_u16(record + zip_field::central_extra_size) +
         load_u16(record + zip_field::central_comment_size);
}

// Counts the central records from the directory's start to the first bytes
// that are no record's signature; false when a record runs past the
// directory. The count, not the end records', says how many there are: a
// writer that counts in 16 bits wraps past 65,535 entries.
bool count_records(const ZipReader& reader, uint64_t& count) {
  const uint8_t* directory = reader.central_directory;
  const uint64_t directory_size = reader.central_directory_size;
  uint64_t position = 0;
  count = 0;
  while (is_range_inside(position, sizeof central_record_signature, directory_size) &&
         load_u32(directory + position) == central_record_signature) {
    if (!is_range_inside(position, central_record_size, directory_size)) return false;
    const uint8_t* record = directory + position;
    const uint64_t variable_size = central_record_variable_size(record);
    if (!is_range_inside(position + central_record_size, variable_size, directory_size)) return false;
    position += central_record_size + variable_size;
    ++count;
  }
  return true;
}

// Records each entry's place and its name's place in the names block, once
// count_records has checked them. `names_size` gets the size the names block needs.
void index_records(ZipReader& reader, uint64_t& names_size) {
  uint64_t position = 0;
  names_size = 0;
  for (uint32_t index = 0; index < reader.entry_count; ++index) {
    const uint8_t* record = reader.central_directory + position;
    reader.entries[index] = ZipIndexEntry{position, names_size};
    names_size += load_u16(record + zip_field::central_name_size) + 1;
    position += central_record_size + central_record_variable_size(record);
  }
}

void copy_names(ZipReader& reader) {
  for (uint32_t index = 0; index < reader.entry_count; ++index) {
    const ZipIndexEntry& entry = reader.entries[index];
    const uint8_t* record = reader.central_directory + entry.record_offset;
    const uint16_t name_size = load_u16(record + zip_field::central_name_size);
    char* name = reader.names + entry.name_offset;
    std::memcpy(name, record + central_record_size, name_size);
    name[name_size] = '\0';
  }
}

// Only a real local header bounds other entries' data: an offset that points
// at no header must not make the entry it points into fail.
bool has_local_header_at(const ZipReader& reader, uint64_t offset) {
  uint8_t signature[4];
  return zip_read_at(reader, offset, signature, sizeof signature) && load_u32(signature) == local_header_signature;
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

  uint64_t walked = 0;
  if (!count_records(reader, walked) || !directory_counts_agree(place, walked)) return false;
  reader.entry_count = static_cast<uint32_t>(walked);
  reader.offset_shift = place.offset_shift;
  if (reader.entry_count > 0) {
    reader.entries = static_cast<ZipIndexEntry*>(std::calloc(reader.entry_count, sizeof(ZipIndexEntry)));
    if (reader.entries == nullptr) return false;
  }
  uint64_t names_size = 0;
  index_records(reader, names_size);
  reader.names = static_cast<char*>(std::malloc(static_cast<size_t>(names_size) + 1));
  if (reader.names == nullptr) return false;
  copy_names(reader);
  return true;
}

bool index_local_headers(ZipReader& reader) {
  if (reader.entry_count == 0) return true;
  reader.local_headers = static_cast<ZipLocalHeaderRef*>(std::malloc(reader.entry_count * sizeof(ZipLocalHeaderRef)));
  if (reader.local_headers == nullptr) return false;
  uint32_t count = 0;
  for (uint32_t index = 0; index < reader.entry_count; ++index) {
    ZipEntryStat stat{};
    if (zip_stat_entry(reader, index, stat) && has_local_header_at(reader, stat.local_header_offset)) {
      reader.local_headers[count++] = {stat.local_header_offset, index};
    }
  }
  reader.local_header_count = count;
  std::sort(reader.local_headers, reader.local_headers + count, comes_before);
  return true;
}
