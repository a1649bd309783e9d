// Shared records counted by reference, and display names made from them.
#include "base/provenance.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// A record and its NUL-terminated text in one block, through operator new
// so that a lack of memory goes where every other one goes.
template <typename Record>
Record* allocate_with_text(std::string_view text) {
  void* block = ::operator new(sizeof(Record) + text.size() + 1);
  auto* record = new (block) Record{};
  char* into = reinterpret_cast<char*>(record + 1);
  if (!text.empty()) std::memcpy(into, text.data(), text.size());
  into[text.size()] = '\0';
  return record;
}

template <typename Record>
void free_record(const Record* record) {
  record->~Record();
  ::operator delete(const_cast<Record*>(record));
}

std::string_view path_of(const Provenance& origin) {
  if (!origin.file) return {};
  return {origin.file->path(), origin.file->path_size};
}

std::string_view last_part(std::string_view name) {
  const size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// The pieces of a display name: the path, then each level's name; '?' goes
// between them.
void name_pieces(const Provenance& origin, std::vector<std::string_view>& pieces) {
  pieces.clear();
  pieces.push_back(path_of(origin));
  std::vector<const ChainLevel*> levels(static_cast<size_t>(chain_depth(origin)));
  chain_levels(origin, levels.data());
  // A gzip image's name comes from the piece above it, known by then.
  for (const ChainLevel* level : levels) pieces.push_back(level_name(*level, pieces.back()));
}

}  // namespace

void add_reference(const SourceFile* file) {
  const_cast<SourceFile*>(file)->references.fetch_add(1, std::memory_order_relaxed);
}

void drop_reference(const SourceFile* file) {
  if (const_cast<SourceFile*>(file)->references.fetch_sub(1, std::memory_order_acq_rel) == 1) free_record(file);
}

void add_reference(const ChainLevel* level) {
  const_cast<ChainLevel*>(level)->references.fetch_add(1, std::memory_order_relaxed);
}

// Iterative, so that a long chain is not released by deep recursion.
void drop_reference(const ChainLevel* level) {
  while (level != nullptr && const_cast<ChainLevel*>(level)->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    const ChainLevel* outer = level->outer;
    free_record(level);
    level = outer;
  }
}

SharedRecord<SourceFile> make_source_file(std::string_view path, bool identified, uint64_t device, uint64_t inode) {
  auto* file = allocate_with_text<SourceFile>(path);
  file->references.store(1, std::memory_order_relaxed);
  file->identified = identified;
  file->device = device;
  file->inode = inode;
  file->path_size = path.size();
  return SharedRecord<SourceFile>(file);
}

Provenance entry_of(const Provenance& archive, uint8_t archive_kind, uint32_t index, std::string_view name,
                    bool named_by_container) {
  auto* level = allocate_with_text<ChainLevel>(named_by_container ? std::string_view{} : name);
  level->references.store(1, std::memory_order_relaxed);
  level->index = index;
  level->archive_kind = archive_kind;
  level->named_by_container = named_by_container;
  level->name_size = named_by_container ? 0 : name.size();
  level->outer = archive.entry.get();
  if (level->outer != nullptr) add_reference(level->outer);
  return Provenance{archive.file, SharedRecord<ChainLevel>(level)};
}

Provenance provenance_of_name(std::string_view name) {
  return Provenance{make_source_file(name, false, 0, 0), {}};
}

int chain_depth(const Provenance& origin) {
  int depth = 0;
  for (const ChainLevel* level = origin.entry.get(); level != nullptr; level = level->outer) ++depth;
  return depth;
}

void chain_levels(const Provenance& origin, const ChainLevel** levels) {
  int k = chain_depth(origin);
  for (const ChainLevel* level = origin.entry.get(); level != nullptr; level = level->outer) levels[--k] = level;
}

std::string_view level_name(const ChainLevel& level, std::string_view container) {
  if (!level.named_by_container) return {level.name(), level.name_size};
  const std::string_view base = last_part(container);
  constexpr size_t suffix_size = 3;  // ".gz"
  return base.substr(0, base.size() >= suffix_size ? base.size() - suffix_size : 0);
}

void append_display_name(std::string& out, const Provenance& origin) {
  std::vector<std::string_view> pieces;
  name_pieces(origin, pieces);
  for (size_t k = 0; k < pieces.size(); ++k) {
    if (k != 0) out += '?';
    out += pieces[k];
  }
}

std::string display_name(const Provenance& origin) {
  std::string name;
  append_display_name(name, origin);
  return name;
}

int compare_display_names(const Provenance& a, const Provenance& b) {
  std::vector<std::string_view> left;
  std::vector<std::string_view> right;
  name_pieces(a, left);
  name_pieces(b, right);
  // Byte by byte over the pieces and the '?' between them, as strcmp would
  // over the joined names.
  size_t li = 0;
  size_t ri = 0;
  size_t lpos = 0;
  size_t rpos = 0;
  for (;;) {
    int lc = -1;
    int rc = -1;
    if (li < left.size()) lc = lpos < left[li].size() ? static_cast<unsigned char>(left[li][lpos]) : '?';
    if (ri < right.size()) rc = rpos < right[ri].size() ? static_cast<unsigned char>(right[ri][rpos]) : '?';
    // The end of the last piece is the end of the name.
    if (li < left.size() && lpos == left[li].size() && li + 1 == left.size()) lc = -1;
    if (ri < right.size() && rpos == right[ri].size() && ri + 1 == right.size()) rc = -1;
    if (lc != rc) return lc < rc ? -1 : 1;
    if (lc == -1) return 0;
    if (lpos == left[li].size()) {
      ++li;
      lpos = 0;
    } else {
      ++lpos;
    }
    if (rpos == right[ri].size()) {
      ++ri;
      rpos = 0;
    } else {
      ++rpos;
    }
  }
}

bool same_place(const Provenance& a, const Provenance& b) {
  return a.file.get() == b.file.get() && a.entry.get() == b.entry.get();
}
