// Text lines name the file as the audit writes names; a set not written
// says why on standard error, where every failure goes, and counts.
#include "report/rebuild_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "report/json_text.h"
#include "report/name_escaping.h"
#include "report/progress.h"

namespace {

constexpr const char* reason_words[] = {
    "",                   // None
    "foreign-images",     // ForeignImages
    "source-changed",     // SourceChanged
    "source-unreadable",  // SourceUnreadable
    "write-failed",       // WriteFailed
    "read-back-failed",   // ReadBackFailed
    "backup-failed",      // BackupFailed
    "unsafe-name",        // UnsafeName
    "clashing-names",     // ClashingNames
    "same-file",          // SameFile
    "out-of-memory",      // OutOfMemory
};
static_assert(sizeof reason_words / sizeof *reason_words == static_cast<size_t>(NotWrittenReason::OutOfMemory) + 1);

constexpr const char* action_words[] = {"wrote", "kept", "would-write", "not-written"};

void write_message(const std::string& text) {
  const std::string line = "imgchk: " + text + "\n";
  progress_write_message(line.data(), line.size());
}

std::string escaped(const std::string& name) {
  std::string out;
  append_escaped_name(out, name.c_str(), EscapedBytes::Controls);
  return out;
}

void write_not_written_message(const RebuildLine& line) {
  const std::string file = escaped(line.file);
  switch (line.reason) {
    case NotWrittenReason::ForeignImages:
      write_message("not replacing " + file + ": it holds images the set does not (give --backup DIR)");
      return;
    case NotWrittenReason::SourceChanged:
      write_message("not writing " + file + ": " + escaped(line.source) + " changed since it was read");
      return;
    case NotWrittenReason::SourceUnreadable:
      write_message("not writing " + file + ": " + escaped(line.source) + " cannot be read again");
      return;
    case NotWrittenReason::WriteFailed:
      write_message("cannot write " + file + ": " + std::strerror(line.error_number));
      return;
    case NotWrittenReason::ReadBackFailed:
      write_message("cannot write " + file + ": it does not read back as written");
      return;
    case NotWrittenReason::BackupFailed:
      write_message("cannot move " + file + " to the backup folder: " + std::strerror(line.error_number));
      return;
    case NotWrittenReason::UnsafeName:
      write_message("not writing " + file + ": a name in the set cannot be a file name");
      return;
    case NotWrittenReason::ClashingNames:
      write_message("not writing " + file + ": two ROMs of the set have one name");
      return;
    case NotWrittenReason::SameFile:
      write_message("not writing " + file + ": an earlier set of the DATs has its name");
      return;
    case NotWrittenReason::OutOfMemory:
      write_message("not writing " + file + ": out of memory");
      return;
    case NotWrittenReason::None:
      return;
  }
}

void print_text_line(const RebuildLine& line) {
  switch (line.action) {
    case RebuildAction::Wrote:
      std::fputs("wrote ", stdout);
      break;
    case RebuildAction::Kept:
      std::fputs("kept ", stdout);
      print_escaped_name(line.file.c_str(), EscapedBytes::ControlsAndHigh);
      std::putchar('\n');
      return;
    case RebuildAction::WouldWrite:
      std::fputs("would write ", stdout);
      break;
    case RebuildAction::NotWritten:
      return;
  }
  print_escaped_name(line.file.c_str(), EscapedBytes::ControlsAndHigh);
  std::printf(" (%" PRIu32 " of %" PRIu32 ")\n", line.have, line.roms);
}

void print_json_line(const RebuildLine& line) {
  std::string text = "{\"type\":\"rebuild\",";
  append_json_name(text, "set", line.set_name);
  text += ',';
  append_json_name(text, "file", line.file.c_str());
  text += ",\"action\":\"";
  text += action_words[static_cast<size_t>(line.action)];
  text += '"';
  append_json_number(text, "have", line.have);
  append_json_number(text, "roms", line.roms);
  if (line.action == RebuildAction::NotWritten) {
    text += ",\"reason\":\"";
    text += reason_words[static_cast<size_t>(line.reason)];
    text += '"';
  }
  text += '}';
  write_json_line(text);
}

}  // namespace

void report_rebuild_line(const RebuildLine& line, bool json, RebuildCounts& counts) {
  switch (line.action) {
    case RebuildAction::Wrote:
    case RebuildAction::WouldWrite:
      ++counts.written;
      break;
    case RebuildAction::Kept:
      ++counts.kept;
      break;
    case RebuildAction::NotWritten:
      ++counts.not_written;
      write_not_written_message(line);
      break;
  }
  if (json) {
    print_json_line(line);
  } else {
    print_text_line(line);
  }
}

void print_rebuild_summary(const RebuildCounts& counts, bool json) {
  if (json) {
    std::string text = "{\"type\":\"rebuild_summary\"";
    append_json_number(text, "written", counts.written);
    append_json_number(text, "kept", counts.kept);
    append_json_number(text, "not_written", counts.not_written);
    text += '}';
    write_json_line(text);
    return;
  }
  std::printf("rebuild: %" PRIu64 " written, %" PRIu64 " kept, %" PRIu64 " not written\n", counts.written, counts.kept,
              counts.not_written);
}

void write_rebuild_folder_error(const char* path, int error_number) {
  std::string text = "cannot use ";
  append_escaped_name(text, path, EscapedBytes::Controls);
  write_message(text + " as the output folder: " + std::strerror(error_number));
}
