// The two destinations of a walk's findings.
#include "walk/walk_sink.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "catalogue/rom_entry.h"
#include "walk/image_jobs.h"
#include "walk/image_reading.h"
#include "walk/messages.h"

namespace {

void add_result(WalkResults& results, WalkResultKind kind, const char* text, uint64_t text_size,
                const ImageSummary& summary) {
  WalkResult result{kind, std::unique_ptr<char[]>(new char[text_size + 1]), text_size, summary};
  std::memcpy(result.text.get(), text, text_size);
  result.text[text_size] = '\0';
  results.push_back(std::move(result));
}

}  // namespace

void sink_message(WalkSink sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) {
    va_end(args);
    return;
  }
  std::unique_ptr<char[]> text(new char[static_cast<size_t>(length) + 1]);
  std::vsnprintf(text.get(), static_cast<size_t>(length) + 1, format, args);
  va_end(args);
  if (sink.results == nullptr) {
    submit_message(text.get(), static_cast<uint64_t>(length));
    return;
  }
  add_result(*sink.results, WalkResultKind::Message, text.get(), static_cast<uint64_t>(length), ImageSummary{});
}

void sink_comment_line(WalkSink sink, const char* display_name, const char* comment) {
  // Printed raw, up to the comment's first NUL.
  const size_t name_size = std::strlen(display_name);
  const size_t comment_size = std::strlen(comment);
  const size_t line_size = name_size + 2 + comment_size + 1;
  std::unique_ptr<char[]> line(new char[line_size + 1]);
  std::snprintf(line.get(), line_size + 1, "%s: %s\n", display_name, comment);
  if (sink.results == nullptr) {
    submit_comment_line(line.get(), line_size);
    return;
  }
  add_result(*sink.results, WalkResultKind::CommentLine, line.get(), line_size, ImageSummary{});
}

void sink_summarised_image(WalkSink sink, const char* name, const ImageSummary& summary) {
  if (sink.results == nullptr) {
    submit_summarised_image(name, summary);
    return;
  }
  add_result(*sink.results, WalkResultKind::Image, name, std::strlen(name), summary);
}

void sink_entry_image(WalkSink sink, const char* name, const std::shared_ptr<OpenArchive>& archive,
                      const ZipExtraction& extraction) {
  if (sink.results == nullptr) {
    submit_entry_image(name, archive, extraction);
    return;
  }
  ImageSummary summary{};
  if (!summarise_entry(archive->archive.reader, extraction, is_admitted_size(extraction.uncompressed_size), summary)) {
    sink_message(sink, "imgchk: uncompress of %s failed\n", name);
    return;
  }
  sink_summarised_image(sink, name, summary);
}
