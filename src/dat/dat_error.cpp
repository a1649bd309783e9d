// Recording the first failure of a DAT load.
#include "dat/dat_error.h"

#include <cstdarg>
#include <cstdio>

void set_dat_error(DatError& error, uint64_t line, const char* format, ...) {
  if (has_dat_error(error)) return;
  error.line = line;
  va_list args;
  va_start(args, format);
  std::vsnprintf(error.reason, sizeof error.reason, format, args);
  va_end(args);
  if (error.reason[0] == '\0') std::snprintf(error.reason, sizeof error.reason, "unreadable");
}
