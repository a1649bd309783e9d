// A temporary directory tree that a test builds and that removes itself.
#pragma once

#include <string>

struct TempDir {
  std::string path;  // absolute, no trailing slash

  TempDir();  // in the system's temporary directory ($TMPDIR or /tmp)
  explicit TempDir(const std::string& parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes `bytes` to path/relative, making missing parent directories.
  // Returns the full path.
  std::string write(const std::string& relative, const std::string& bytes) const;
  // Makes path/relative and its parents; returns the full path.
  std::string make_dir(const std::string& relative) const;
  std::string at(const std::string& relative) const { return path + "/" + relative; }
};

// The bytes of a file, or "" when it cannot be read.
std::string read_file(const std::string& path);
