// One formatted message, one write: messages never interleave mid-line, and
// never share a row with the status line.
#include "walk/messages.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "report/progress.h"

void report_failure(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length > 0) {
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    progress_write_message(text.data(), static_cast<size_t>(length));
  }
  va_end(args);
}
