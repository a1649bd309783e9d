// Archives opened for a test, closed when the test's scope ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "zip/zip_archive.h"

// An archive read in place from bytes that the record keeps alive. It stays
// where it is while open: neither copied nor moved.
struct OpenedZip {
  std::string bytes;
  ZipArchive archive{};
  bool is_open = false;

  explicit OpenedZip(std::string archive_bytes);
  ~OpenedZip();
  OpenedZip(const OpenedZip&) = delete;
  OpenedZip& operator=(const OpenedZip&) = delete;
};

// The same, opened from a file with zip_open_file.
struct OpenedZipFile {
  ZipArchive archive{};
  bool is_open = false;

  explicit OpenedZipFile(const std::string& path);
  ~OpenedZipFile();
  OpenedZipFile(const OpenedZipFile&) = delete;
  OpenedZipFile& operator=(const OpenedZipFile&) = delete;
};

// The bytes of an entry, or nothing when extraction fails (checking that a
// failure hands back size 0).
std::optional<std::string> extract_entry(ZipArchive& archive, uint32_t index);

// The comment as captured: the kept bytes, without the terminating NUL.
std::string kept_comment(const ZipArchive& archive);
