// One formatted message, one write: messages never interleave mid-line, and
// never share a row with the status line.
#include "walk/messages.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "report/progress.h"
#include "walk/image_jobs.h"

namespace {

__attribute__((format(printf, 1, 0))) std::vector<char> format_message(const char* format, va_list args) {
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return {};
  std::vector<char> text(static_cast<size_t>(length) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  text.pop_back();  // the NUL
  return text;
}

}  // namespace

void report_failure(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::vector<char> text = format_message(format, args);
  va_end(args);
  if (!text.empty()) submit_message(text.data(), text.size());
}

void write_failure(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::vector<char> text = format_message(format, args);
  va_end(args);
  if (!text.empty()) write_message(text.data(), text.size());
}

// The status line, if drawn, is erased first, so a message never shares its
// row.
void write_message(const char* text, uint64_t size) {
  progress_write_message(text, static_cast<size_t>(size));
}
