// Archive kinds by name suffix. The longer suffix wins: ".tar.gz" before
// ".gz". Matching the end of the name is matching the text from its last
// dot (or, for ".tar.gz", its last two dots), as ".zip" always was.
#include "archive/archive_kind.h"

#include <cstring>

namespace {

struct SuffixKind {
  const char* suffix;
  ArchiveKind kind;
};

// Longest first, so that the first match is the one meant.
constexpr SuffixKind suffix_table[] = {
    {".tar.bz2", ArchiveKind::TarBzip2}, {".tar.zst", ArchiveKind::TarZstd}, {".tar.gz", ArchiveKind::TarGzip},
    {".tar.xz", ArchiveKind::TarXz},     {".tbz2", ArchiveKind::TarBzip2},   {".zip", ArchiveKind::Zip},
    {".tar", ArchiveKind::Tar},          {".tgz", ArchiveKind::TarGzip},     {".txz", ArchiveKind::TarXz},
    {".rar", ArchiveKind::Rar},          {".7z", ArchiveKind::SevenZip},     {".gz", ArchiveKind::Gzip},
};

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ends_with_in_any_case(const char* name, size_t name_length, const char* suffix) {
  const size_t suffix_length = std::strlen(suffix);
  if (suffix_length > name_length) return false;
  const char* tail = name + (name_length - suffix_length);
  for (size_t i = 0; i < suffix_length; ++i) {
    if (ascii_lower(tail[i]) != suffix[i]) return false;
  }
  return true;
}

}  // namespace

namespace {

const SuffixKind* suffix_entry_of(const char* name, size_t name_length) {
  for (const SuffixKind& entry : suffix_table) {
    if (ends_with_in_any_case(name, name_length, entry.suffix)) return &entry;
  }
  return nullptr;
}

}  // namespace

ArchiveKind archive_kind_of(const char* name) {
  const SuffixKind* entry = suffix_entry_of(name, std::strlen(name));
  return entry != nullptr ? entry->kind : ArchiveKind::None;
}

size_t archive_suffix_length(const char* name, size_t name_length) {
  const SuffixKind* entry = suffix_entry_of(name, name_length);
  return entry != nullptr ? std::strlen(entry->suffix) : 0;
}
