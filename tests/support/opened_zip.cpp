// Archives opened for a test.
#include "support/opened_zip.h"
#include "zip/zip_extract.h"

#include <gtest/gtest.h>

#include <utility>

OpenedZip::OpenedZip(std::string archive_bytes) : bytes(std::move(archive_bytes)) {
  is_open = zip_open_memory(archive, bytes.data(), bytes.size());
}

OpenedZip::~OpenedZip() {
  if (is_open) zip_close(archive.reader);
}

OpenedZipFile::OpenedZipFile(const std::string& path) {
  is_open = zip_open_file(archive, path.c_str());
}

OpenedZipFile::~OpenedZipFile() {
  if (is_open) zip_close(archive.reader);
}

std::optional<std::string> extract_entry(ZipArchive& archive, uint32_t index) {
  uint64_t size = 12345;
  uint8_t* block = zip_extract_entry(archive.reader, index, size);
  if (block == nullptr) {
    EXPECT_EQ(size, 0u) << "a failed extraction must give size 0";
    return std::nullopt;
  }
  std::string bytes(reinterpret_cast<const char*>(block), size);
  zip_free(block);
  return bytes;
}

std::string kept_comment(const ZipArchive& archive) {
  const size_t kept = archive.comment_size < max_kept_comment_size ? archive.comment_size : max_kept_comment_size;
  EXPECT_EQ(archive.comment[kept], '\0');
  return std::string(archive.comment, kept);
}
