// Why a DAT could not be read, and where.
#pragma once

#include <cstdint>

struct DatError {
  uint64_t line;     // 1-based; 0 when no line applies (the file, a container)
  char reason[200];  // NUL-terminated, at most a short line
};

// Records the first failure only: later ones follow from it.
__attribute__((format(printf, 3, 4))) void set_dat_error(DatError& error, uint64_t line, const char* format, ...);

inline bool has_dat_error(const DatError& error) {
  return error.reason[0] != '\0';
}
