// Where an image (or a failure) came from, as structure: the file the walk
// opened, and the entries of the archives nested in it down to the image.
// Every image of one file shares the file's record, and every image of one
// archive shares the archive's level, so a record costs a pointer pair and
// its own entry's name. Display names are made from it here, and only for
// output: nothing splits a display name to find the parts again.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The file as the walk opened it. Shared by every image found in it.
struct SourceFile {
  std::atomic<uint32_t> references;
  bool identified;  // device and inode were read from the opened file or its status
  uint64_t device;
  uint64_t inode;
  size_t path_size;
  // The path as given, any bytes, follows the record (NUL-terminated).
  const char* path() const { return reinterpret_cast<const char*>(this + 1); }
};

// One entry of an archive: the archive is the level above it, or the file
// itself at the first level. Shared by the levels and images below it.
struct ChainLevel {
  std::atomic<uint32_t> references;
  uint32_t index;        // the entry's index in its archive, from 0
  uint8_t archive_kind;  // the kind of the archive holding it (an ArchiveKind)
  // A gzip image stores no name: it is named after its archive, whose name
  // without ".gz" it takes wherever that name now stands.
  bool named_by_container;
  const ChainLevel* outer;  // null at the first level
  size_t name_size;
  // The stored name, any bytes, follows the record (NUL-terminated).
  const char* name() const { return reinterpret_cast<const char*>(this + 1); }
};

void add_reference(const SourceFile* file);
void drop_reference(const SourceFile* file);
void add_reference(const ChainLevel* level);
void drop_reference(const ChainLevel* level);

// A counted reference to a shared record; copies share it.
template <typename Record>
struct SharedRecord {
  const Record* record = nullptr;
  SharedRecord() = default;
  explicit SharedRecord(const Record* taken) : record(taken) {}  // takes over one reference
  SharedRecord(const SharedRecord& other) : record(other.record) {
    if (record != nullptr) add_reference(record);
  }
  SharedRecord(SharedRecord&& other) noexcept : record(other.record) { other.record = nullptr; }
  SharedRecord& operator=(SharedRecord other) noexcept {
    const Record* kept = record;
    record = other.record;
    other.record = kept;
    return *this;
  }
  ~SharedRecord() {
    if (record != nullptr) drop_reference(record);
  }
  const Record* get() const { return record; }
  const Record* operator->() const { return record; }
  const Record& operator*() const { return *record; }
  explicit operator bool() const { return record != nullptr; }
};

// An image's provenance: its file, and the innermost entry (none for a loose
// file, or for a failure of the file itself).
struct Provenance {
  SharedRecord<SourceFile> file;
  SharedRecord<ChainLevel> entry;
};

// A file record for `path`; `identified` tells whether device and inode
// are the opened file's.
SharedRecord<SourceFile> make_source_file(std::string_view path, bool identified, uint64_t device, uint64_t inode);

// The provenance of entry `index` named `name` of the archive of kind
// `archive_kind` at `archive` (its own provenance).
Provenance entry_of(const Provenance& archive, uint8_t archive_kind, uint32_t index, std::string_view name,
                    bool named_by_container = false);

// A provenance of nothing but a name (an image that no walk found: tests
// and tools).
Provenance provenance_of_name(std::string_view name);

// The number of entry levels: 0 for a loose file.
int chain_depth(const Provenance& origin);

// The levels from the outermost down, into `levels` (chain_depth of them).
void chain_levels(const Provenance& origin, const ChainLevel** levels);

// The display name of a level: the stored name, or for a gzip image its
// archive's (`container`, the name above it) last part without ".gz".
std::string_view level_name(const ChainLevel& level, std::string_view container);

// The display name: the path, then "?" and the name of each entry level.
std::string display_name(const Provenance& origin);
void append_display_name(std::string& out, const Provenance& origin);

// The order of display names (as strcmp orders them), without making them.
int compare_display_names(const Provenance& a, const Provenance& b);

// Whether two provenances name the same file record and the same levels.
bool same_place(const Provenance& a, const Provenance& b);
