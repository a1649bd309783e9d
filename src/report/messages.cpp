// The one writer of "imgchk: " lines, and the text of every message.
#include "report/messages.h"

#include <unistd.h>

#include <cstdio>

#include "report/name_escaping.h"
#include "report/progress.h"

namespace {

// Before and after the name in each walk message; FileStat has the entry's
// index in front as well.
struct MessageText {
  const char* before_name;
  const char* after_name;
};

constexpr MessageText walk_message_texts[] = {
    {"error opening ", ""},               // ErrorOpening
    {"seek error on ", ""},               // SeekError
    {"read error on ", ""},               // ReadError
    {"directory loop at ", ""},           // DirectoryLoop
    {" of ", " failed"},                  // FileStat: "file stat N" goes first
    {"uncompress of ", " failed"},        // UncompressFailed
    {"nesting too deep at ", ""},         // NestingTooDeep
    {"expansion limit reached at ", ""},  // ExpansionLimit
};

constexpr const char* reason_words[] = {
    "missing",             // Missing
    "permission",          // Permission
    "not-an-archive",      // NotAnArchive
    "damaged-archive",     // DamagedArchive
    "bad-crc",             // BadCrc
    "damaged-data",        // DamagedData
    "encrypted",           // Encrypted
    "unsupported-method",  // UnsupportedMethod
    "too-deep",            // TooDeep
    "expansion-limit",     // ExpansionLimit
    "loop",                // Loop
    "not-a-regular-file",  // NotARegularFile
    "read-error",          // ReadError
    "out-of-memory",       // OutOfMemory
};
static_assert(sizeof reason_words / sizeof *reason_words == static_cast<size_t>(FailureReason::OutOfMemory) + 1);
static_assert(sizeof walk_message_texts / sizeof *walk_message_texts ==
              static_cast<size_t>(WalkMessage::ExpansionLimit) + 1);

constexpr const char* cache_problem_texts[] = {
    "cannot be opened",                        // CannotOpen
    "not a SQLite database",                   // NotADatabase
    "damaged",                                 // Damaged
    "written by a newer imgchk",               // NewerSchema
    "not an imgchk cache",                     // NotACache
    "disk full",                               // Full
    "read-only",                               // ReadOnly
    "busy in another run",                     // Busy
    "neither XDG_CACHE_HOME nor HOME is set",  // NoHome
    "a symbolic link",                         // SymbolicLink
};
static_assert(sizeof cache_problem_texts / sizeof *cache_problem_texts ==
              static_cast<size_t>(CacheProblem::SymbolicLink) + 1);

constexpr char message_prefix[] = "imgchk: ";

void write_line(const std::string& text) {
  const std::string line = message_prefix + text + "\n";
  progress_write_message(line.data(), line.size());
}

}  // namespace

std::string walk_failure_text(const WalkFailure& failure) {
  const MessageText& text = walk_message_texts[static_cast<size_t>(failure.message)];
  std::string out;
  if (failure.message == WalkMessage::FileStat) {
    // The index as a signed int, as it has always been written.
    char index[32];
    std::snprintf(index, sizeof index, "file stat %d", static_cast<int>(failure.entry_index));
    out = index;
  }
  out += text.before_name;
  append_escaped_name(out, failure.name, EscapedBytes::Controls);
  out += text.after_name;
  return out;
}

const char* failure_reason_word(FailureReason reason) {
  return reason_words[static_cast<size_t>(reason)];
}

void write_walk_failure(const WalkFailure& failure) {
  write_line(walk_failure_text(failure));
}

void write_cache_not_used(const char* cache_path, CacheProblem problem) {
  std::string text = "cache ";
  append_escaped_name(text, cache_path, EscapedBytes::Controls);
  write_line(text + " not used: " + cache_problem_texts[static_cast<size_t>(problem)]);
}

void write_changed_in_place(const char* name) {
  std::string text = "changed without a new modification time: ";
  append_escaped_name(text, name, EscapedBytes::Controls);
  write_line(text);
}

void write_unknown_argument(const char* argument) {
  std::string text = "unknown argument '";
  append_escaped_name(text, argument, EscapedBytes::Controls);
  write_line(text + "'");
}

void write_output_error() {
  write_line("write error on standard output");
}

void write_digest_unavailable() {
  write_line("SHA-256 is not available from OpenSSL");
}

void write_options_conflict(const char* option, const char* other_option) {
  write_line(std::string(option) + " cannot be used with " + other_option);
}

void write_option_needs(const char* option, const char* needed_option) {
  write_line(std::string(option) + " needs " + needed_option);
}

void write_unreadable_dat(const char* what, const char* path, uint64_t line, const char* reason) {
  std::string text = std::string("cannot read ") + what + " ";
  append_escaped_name(text, path, EscapedBytes::Controls);
  if (line != 0) text += ": line " + std::to_string(line);
  text += ": ";
  append_escaped_name(text, reason, EscapedBytes::Controls);
  write_line(text);
}

void write_detector_note(const char* dat_path, const char* rules_name) {
  std::string text = "DAT ";
  append_escaped_name(text, dat_path, EscapedBytes::Controls);
  text += " names header rules ";
  append_escaped_name(text, rules_name, EscapedBytes::Controls);
  write_line(text + "; the built-in rules apply (give them with --header)");
}

void write_unwritable_dat(const char* path) {
  std::string text = "cannot write DAT ";
  append_escaped_name(text, path, EscapedBytes::Controls);
  write_line(text);
}

void write_same_file(const char* option, const char* path, const char* other_option, const char* other_path) {
  std::string text = std::string(option) + " ";
  append_escaped_name(text, path, EscapedBytes::Controls);
  text += std::string(" is the same file as ") + other_option + " ";
  append_escaped_name(text, other_path, EscapedBytes::Controls);
  write_line(text);
}

void write_out_of_memory() {
  write_line("out of memory");
}

// Nothing is allocated and no lock taken: the thread that ran out may hold
// the status line's lock.
void write_out_of_memory_now() {
  constexpr char text[] = "out of memory\n";
  [[maybe_unused]] ssize_t written = write(STDERR_FILENO, message_prefix, sizeof message_prefix - 1);
  written = write(STDERR_FILENO, text, sizeof text - 1);
}
