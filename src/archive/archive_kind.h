// Which kind of archive a name says a file is: the one table of suffixes.
#pragma once

#include <cstddef>
#include <cstdint>

// Zip is read by our own reader; every other kind through libarchive.
enum class ArchiveKind : uint8_t {
  None,  // not an archive: an image
  Zip,
  SevenZip,
  Tar,
  TarGzip,
  TarBzip2,
  TarXz,
  TarZstd,
  Gzip,  // one image, named by the archive's name without ".gz"
  Rar,   // RAR 4 and RAR 5
};

// The kind the end of the whole name says, ignoring the case of ASCII
// letters and independent of the locale: "a.TAR.GZ" is TarGzip, "a.gz" is
// Gzip, "a.zip.bak" and "dir.7z/" are None.
ArchiveKind archive_kind_of(const char* name);

// The length of the archive suffix that ends name[0, name_length), or 0
// when it names no archive: the set name of "SET.tar.gz" is SET.
size_t archive_suffix_length(const char* name, size_t name_length);
